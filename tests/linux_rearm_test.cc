#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/system_platform.h"
#include "tests/system_platform_test.h"

namespace reapit {
namespace {

namespace fs = std::filesystem;
using LinuxPlatformTest = SystemPlatformTest;

// Fills the inotify queue past its bound, so that the kernel drops what comes
// next and queues an overflow instead.
void OverflowTheQueue(const fs::path& root) {
  int bound = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> bound;
  // Two files in turn, since the kernel folds an event into an equal one
  // queued just before it.
  for (int i = 0; i <= bound; ++i) {
    fs::permissions(
        i % 2 == 1 ? root / "file" : root / "sub" / "deeper" / "file",
        i % 4 < 2 ? fs::perms::owner_read : fs::perms::owner_all);
  }
}

// What the tree under root_ and the directory outside_ beside it go through.
struct Dirs {
  fs::path root, outside;
};

// One cycle of the loop: a change made while armed, and whether it wakes.
struct Step {
  std::function<void(const Dirs&)> change;
  WaitResult expected;
};

struct RearmCase {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const RearmCase& c, std::ostream* os) { *os << c.name; }

class LinuxRearmTest : public LinuxPlatformTest {
 protected:
  // Closes the watch and arms a new one, as every cycle of the loop does.
  void Rearm(const fs::path& directory) {
    if (watch_ != kNoWatch) os_->Close(watch_);
    watch_ = os_->Arm(directory.string());
  }
};

class LinuxTreeChangeTest : public LinuxRearmTest,
                            public ::testing::WithParamInterface<RearmCase> {};

// Each step runs in a cycle of its own: the arming must bring the watches up
// to date with what the steps before it did, and must not wake for it.
TEST_P(LinuxTreeChangeTest, WatchesTheTreeAsItIsAtEachArming) {
  const Dirs dirs{root_, outside_};
  int cycle = 0;
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE("cycle " + std::to_string(++cycle));
    Rearm(root_);
    ASSERT_NE(watch_, kNoWatch);
    EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut)
        << "woken by what happened before the arming";
    step.change(dirs);
    EXPECT_EQ(os_->Wait(watch_, kQuietMs), step.expected);
  }
}

constexpr WaitResult kWoken = WaitResult::kWoken;
constexpr WaitResult kQuiet = WaitResult::kTimedOut;

