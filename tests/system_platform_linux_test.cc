// What the Linux platform does its own way.
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/poll_slice.h"
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

struct SliceCase {
  std::int64_t left_ns;
  int poll_ms;
};

void PrintTo(const SliceCase& c, std::ostream* os) {
  *os << c.left_ns << " ns";
}

class PollSliceTest : public ::testing::TestWithParam<SliceCase> {};

// A poll may never be shorter than what is left, and never longer than poll
// can be told; the longest wait of a run takes two.
TEST_P(PollSliceTest, RoundsUpAndSplitsLongWaits) {
  EXPECT_EQ(PollSliceMs(GetParam().left_ns), GetParam().poll_ms);
}

constexpr std::int64_t kLongestWaitNs = std::int64_t{0xFFFFFFFE} * 1'000'000;

INSTANTIATE_TEST_SUITE_P(
    Table, PollSliceTest,
    ::testing::Values(SliceCase{1, 1}, SliceCase{999'999, 1},
                      SliceCase{1'000'000, 1}, SliceCase{1'000'001, 2},
                      SliceCase{std::int64_t{INT_MAX} * 1'000'000, INT_MAX},
                      SliceCase{std::int64_t{INT_MAX} * 1'000'000 + 1, INT_MAX},
                      SliceCase{kLongestWaitNs, INT_MAX},
                      SliceCase{
                          kLongestWaitNs - std::int64_t{INT_MAX} * 1'000'000,
                          INT_MAX}));

}  // namespace
}  // namespace reapit
