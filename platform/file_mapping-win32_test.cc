#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// Maps |path| whole through |files|: its bytes, or "<failed>".
std::string MapWhole(FileMapper& files, const std::string& path) {
  FileMapper::Handle file = files.OpenFile(path.c_str());
  if (file == nullptr) return "<failed>";
  FileMapper::Handle mapping = files.CreateFileMapping(file);
  std::string text = "<failed>";
  if (mapping != nullptr) {
    std::size_t size = 0;
    if (const char* view = files.MapViewOfFile(mapping, &size)) {
      text.assign(view, size);
      files.UnmapViewOfFile(view);
    }
    files.CloseHandle(mapping);
  }
  files.CloseHandle(file);
  return text;
}

// Given a mapping of one file held open (as another Sentory loading its
// skip file holds it), a second file mapped meanwhile should give its own
// bytes, whether it is shorter or longer than the one held.
TEST(FileMappingWin32Test, MappingsOfTwoFilesStayApart) {
  fs::path dir = fs::temp_directory_path() / "sentory-file-mapping";
  fs::create_directories(dir);
  const std::string kLong = std::string(20000, 'L');
  const struct {
    std::string held, mapped;
  } cases[] = {{kLong, "17 Tape\r\n"}, {"1 a", kLong}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.held.size());
    std::ofstream(dir / "held.txt", std::ios::binary) << c.held;
    std::ofstream(dir / "mapped.txt", std::ios::binary) << c.mapped;
    auto holder = MakeSystemFileMapper();
    FileMapper::Handle file =
        holder->OpenFile((dir / "held.txt").string().c_str());
    ASSERT_NE(file, nullptr);
    FileMapper::Handle mapping = holder->CreateFileMapping(file);
    ASSERT_NE(mapping, nullptr);
    auto files = MakeSystemFileMapper();
    EXPECT_EQ(MapWhole(*files, (dir / "mapped.txt").string()), c.mapped);
    holder->CloseHandle(mapping);
    holder->CloseHandle(file);
  }
  std::error_code error;
  fs::remove_all(dir, error);
}

}  // namespace
}  // namespace sentory
