// The portable message-table reader and formatter against the real
// FormatMessageA: a Windows program run under Wine formats every message of
// the test message files with every set of inserts, and the Linux side must
// give the same bytes.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "winformat/message_format.h"
#include "platform/message_module.h"
#include "winformat/message_table.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *bytes = content.str();
  return true;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// What the Linux side gives, in the peer's output form.
std::string LinuxResult(const std::string& image, std::uint32_t id,
                        const std::vector<std::string>& inserts) {
  std::vector<const char*> arguments;
  for (const std::string& s : inserts) arguments.push_back(s.c_str());
  std::string message, text;
  if (!FindMessage(image, id, 0, &message) ||
      !FormatMessageText(message, kFormatMessageFlags & kMaxWidthMask,
                         arguments.data(),
                         static_cast<std::uint32_t>(arguments.size()), &text) ||
      text.empty()) {
    return "fail";
  }
  std::string hex = "ok ";
  char byte[3];
  for (unsigned char c : text) {
    std::snprintf(byte, sizeof byte, "%02x", c);
    hex += byte;
  }
  return hex;
}

class MessagePeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_ = MessageFilesFolder() + "/format_peer.exe";
    if (MessageFilesFolder().empty() || access(peer_.c_str(), R_OK) != 0) {
      GTEST_SKIP() << "the test message files were not built";
    }
    if (std::system("command -v wine >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "wine is not installed";
    }
    if (getenv("WINEPREFIX") == nullptr) {
      std::string prefix = MessageFilesFolder() + "/../wineprefix";
      setenv("WINEPREFIX", prefix.c_str(), 1);
    }
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    // Wine's services keep inherited streams open: start them with none.
    ASSERT_EQ(0, std::system("wine cmd /c exit 0 </dev/null >/dev/null 2>&1"));
    char folder[] = "/tmp/sentory-peer-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    work_ = folder;
  }

  void TearDown() override {
    if (!work_.empty()) {
      std::system(("rm -rf '" + work_ + "'").c_str());
    }
  }

  std::string peer_;
  std::string work_;
};

TEST_F(MessagePeerTest, EveryMessageAndInsertSetFormatsAsWindowsDoes) {
  const std::vector<std::uint32_t> ids = {
      1, 2,  3,  4,  5,  6,          7,          8,
      9, 10, 11, 12, 13, 0xC0070002, 0x8FFFFFFF, 0x1234};
  std::vector<std::string> many;
  for (int i = 1; i <= 99; ++i) many.push_back("x" + std::to_string(i));
  const std::vector<std::vector<std::string>> insert_sets = {
      {},
      {"one"},
      {"one", "two", "three"},
      {"a\r\nb", "tab\there", ""},
      {"Caf\xE9", "\x80\xFF\x81"},
      {"i1", "i2", "i3", "i4", "i5", "i6", "i7", "i8", "i9", "i10", "i11",
       "i12"},
      many,
  };
  std::string cases;
  std::vector<std::pair<std::uint32_t, const std::vector<std::string>*>> order;
  for (std::uint32_t id : ids) {
    for (const auto& inserts : insert_sets) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08X", id);
      cases += hex;
      for (const std::string& s : inserts) cases += "\t" + Escape(s);
      cases += "\n";
      order.emplace_back(id, &inserts);
    }
  }
  std::string cases_path = work_ + "/cases.txt";
  std::ofstream(cases_path, std::ios::binary) << cases;

  const char* files[] = {
      "rules64",          "rules32",         "rules_ansi64",
      "rules_ansi32",     "neutral_first64", "neutral_first32",
      "english_second64", "first_present64", "first_present32"};
  for (const char* file : files) {
    SCOPED_TRACE(file);
    std::string dll = MessageFilesFolder() + "/" + file + ".dll";
    std::string out = work_ + "/" + file + ".out";
    std::string command = "wine '" + peer_ + "' 'Z:" + dll +
                          "' 'Z:" + cases_path + "' 'Z:" + out +
                          "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    std::string image, results;
    ASSERT_TRUE(ReadFile(dll, &image));
    ASSERT_TRUE(ReadFile(out, &results));
    std::istringstream lines(results);
    std::string line;
    std::size_t ok = 0;
    for (const auto& [id, inserts] : order) {
      ASSERT_TRUE(std::getline(lines, line));
      std::string windows = line.substr(0, 2) == "ok" ? line : "fail";
      EXPECT_EQ(windows, LinuxResult(image, id, *inserts))
          << "message " << std::hex << id << " with " << std::dec
          << inserts->size() << " inserts";
      if (windows != "fail") ++ok;
    }
    EXPECT_GT(ok, 0u) << "no message formatted at all";
  }
}

}  // namespace
}  // namespace sentory
