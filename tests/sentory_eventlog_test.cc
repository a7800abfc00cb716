// Runs the built sentory-eventlog in a site of its own, and has evtexport
// read what it writes.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "winformat/evt_file.h"
#include "platform/locked_file.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// The folder of the built programs: SENTORY_BUILD_DIR, or the folder of
// this test program.
fs::path BuildDir() {
  const char* dir = std::getenv("SENTORY_BUILD_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  std::error_code error;
  return fs::read_symlink("/proc/self/exe", error).parent_path();
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HaveEvtexport() {
  return std::system("command -v evtexport >/dev/null 2>&1") == 0;
}

class SentoryEventlogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = BuildDir() / "sentory-eventlog";
    if (!fs::exists(tool_)) {
      GTEST_SKIP() << tool_ << " is not built (set SENTORY_BUILD_DIR)";
    }
    dir_ = fs::temp_directory_path() /
           ("sentory-eventlog-test-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    site_ = dir_ / "site";
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  // Runs the tool with |args| (shell words); returns its exit status and
  // keeps its output in out_ and err_.
  int Tool(const std::string& args) {
    return Shell("SENTORY_ROOT='" + site_.string() + "' '" + tool_.string() +
                 "' " + args);
  }
  int Shell(const std::string& command) {
    std::string full = command + " >'" + (dir_ / "out").string() + "' 2>'" +
                       (dir_ / "err").string() + "'";
    int status = std::system(full.c_str());
    out_ = ReadText(dir_ / "out");
    err_ = ReadText(dir_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // evtexport reads |log| without complaint; returns its output.
  std::string Export(const fs::path& log) {
    EXPECT_EQ(Shell("evtexport -m items '" + log.string() + "'"), 0);
    EXPECT_EQ(err_, "");
    return out_;
  }
  // The numbers of the records evtexport finds in |log|.
  std::vector<std::uint32_t> ExportedNumbers(const fs::path& log) {
    std::vector<std::uint32_t> numbers;
    std::istringstream in(Export(log));
    const std::string kField = "Event number\t\t\t: ";
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, kField.size(), kField) == 0) {
        numbers.push_back(
            static_cast<std::uint32_t>(std::stoul(line.substr(kField.size()))));
      }
    }
    return numbers;
  }
  static std::vector<std::uint32_t> Range(std::uint32_t first,
                                          std::uint32_t last) {
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t n = first; n <= last; ++n) numbers.push_back(n);
    return numbers;
  }
  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos;
         at = text.find(what, at + 1)) {
      ++n;
    }
    return n;
  }

  fs::path tool_, dir_, site_;
  std::string out_, err_;
};

// Given events written with every option, we should list them back and
// evtexport should read them.
TEST_F(SentoryEventlogTest, WritesListsAndExports) {
  ASSERT_EQ(Tool("write '\\\\Server1' System --source Disk --id 11 --type "
                 "warning --time 1000 first 'second one'"),
            0)
      << err_;
  ASSERT_EQ(Tool("write server1 System --source Srv --id 0xC0000012 --type 17 "
                 "--computer OTHER --time 2000 --category 3 --data 00ff10"),
            0)
      << err_;
  ASSERT_EQ(Tool("write SERVER1 System --id 7 --source 'Service Control' "
                 "--type FAILURE --time 3000 -- --not-an-option"),
            0)
      << err_;
  ASSERT_EQ(Tool("list server1 SYSTEM"), 0) << err_;
  EXPECT_EQ(out_,
            "1\t1000\twarning\t11\tDisk\tServer1\tfirst|second one\n"
            "2\t2000\t17\t3221225490\tSrv\tOTHER\t\n"
            "3\t3000\tfailure\t7\tService Control\tSERVER1\t--not-an-option\n");
  if (!HaveEvtexport()) GTEST_SKIP() << "evtexport is not installed";
  fs::path log = site_ / "Server1" / "System.evt";
  std::string exported = Export(log);
  EXPECT_EQ(Count(exported, "Event number"), 3u);
  // A log that has not wrapped is whole in evtinfo's eyes too. (It calls
  // every wrapped log corrupted, real ones from Windows included.)
  EXPECT_EQ(Shell("evtinfo '" + log.string() + "'"), 0);
  EXPECT_EQ(out_.find("corrupted"), std::string::npos) << out_;
  EXPECT_NE(exported.find(": second one"), std::string::npos);
  EXPECT_NE(exported.find("Source name\t\t\t: Service Control"),
            std::string::npos);
}

