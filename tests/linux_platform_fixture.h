#ifndef REAPIT_TESTS_LINUX_PLATFORM_FIXTURE_H_
#define REAPIT_TESTS_LINUX_PLATFORM_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "engine/system_platform.h"

namespace reapit {

namespace fs = std::filesystem;

// Creates the file, or adds a byte to it.
inline void Touch(const fs::path& path) {
  std::ofstream(path, std::ios::app) << "x";
}

// The system platform on a fresh tree of real directories: root_ holds a file
// and sub/deeper/file; outside_ is an empty directory beside it, out of the
// watched tree. Both go when the test ends.
class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "reapit-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    temp_ = pattern;
    root_ = temp_ / "root";
    outside_ = temp_ / "outside";
    fs::create_directories(root_ / "sub" / "deeper");
    fs::create_directory(outside_);
    Touch(root_ / "file");
    Touch(root_ / "sub" / "deeper" / "file");
  }
  void TearDown() override {
    if (watch_ != kNoWatch) os_->Close(watch_);
    std::error_code ignored;
    fs::remove_all(temp_, ignored);
  }

  // Short enough to keep the suite quick, long enough that a change made
  // before the wait is certainly seen.
  static constexpr std::uint32_t kQuietMs = 200;

  std::unique_ptr<Platform> os_ = CreateSystemPlatform();
  fs::path temp_, root_, outside_;
  Watch watch_ = kNoWatch;
};

}  // namespace reapit

#endif  // REAPIT_TESTS_LINUX_PLATFORM_FIXTURE_H_
