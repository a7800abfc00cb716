// Runs the built sentory-eventlog in a site of its own, and has evtexport
// read what it writes.

#include "platform/locked_file.h"
#include "tests/child_process.h"
#include "winformat/evt_file.h"

namespace sentory {
namespace {

class SentoryEventlogTest : public SiteTest {
 protected:
  // evtexport reads |log| without complaint; returns its output.
  std::string Export(const std::string& log) {
    EXPECT_EQ(Run({"evtexport", "-m", "items", log}), 0);
    EXPECT_EQ(err_, "");
    return out_;
  }
  bool have_evtexport_ =
      std::system("command -v evtexport >/dev/null 2>&1") == 0;
};

// Events written with every option are listed back, a record a line, and
// evtexport reads them.
TEST_F(SentoryEventlogTest, WritesListsAndExports) {
  Write(
      "\\\\Server1 System --source Disk --id 11 --type warning --time 1000 "
      "first",
      {"second one", "cr\r\nlf\\"});
  Write(
      "server1 System --source Srv --id 0xC0000012 --type 17 --computer "
      "OTHER --time 2000 --category 3 --data 00ff10");
  Write("SERVER1 System --id 7 --type FAILURE --time 3000",
        {"--source", "Service Control", "--", "--not-an-option"});
  ASSERT_EQ(Tool("list server1 SYSTEM"), 0) << err_;
  EXPECT_EQ(out_,
            "1\t1000\twarning\t11\tDisk\tServer1\tfirst|second "
            "one|cr\\x0D\\x0Alf\\\\\n"
            "2\t2000\t17\t3221225490\tSrv\tOTHER\t\n"
            "3\t3000\tfailure\t7\tService Control\tSERVER1\t--not-an-option\n");
  if (!have_evtexport_) GTEST_SKIP() << "evtexport is not installed";
  const std::string log = At("Server1/System.evt"), exported = Export(log);
  EXPECT_EQ(CountOf(exported, "Event number"), 3);
  EXPECT_EQ(CountOf(exported, ": second one"), 1);
  EXPECT_EQ(CountOf(exported, "Source name\t\t\t: Service Control"), 1);
  // A log that has not wrapped is whole in evtinfo's eyes too. (It calls
  // every wrapped log corrupted, real ones from Windows included.)
  EXPECT_EQ(Run({"evtinfo", log}), 0);
  EXPECT_EQ(CountOf(out_, "corrupted"), 0) << out_;
}

// Each command line gets the status, output start and error piece of its
// row; bad input is told in one line and leaves every file as it was.
TEST_F(SentoryEventlogTest, CommandLines) {
  Write("M1 System --source S --id 1 --time 5");
  const std::string log = At("M1/System.evt"), before = ReadFileText(log);
  const struct {
    std::string args;
    int status;
    std::string out, err;
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
    EXPECT_EQ(out_.substr(0, c.out.size()), c.out);
    EXPECT_EQ(c.err.empty() ? err_ : "", "");
    EXPECT_NE(err_.find(c.err), std::string::npos) << err_;
  }
  for (const std::string& args :
       Words{"write M1 System --source S --id 1 --type bogus",
             "write M1 System --source S --id 4294967296",
             "write M1 System --source S --id 12x",
             "write M1 System --source S --id 0x", "write M1 System --source S",
             "write M1 System --id 1",
             "write M1 System --source S --id 1 --type 65536",
             "write M1 System --source S --id 1 --time",
             "write M1 System --source S --id 1 --data abc",
             "write M1 System --source S --id 1 --max-size 1000",
             "write M1 System --source S --id 1 --frobnicate 1", "write M1",
             "write", "erase M1 System", "list Nowhere System",
             "write M1 Sys --source S --id 1",
             "write M2 System --source S --id 1 --type bogus",
             // An event larger than the largest log.
             "write M2 System --source S --id 1 --max-size 65536 " +
                 std::string(40000, 'x')}) {
    SCOPED_TRACE(args.substr(0, 60));
    EXPECT_EQ(Tool(args), 2);
    EXPECT_EQ(CountOf(err_, "\n"), 1) << err_;
    EXPECT_EQ(out_, "");
  }
  std::ofstream(At("file")) << "x";  // a site inside a file
  env_[0] = "SENTORY_ROOT=" + At("file/site");
  EXPECT_EQ(Tool("write M1 System --source S --id 1"), 2);
  EXPECT_EQ(CountOf(err_, "\n"), 1) << err_;
  EXPECT_EQ(ReadFileText(log), before);
  EXPECT_FALSE(fs::exists(At("M2")));
  EXPECT_FALSE(fs::exists(At("M1/Sys.evt")));
}

// evtexport reads every record of logs caught while a writer holds them
// (dirty header, the newest record not finished), however they wrapped.
TEST_F(SentoryEventlogTest, ExportReadsALogBeingWritten) {
  if (!have_evtexport_) GTEST_SKIP() << "evtexport is not installed";
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
      ASSERT_TRUE(n == kEvents || writer.Finish());
    }
    const std::string& bytes = MemoryFileBytes(*file);
    ASSERT_EQ(bytes[36] & kEvtFlagDirty, 1);
    std::ofstream(At("Live.evt"), std::ios::binary) << bytes;
    EvtReader reader(MakeMemoryFile(bytes));
    ASSERT_TRUE(reader.Refresh());
    std::string expected, numbers;
    for (std::uint32_t n = reader.oldest(); n <= kEvents; ++n) {
      expected += "Event number\t\t\t: " + std::to_string(n) + "\n";
    }
    std::istringstream in(Export(At("Live.evt")));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("Event number\t", 0) == 0) numbers += line + "\n";
    }
    EXPECT_EQ(numbers, expected);
  }
}

}  // namespace
}  // namespace sentory