// Given bad input, the tool should say what is wrong in one line, exit
// with status 2 and leave every file as it was.
TEST_F(SentoryEventlogTest, BadInputChangesNothing) {
  ASSERT_EQ(Tool("write M1 System --source S --id 1 --time 5"), 0);
  fs::path log = site_ / "M1" / "System.evt";
  std::string before = ReadText(log);
  const char* kBad[] = {
      "write M1 System --source S --id 1 --type bogus",
      "write M1 System --source S --id 4294967296",
      "write M1 System --source S --id 12x",
      "write M1 System --source S --id 0x",
      "write M1 System --source S",
      "write M1 System --id 1",
      "write M1 System --source S --id 1 --type 65536",
      "write M1 System --source S --id 1 --time",
      "write M1 System --source S --id 1 --data abc",
      "write M1 System --source S --id 1 --max-size 1000",
      "write M1 System --source S --id 1 --frobnicate 1",
      "write M1",
      "write",
      "erase M1 System",
      "list Nowhere System",
      "write M1 Sys --source S --id 1",
      "write M2 System --source S --id 1 --type bogus",
  };
  for (const char* args : kBad) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Tool(args), 2);
    EXPECT_EQ(Count(err_, "\n"), 1u) << err_;
    EXPECT_EQ(out_, "");
  }
  // An event larger than the largest log.
  EXPECT_EQ(Tool("write M2 System --source S --id 1 --max-size 65536 " +
                 std::string(40000, 'x')),
            2);
  EXPECT_EQ(Count(err_, "\n"), 1u) << err_;
  EXPECT_EQ(ReadText(log), before);
  EXPECT_FALSE(fs::exists(site_ / "M2"));
  // A site inside a file cannot be written.
  std::ofstream(dir_ / "file") << "x";
  site_ = dir_ / "file" / "site";
  EXPECT_EQ(Tool("write M1 System --source S --id 1"), 2);
  EXPECT_EQ(Count(err_, "\n"), 1u) << err_;
}

// Given logs caught while a writer holds them (dirty header, the newest
// record written, not yet finished), evtexport should read every record of
// each, whatever the sizes of the records and however often they wrapped.
TEST_F(SentoryEventlogTest, ExportReadsALogBeingWritten) {
  if (!HaveEvtexport()) GTEST_SKIP() << "evtexport is not installed";
  for (std::uint32_t text : {20u, 60u, 100u, 150u}) {
    SCOPED_TRACE(text);
    auto file = MakeMemoryFile("");
    const std::uint32_t kEvents = 420;
    for (std::uint32_t n = 1; n <= kEvents; ++n) {
      EvtWriter writer(file.get());
      ASSERT_TRUE(writer.Begin(kEvtMinMaxSize));
      EvtEvent event;
      event.source = "Writer";
      event.computer = "HOST";
      event.event_id = n;
      event.strings = {std::string(text + n % 7, 's')};
      ASSERT_TRUE(writer.Append(event));
      if (n < kEvents) {
        ASSERT_TRUE(writer.Finish());
      }
    }
    const std::string& bytes = MemoryFileBytes(*file);
    ASSERT_EQ(bytes[36] & kEvtFlagDirty, 1);
    fs::path log = dir_ / "Live.evt";
    std::ofstream(log, std::ios::binary) << bytes;
    EvtReader reader(MakeMemoryFile(bytes));
    ASSERT_TRUE(reader.Refresh());
    EXPECT_EQ(ExportedNumbers(log), Range(reader.oldest(), kEvents));
  }
}

// Given each command line that asks for help or names a log without a file,
// the tool should answer with the status, output and error text of its row.
TEST_F(SentoryEventlogTest, HelpVersionAndMessages) {
  ASSERT_EQ(Tool("write M1 System --source S --id 1"), 0);
  const struct {
    const char* args;
    int status;
    const char* out;  // the start of standard output
    const char* err;  // a piece of standard error
  } cases[] = {
      {"--help", 0, "Usage: sentory-eventlog write", ""},
      {"", 2, "", "Usage: sentory-eventlog write"},
      {"--version", 0, "sentory-eventlog 2.1.1\n", ""},
      {"--bogus", 2, "", "unknown option --bogus\n"},
      {"write M1 System --source S --id 1 --bogus", 2, "",
       "unknown option --bogus\n"},
      {"list M1 Sys", 2, "", "unknown log Sys"},
      {"list m1 APPLICATION", 0, "", "m1 has no Application log\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(Tool(c.args), c.status);
    EXPECT_EQ(out_.substr(0, std::string(c.out).size()), c.out);
    if (*c.out == '\0') {
      EXPECT_EQ(out_, "");
    }
    EXPECT_NE(err_.find(c.err), std::string::npos) << err_;
    if (*c.err == '\0') {
      EXPECT_EQ(err_, "");
    }
  }
  EXPECT_FALSE(fs::exists(site_ / "M1" / "Sys.evt"));
}

// Given the real wrapped System log, whose insertion strings hold CR and
// LF, list should print exactly one line per record, a CR LF as \x0D\x0A.
TEST_F(SentoryEventlogTest, ListsOneLinePerRecord) {
  // The shared test data lies beside the repository or a folder holding it.
  fs::path real;
  for (fs::path at = fs::path(__FILE__).parent_path(); at != at.parent_path();
       at = at.parent_path()) {
    fs::path file = at / "shared" / "testdata" / "evt" / "wrapped-SysEvent.Evt";
    if (fs::exists(file)) {
      real = file;
      break;
    }
  }
  if (real.empty()) GTEST_SKIP() << "no shared test data";
  fs::create_directories(site_ / "M1");
  fs::copy_file(real, site_ / "M1" / "System.evt");
  ASSERT_EQ(Tool("write M1 System --source S --id 1 --time 5 'a\\b' c"), 0);
  ASSERT_EQ(Tool("list M1 System"), 0) << err_;
  EXPECT_EQ(Count(out_, "\n"), 6064u);
  EXPECT_NE(out_.find("\\x0D\\x0A"), std::string::npos);
  EXPECT_NE(out_.find("\tS\tM1\ta\\\\b|c\n"), std::string::npos);
}

}  // namespace
}  // namespace sentory
