#include "winformat/site.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "gtest/gtest.h"
#include "platform/host_name.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// Given a site with machine folders in various cases, names should find
// them by any spelling, with or without leading backslashes, and the empty
// name should find the host's own folder.
TEST(SiteTest, FindsMachineFoldersByAnySpelling) {
  fs::path site = fs::temp_directory_path() / "sentory-site-test";
  std::error_code error;
  fs::remove_all(site, error);
  fs::create_directories(site / "Server1");
  fs::create_directories(site / "server10");
  std::string host = HostName();
  ASSERT_FALSE(host.empty());
  fs::create_directories(site / host);
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
  ASSERT_EQ(SiteRoot(), site.string());

  const struct {
    const char* name;
    fs::path want;  // empty: no folder
  } kCases[] = {
      {"Server1", site / "Server1"},
      {"SERVER1", site / "Server1"},
      {"\\\\server1", site / "Server1"},
      {"Server10", site / "server10"},
      {"Server2", fs::path()},
      {"..", fs::path()},
      {"", site / host},
      {nullptr, site / host},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name == nullptr ? "(null)" : c.name);
    std::string found = MachineFolder(c.name);
    if (c.want.empty()) {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_TRUE(!found.empty() && fs::equivalent(found, c.want, error));
    }
  }
  fs::remove_all(site, error);
}

}  // namespace
}  // namespace sentory
