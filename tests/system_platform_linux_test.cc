// What the Linux platform does its own way.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/system_platform_test.h"

namespace reapit {

namespace fs = std::filesystem;

std::vector<ChangeCase> PlatformChanges() {
  return {
      {"PermissionsChanged",
       [](const fs::path& d) {
         fs::permissions(d / "file", fs::perms::owner_read);
       },
       WaitResult::kWoken},
      {"WatchedDirectoryRemoved", [](const fs::path& d) { fs::remove_all(d); },
       WaitResult::kWoken},
      {"WatchedDirectoryMovedAway",
       [](const fs::path& d) {
         fs::rename(d, d.string() + "-away");
         fs::rename(d.string() + "-away", d);
       },
       WaitResult::kWoken},
  };
}

std::string KnownMiss(const ChangeCase& /*change*/) { return ""; }

std::uint32_t TickStepMs() { return 0; }

namespace {

using LinuxPlatformTest = SystemPlatformTest;

TEST_F(LinuxPlatformTest, LinkedDirectoryBelowIsNotFollowed) {
  fs::create_directory_symlink(outside_, root_ / "link");
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  Touch(outside_ / "new");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
}

TEST_F(LinuxPlatformTest, LinkToTheWatchedDirectoryIsFollowed) {
  const fs::path link = temp_ / "link";
  fs::create_directory_symlink(root_, link);
  watch_ = os_->Arm(link.string());
  EXPECT_NE(watch_, kNoWatch);
  Touch(root_ / "sub" / "new");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kWoken);
}

TEST_F(LinuxPlatformTest, DeletesFilesAndLinksButNeverDirectoriesOrTargets) {
  fs::create_symlink(root_ / "file", root_ / "link");
  fs::create_directory_symlink(root_ / "sub", root_ / "dirlink");

  EXPECT_TRUE(os_->DeletePath(Path("link")));
  EXPECT_TRUE(os_->DeletePath(Path("dirlink")));
  EXPECT_FALSE(os_->DeletePath(Path("sub")));
  EXPECT_FALSE(os_->DeletePath(Path("sub") + "/"));
  EXPECT_FALSE(os_->DeletePath(Path("missing")));

  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "link")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "dirlink")));
  EXPECT_TRUE(fs::is_regular_file(root_ / "file"));
  EXPECT_TRUE(fs::is_directory(root_ / "sub" / "deeper"));

  EXPECT_TRUE(os_->DeletePath(Path("file")));
  EXPECT_FALSE(fs::exists(root_ / "file"));
}

}  // namespace
}  // namespace reapit
