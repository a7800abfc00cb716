#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// Given a mapping of one file held open (as another Sentory loading its
// skip file holds it), a second file mapped meanwhile should give its own
// bytes, whether it is shorter or longer than the one held.
TEST(FileMappingWin32Test, MappingsOfTwoFilesStayApart) {
  fs::path dir = fs::temp_directory_path() / "sentory-file-mapping";
  fs::create_directories(dir);
  const std::string held = (dir / "held.txt").string();
  const std::string mapped = (dir / "mapped.txt").string();
  const std::string kLong(20000, 'L');
  const std::pair<std::string, std::string> cases[] = {{kLong, "17 Tape\r\n"},
                                                       {"1 a", kLong}};
  for (const auto& [held_bytes, mapped_bytes] : cases) {
    std::ofstream(held, std::ios::binary) << held_bytes;
    std::ofstream(mapped, std::ios::binary) << mapped_bytes;
    auto holder = MakeSystemFileMapper();
    FileMapper::Handle held_file = holder->OpenFile(held.c_str());
    ASSERT_NE(held_file, nullptr);
    FileMapper::Handle held_mapping = holder->CreateFileMapping(held_file);
    ASSERT_NE(held_mapping, nullptr);
    auto files = MakeSystemFileMapper();
    FileMapper::Handle file = files->OpenFile(mapped.c_str());
    ASSERT_NE(file, nullptr);
    FileMapper::Handle mapping = files->CreateFileMapping(file);
    ASSERT_NE(mapping, nullptr);
    std::size_t size = 0;
    const char* view = files->MapViewOfFile(mapping, &size);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, size), mapped_bytes) << held_bytes.size();
    files->UnmapViewOfFile(view);
    files->CloseHandle(mapping);
    files->CloseHandle(file);
    holder->CloseHandle(held_mapping);
    holder->CloseHandle(held_file);
  }
  std::error_code error;
  fs::remove_all(dir, error);
}

}  // namespace
}  // namespace sentory