INSTANTIATE_TEST_SUITE_P(
    Kinds, LinuxTreeChangeTest,
    ::testing::Values(
        RearmCase{
            "DirectoryMadeAfterTheStart",
            {{[](const Dirs& d) { fs::create_directory(d.root / "new"); },
              kWoken},
             {[](const Dirs& d) {
                fs::create_directory(d.root / "new" / "inner");
              },
              kWoken},
             {[](const Dirs& d) { Touch(d.root / "new" / "inner" / "f"); },
              kWoken}}},
        RearmCase{
            "NestedDirectoriesMadeAtOnce",
            {{[](const Dirs& d) {
                fs::create_directories(d.root / "a" / "b" / "c");
              },
              kWoken},
             {[](const Dirs& d) { Touch(d.root / "a" / "b" / "c" / "f"); },
              kWoken}}},
        RearmCase{
            "TreeMovedIn",
            {{[](const Dirs& d) {
                fs::create_directories(d.outside / "in" / "x" / "y");
                Touch(d.outside / "in" / "x" / "y" / "old");
                fs::rename(d.outside / "in", d.root / "in");
              },
              kWoken},
             {[](const Dirs& d) { Touch(d.root / "in" / "x" / "y" / "old"); },
              kWoken}}},
        RearmCase{"TreeMovedOut",
                  {{[](const Dirs& d) {
                      fs::rename(d.root / "sub", d.outside / "sub");
                    },
                    kWoken},
                   {[](const Dirs& d) {
                      Touch(d.outside / "sub" / "new");
                      Touch(d.outside / "sub" / "deeper" / "new");
                      fs::create_directory(d.outside / "sub" / "deeper" / "n");
                    },
                    kQuiet},
                   {[](const Dirs& d) { Touch(d.root / "new"); }, kWoken}}},
        RearmCase{
            "TreeMovedOutAndItsNameMadeAgain",
            {{[](const Dirs& d) {
                fs::rename(d.root / "sub", d.outside / "sub");
                fs::create_directories(d.root / "sub" / "deeper");
              },
              kWoken},
             {[](const Dirs& d) {
                Touch(d.outside / "sub" / "deeper" / "new");
              },
              kQuiet},
             {[](const Dirs& d) { Touch(d.root / "sub" / "deeper" / "new"); },
              kWoken}}},
        RearmCase{"TreeMovedWithin",
                  {{[](const Dirs& d) {
                      fs::create_directory(d.root / "other");
                      fs::rename(d.root / "sub", d.root / "other" / "moved");
                    },
                    kWoken},
                   {[](const Dirs& d) {
                      fs::create_directory(d.root / "other" / "moved" /
                                           "deeper" / "new");
                    },
                    kWoken},
                   {[](const Dirs& d) {
                      Touch(d.root / "other" / "moved" / "deeper" / "new" /
                            "f");
                    },
                    kWoken}}},
        // The new directory is reported by a watch whose path the rename
        // queued after it has yet to correct.
        RearmCase{"DirectoryMadeAndItsParentRenamed",
                  {{[](const Dirs& d) {
                      fs::create_directory(d.root / "sub" / "deeper" / "new");
                      fs::rename(d.root / "sub", d.root / "renamed");
                    },
                    kWoken},
                   {[](const Dirs& d) {
                      Touch(d.root / "renamed" / "deeper" / "new" / "f");
                    },
                    kWoken}}},
        RearmCase{"ParentRenamedAndDirectoryMade",
                  {{[](const Dirs& d) {
                      fs::rename(d.root / "sub", d.root / "renamed");
                      fs::create_directory(d.root / "renamed" / "deeper" /
                                           "new");
                    },
                    kWoken},
                   {[](const Dirs& d) {
                      Touch(d.root / "renamed" / "deeper" / "new" / "f");
                    },
                    kWoken}}},
        RearmCase{
            "DirectoryDeletedAndMadeAgain",
            {{[](const Dirs& d) {
                fs::remove_all(d.root / "sub");
                fs::create_directories(d.root / "sub" / "deeper");
              },
              kWoken},
             {[](const Dirs& d) { Touch(d.root / "sub" / "deeper" / "f"); },
              kWoken}}},
        // The directory made after the queue is full is never reported:
        // only a fresh walk finds it.
        RearmCase{"QueueOverflowed",
                  {{[](const Dirs& d) {
                      OverflowTheQueue(d.root);
                      fs::create_directory(d.root / "unreported");
                    },
                    kWoken},
                   {[](const Dirs& d) { Touch(d.root / "unreported" / "f"); },
                    kWoken}}},
        RearmCase{
            "WatchedDirectoryDeletedAndMadeAgain",
            {{[](const Dirs& d) {
                fs::remove_all(d.root);
                fs::create_directories(d.root / "sub");
              },
              kWoken},
             {[](const Dirs& d) { Touch(d.root / "sub" / "f"); }, kWoken}}},
        RearmCase{
            "WatchedDirectoryMovedAwayAndReplaced",
            {{[](const Dirs& d) {
                fs::rename(d.root, d.outside / "old");
                fs::create_directories(d.root / "sub");
              },
              kWoken},
             {[](const Dirs& d) {
                Touch(d.outside / "old" / "sub" / "deeper" / "f");
              },
              kQuiet},
             {[](const Dirs& d) { Touch(d.root / "sub" / "f"); }, kWoken}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinuxRearmTest, ArmingFailsOnceTheWatchedDirectoryIsGone) {
  Rearm(root_);
  ASSERT_NE(watch_, kNoWatch);
  fs::remove_all(root_);
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kWoken);
  Rearm(root_);
  EXPECT_EQ(watch_, kNoWatch);

  Touch(root_);  // a file where the directory was
  Rearm(root_);
  EXPECT_EQ(watch_, kNoWatch);
}

// Retargeting a link changes nothing in either tree, so no event tells.
TEST_F(LinuxRearmTest, LinkGivenAsTheRootIsFollowedAfresh) {
  const fs::path link = temp_ / "link";
  fs::create_directory_symlink(root_, link);
  Rearm(link);
  ASSERT_NE(watch_, kNoWatch);
  fs::remove(link);
  fs::create_directory_symlink(outside_, link);
  Rearm(link);
  ASSERT_NE(watch_, kNoWatch);
  Touch(root_ / "sub" / "f");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
  Touch(outside_ / "f");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kWoken);
}

// Directories held open, as a shell working in them holds them, until the
// test ends. The kernel tells a watch that its directory was deleted only
// once nothing holds it any more.
class InUse {
 public:
  InUse() = default;
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;
  ~InUse() {
    for (int fd : fds_) close(fd);
  }
  void Keep(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    fds_.push_back(fd);
  }

 private:
  std::vector<int> fds_;
};

// Something done above the watched directory, root_/sub/deeper, or to it
// while it is in use, and what a wait must return. Nothing of it reaches the
// watches of the tree itself.
struct AboveCase {
  const char* name;
  std::function<void(const Dirs&, InUse&)> change;
  WaitResult expected;
};

void PrintTo(const AboveCase& c, std::ostream* os) { *os << c.name; }

class LinuxAboveTest : public LinuxRearmTest,
                       public ::testing::WithParamInterface<AboveCase> {};

TEST_P(LinuxAboveTest, WakesWhenThePathNamesAnotherDirectory) {
  const fs::path watched = root_ / "sub" / "deeper";
  fs::remove(watched / "file");  // deleting it would wake the watch itself
  InUse in_use;
  Rearm(watched);
  ASSERT_NE(watch_, kNoWatch);
  GetParam().change(Dirs{root_, outside_}, in_use);
  ASSERT_EQ(os_->Wait(watch_, kQuietMs), GetParam().expected);
  if (GetParam().expected == WaitResult::kTimedOut) return;

  // The next arming watches the directory that the path names now.
  Rearm(watched);
  ASSERT_NE(watch_, kNoWatch);
  Touch(watched / "f");
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kWoken);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LinuxAboveTest,
    ::testing::Values(
        AboveCase{"DeletedWhileInUseAndMadeAgain",
                  [](const Dirs& d, InUse& in_use) {
                    const fs::path watched = d.root / "sub" / "deeper";
                    in_use.Keep(watched);
                    fs::remove(watched);
                    fs::create_directory(watched);
                  },
                  kWoken},
        AboveCase{"ReplacedByARenameWhileInUse",
                  [](const Dirs& d, InUse& in_use) {
                    const fs::path watched = d.root / "sub" / "deeper";
                    in_use.Keep(watched);
                    fs::create_directory(d.outside / "new");
                    fs::rename(d.outside / "new", watched);
                  },
                  kWoken},
        AboveCase{"ParentMovedAndThePathMadeAgain",
                  [](const Dirs& d, InUse&) {
                    fs::rename(d.root / "sub", d.outside / "sub");
                    fs::create_directories(d.root / "sub" / "deeper");
                  },
                  kWoken},
        AboveCase{"GrandparentMovedAndThePathMadeAgain",
                  [](const Dirs& d, InUse&) {
                    fs::rename(d.root, d.outside / "root");
                    fs::create_directories(d.root / "sub" / "deeper");
                  },
                  kWoken},
        AboveCase{"OtherNamesAboveChanged",
                  [](const Dirs& d, InUse&) {
                    Touch(d.root / "sub" / "sibling");
                    fs::rename(d.root / "sub" / "sibling",
                               d.root / "sub" / "renamed");
                    fs::remove(d.root / "sub" / "renamed");
                    fs::create_directory(d.root / "other");
                    fs::rename(d.root / "other", d.outside / "other");
                    fs::remove(d.root / "file");
                  },
                  kQuiet}),
    [](const auto& info) { return std::string(info.param.name); });

// The descriptors of this process that are inotify instances.
std::vector<int> InotifyDescriptors() {
  std::vector<int> found;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == "anon_inode:inotify")
      found.push_back(std::stoi(entry.path().filename().string()));
  }
  return found;
}

// The instances are made by the first arming and serve every later one.
TEST_F(LinuxRearmTest, InstancesKeptForTheRunFromChildrenAndReleased) {
  const std::size_t before = InotifyDescriptors().size();
  auto os = CreateSystemPlatform();
  std::vector<int> first;
  for (int cycle = 0; cycle < 3; ++cycle) {
    const Watch watch = os->Arm(root_.string());
    ASSERT_NE(watch, kNoWatch);
    if (cycle == 0) first = InotifyDescriptors();
    Touch(root_ / "file");
    EXPECT_EQ(os->Wait(watch, kQuietMs), WaitResult::kWoken);
    os->Close(watch);
  }
  const std::vector<int> open = InotifyDescriptors();
  EXPECT_GT(open.size(), before);
  EXPECT_EQ(open, first);
  for (int fd : open) EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
  os.reset();
  EXPECT_EQ(InotifyDescriptors().size(), before);
}

}  // namespace
}  // namespace reapit
