// What every system platform must do, checked on the real one.
#include "tests/system_platform_test.h"

#include <chrono>
#include <thread>

namespace reapit {
namespace {

namespace fs = std::filesystem;

std::vector<ChangeCase> Changes() {
  std::vector<ChangeCase> cases = {
      {"Nothing", [](const fs::path&) {}, WaitResult::kTimedOut},
      {"FileRead",
       [](const fs::path& d) {
         std::string s;
         std::ifstream(d / "file") >> s;
         std::ifstream(d / "sub" / "deeper" / "file") >> s;
       },
       WaitResult::kTimedOut},
      {"FileCreated", [](const fs::path& d) { Touch(d / "new"); },
       WaitResult::kWoken},
      {"FileDeleted", [](const fs::path& d) { fs::remove(d / "file"); },
       WaitResult::kWoken},
      {"FileRenamed",
       [](const fs::path& d) { fs::rename(d / "file", d / "moved"); },
       WaitResult::kWoken},
      {"FileWritten",
       [](const fs::path& d) {
         std::ofstream(d / "file", std::ios::app) << "more";
       },
       WaitResult::kWoken},
      {"DirectoryMade",
       [](const fs::path& d) { fs::create_directory(d / "newdir"); },
       WaitResult::kWoken},
      {"FileCreatedTwoLevelsDown",
       [](const fs::path& d) { Touch(d / "sub" / "deeper" / "new"); },
       WaitResult::kWoken, true},
      {"FileWrittenTwoLevelsDown",
       [](const fs::path& d) {
         std::ofstream(d / "sub" / "deeper" / "file", std::ios::app) << "more";
       },
       WaitResult::kWoken, true},
  };
  for (ChangeCase& c : PlatformChanges()) cases.push_back(std::move(c));
  return cases;
}

class WatchTest : public SystemPlatformTest,
                  public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(WatchTest, WakesOnChangesOnly) {
  const ChangeCase& c = GetParam();
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  c.change(root_);
  const WaitResult result = os_->Wait(
      watch_, c.expected == WaitResult::kWoken ? kWakeBoundMs : kQuietMs);
  if (result != c.expected && !KnownMiss(c).empty())
    GTEST_SKIP() << KnownMiss(c);
  EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, WatchTest, ::testing::ValuesIn(Changes()),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SystemPlatformTest, ChangesBeforeArmingDoNotWake) {
  Touch(root_ / "before");
  fs::remove(root_ / "file");
  watch_ = os_->Arm(root_.string());
  ASSERT_NE(watch_, kNoWatch);
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
}

TEST_F(SystemPlatformTest, ArmingFailsWithoutADirectory) {
  for (const char* name : {"missing", "file"})
    EXPECT_EQ(os_->Arm(Path(name)), kNoWatch) << name;
}

TEST_F(SystemPlatformTest, QuietWaitLastsItsWholeTime) {
  watch_ = os_->Arm(root_.string());
  const Tick before = os_->Now();
  EXPECT_EQ(os_->Wait(watch_, kQuietMs), WaitResult::kTimedOut);
  EXPECT_GE(Tick(os_->Now() - before), kQuietMs - TickStepMs());
}

TEST_F(SystemPlatformTest, ClosedWatchFailsTheWaitInsteadOfBlocking) {
  watch_ = os_->Arm(root_.string());
  os_->Close(watch_);
  const Watch closed = watch_;
  watch_ = kNoWatch;
  EXPECT_EQ(os_->Wait(closed, 60'000), WaitResult::kWoken);
}

TEST_F(SystemPlatformTest, TickCountsMilliseconds) {
  const Tick before = os_->Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Tick passed = os_->Now() - before;
  EXPECT_GE(passed, 100u - TickStepMs());
  EXPECT_LT(passed, 100'000u);  // milliseconds, not microseconds
}

}  // namespace
}  // namespace reapit
