#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "engine/system_platform.h"
#include "tests/linux_platform_fixture.h"

namespace reapit {
namespace {

struct ChangeCase {
  const char* name;
  std::function<void(const fs::path&)> change;
  WaitResult expected;
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class LinuxWatchTest : public LinuxPlatformTest,
                       public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(LinuxWatchTest, WakesOnChangesOnly) {
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  GetParam().change(root_);
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), GetParam().expected);
}

void Chmod(const fs::path& path, fs::perms perms) {
  fs::permissions(path, perms);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LinuxWatchTest,
    ::testing::Values(
        ChangeCase{"Nothing", [](const fs::path&) {}, WaitResult::kTimedOut},
        ChangeCase{"FileRead",
                   [](const fs::path& d) {
                     std::string s;
                     std::ifstream(d / "file") >> s;
                     std::ifstream(d / "sub" / "deeper" / "file") >> s;
                   },
                   WaitResult::kTimedOut},
        ChangeCase{"FileCreated", [](const fs::path& d) { Touch(d / "new"); },
                   WaitResult::kWoken},
        ChangeCase{"FileDeleted",
                   [](const fs::path& d) { fs::remove(d / "file"); },
                   WaitResult::kWoken},
        ChangeCase{
            "FileRenamed",
            [](const fs::path& d) { fs::rename(d / "file", d / "moved"); },
            WaitResult::kWoken},
        ChangeCase{"FileWritten",
                   [](const fs::path& d) {
                     std::ofstream(d / "file", std::ios::app) << "more";
                   },
                   WaitResult::kWoken},
        ChangeCase{
            "PermissionsChanged",
            [](const fs::path& d) { Chmod(d / "file", fs::perms::owner_read); },
            WaitResult::kWoken},
        ChangeCase{
            "DirectoryMade",
            [](const fs::path& d) { fs::create_directory(d / "newdir"); },
            WaitResult::kWoken},
        ChangeCase{
            "FileCreatedTwoLevelsDown",
            [](const fs::path& d) { Touch(d / "sub" / "deeper" / "new"); },
            WaitResult::kWoken},
        ChangeCase{"FileWrittenTwoLevelsDown",
                   [](const fs::path& d) {
                     std::ofstream(d / "sub" / "deeper" / "file", std::ios::app)
                         << "more";
                   },
                   WaitResult::kWoken},
        ChangeCase{"WatchedDirectoryRemoved",
                   [](const fs::path& d) { fs::remove_all(d); },
                   WaitResult::kWoken},
        ChangeCase{"WatchedDirectoryMovedAway",
                   [](const fs::path& d) {
                     fs::rename(d, d.string() + "-away");
                     fs::rename(d.string() + "-away", d);
                   },
                   WaitResult::kWoken}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinuxPlatformTest, ChangesBeforeArmingDoNotWake) {
  Touch(root_ / "before");
  fs::remove(root_ / "file");
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
}

TEST_F(LinuxPlatformTest, LinkedDirectoryBelowIsNotFollowed) {
  fs::create_directory_symlink(outside_, root_ / "link");
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  Touch(outside_ / "new");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
}

TEST_F(LinuxPlatformTest, ArmingFailsWithoutADirectory) {
  for (const fs::path& path : {root_ / "missing", root_ / "file"})
    EXPECT_EQ(os_->Arm(path.string()), kNoWatch) << path;
}

TEST_F(LinuxPlatformTest, LinkToTheWatchedDirectoryIsFollowed) {
  const fs::path link = temp_ / "link";
  fs::create_directory_symlink(root_, link);
  watch_ = os_->Arm(link.string());
  EXPECT_NE(watch_, kNoWatch);
  Touch(root_ / "sub" / "new");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kWoken);
}

TEST_F(LinuxPlatformTest, QuietWaitLastsItsWholeTime) {
  watch_ = os_->Arm(root_.string());
  const Tick before = os_->Now();
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
  EXPECT_GE(Tick(os_->Now() - before), kQuietMs);
}

TEST_F(LinuxPlatformTest, ClosedWatchFailsTheWaitInsteadOfBlocking) {
  watch_ = os_->Arm(root_.string());
  os_->Close(watch_);
  const Watch closed = watch_;
  watch_ = kNoWatch;
  EXPECT_EQ(os_->Wait(closed, 60'000), WaitResult::kWoken);
}

TEST_F(LinuxPlatformTest, DeletesFilesAndLinksButNeverDirectoriesOrTargets) {
  fs::create_symlink(root_ / "file", root_ / "link");
  fs::create_directory_symlink(root_ / "sub", root_ / "dirlink");

  EXPECT_TRUE(os_->DeletePath((root_ / "link").string()));
  EXPECT_TRUE(os_->DeletePath((root_ / "dirlink").string()));
  EXPECT_FALSE(os_->DeletePath((root_ / "sub").string()));
  EXPECT_FALSE(os_->DeletePath((root_ / "sub").string() + "/"));
  EXPECT_FALSE(os_->DeletePath((root_ / "missing").string()));

  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "link")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "dirlink")));
  EXPECT_TRUE(fs::is_regular_file(root_ / "file"));
  EXPECT_TRUE(fs::is_directory(root_ / "sub" / "deeper"));

  EXPECT_TRUE(os_->DeletePath((root_ / "file").string()));
  EXPECT_FALSE(fs::exists(root_ / "file"));
}

TEST_F(LinuxPlatformTest, TickCountsMilliseconds) {
  const Tick before = os_->Now();
  usleep(50'000);
  const Tick passed = os_->Now() - before;
  EXPECT_GE(passed, 50u);
  EXPECT_LT(passed, 50'000u);  // milliseconds, not microseconds
}

}  // namespace
}  // namespace reapit
