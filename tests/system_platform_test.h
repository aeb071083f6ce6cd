#ifndef REAPIT_TESTS_SYSTEM_PLATFORM_TEST_H_
#define REAPIT_TESTS_SYSTEM_PLATFORM_TEST_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/system_platform.h"

namespace reapit {

// Creates the file, or adds a byte to it.
inline void Touch(const std::filesystem::path& path) {
  std::ofstream(path, std::ios::app) << "x";
}

// A fresh directory tree per test: root_ holds `file` and `sub/deeper/file`;
// outside_ is an empty directory beside it, out of the watched tree. Both
// live in temp_, which goes when the test ends.
class SystemPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      temp_ = std::filesystem::temp_directory_path() /
              ("reapit-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(temp_));
    root_ = temp_ / "root";
    outside_ = temp_ / "outside";
    std::filesystem::create_directories(root_ / "sub" / "deeper");
    std::filesystem::create_directory(outside_);
    Touch(root_ / "file");
    Touch(root_ / "sub" / "deeper" / "file");
  }
  void TearDown() override {
    if (watch_ != kNoWatch) os_->Close(watch_);
    std::error_code ignored;
    std::filesystem::remove_all(temp_, ignored);
  }

  std::string Path(const char* name) const { return (root_ / name).string(); }

  // Short enough to keep the suite quick, long enough that a change made
  // before the wait is certainly seen.
  static constexpr std::uint32_t kQuietMs = 300;
  // A wait that a change must end; it returns as soon as the change comes.
  static constexpr std::uint32_t kWakeBoundMs = 2000;

  std::unique_ptr<Platform> os_ = CreateSystemPlatform();
  std::filesystem::path temp_, root_, outside_;
  Watch watch_ = kNoWatch;
};

// One thing done to the watched tree, and what a wait on the watch must return.
struct ChangeCase {
  const char* name;
  std::function<void(const std::filesystem::path&)> change;
  WaitResult expected;
  bool below = false;  // made inside a subdirectory
};

inline void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

// Defined by the tests of each platform.

// The changes that this system makes its own way, beyond the common ones.
std::vector<ChangeCase> PlatformChanges();

// Returns why the system under test is known to miss `change`, or an empty
// string when missing it is a fault.
std::string KnownMiss(const ChangeCase& change);

// Returns how coarsely the tick counter moves, in milliseconds.
std::uint32_t TickStepMs();

}  // namespace reapit

#endif  // REAPIT_TESTS_SYSTEM_PLATFORM_TEST_H_
