// What the Windows platform does its own way, checked under Wine or Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/system_platform_test.h"

namespace reapit {

namespace fs = std::filesystem;

std::vector<ChangeCase> PlatformChanges() {
  return {
      {"MadeReadOnly",
       [](const fs::path& d) {
         SetFileAttributesA((d / "file").string().c_str(),
                            FILE_ATTRIBUTE_READONLY);
       },
       WaitResult::kWoken},
  };
}

std::string KnownMiss(const ChangeCase& change) {
  const bool under_wine = GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                         "wine_get_version") != nullptr;
  if (under_wine && change.below)
    return "Wine 8.0 does not signal a subtree watch for a change inside a "
           "subdirectory";
  return "";
}

// GetTickCount moves in steps of the system timer.
std::uint32_t TickStepMs() { return 16; }

namespace {

using Win32PlatformTest = SystemPlatformTest;

TEST_F(Win32PlatformTest, DeletesFilesButNeverDirectoriesOrMissingOnes) {
  EXPECT_FALSE(os_->DeletePath(Path("sub")));
  EXPECT_FALSE(os_->DeletePath(Path("missing")));
  EXPECT_TRUE(fs::is_directory(root_ / "sub" / "deeper"));

  EXPECT_TRUE(os_->DeletePath(Path("file")));
  EXPECT_FALSE(fs::exists(root_ / "file"));
  EXPECT_TRUE(os_->DeletePath(Path("sub\\deeper\\file")));
  EXPECT_FALSE(fs::exists(root_ / "sub" / "deeper" / "file"));
}

TEST_F(Win32PlatformTest, ReadOnlyFileIsKeptUntilItIsWritable) {
  const std::string file = Path("file");
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(os_->DeletePath(file));
  EXPECT_TRUE(fs::exists(file));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(os_->DeletePath(file));
}

TEST_F(Win32PlatformTest, FileHeldWithoutDeleteSharingIsKeptUntilClosed) {
  const std::string file = Path("file");
  const HANDLE held = CreateFileA(
      file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(os_->DeletePath(file));
  EXPECT_TRUE(fs::exists(file));
  CloseHandle(held);
  EXPECT_TRUE(os_->DeletePath(file));
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace reapit
