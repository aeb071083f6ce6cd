#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/system_platform.h"

namespace reapit {

const char kPathSeparator = '\\';

namespace {

// Names created, deleted or moved, attributes, size, last write and security;
// not last access or creation time, which reading or copying a file changes.
constexpr DWORD kChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
    FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SECURITY;
static_assert(kChanges == 0x11F);

HANDLE ToHandle(Watch watch) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(watch));
}

class Win32Platform final : public Platform {
 public:
  // The narrow entry points, with paths passed on byte for byte: no
  // conversion, normalisation or check of our own.
  bool DeletePath(const std::string& path) override {
    return DeleteFileA(path.c_str()) != 0;
  }

  Tick Now() override { return GetTickCount(); }

  Watch Arm(const std::string& directory) override {
    const HANDLE handle =
        FindFirstChangeNotificationA(directory.c_str(), TRUE, kChanges);
    if (handle == INVALID_HANDLE_VALUE) return kNoWatch;
    return Watch{reinterpret_cast<std::intptr_t>(handle)};
  }

  void Close(Watch watch) override {
    FindCloseChangeNotification(ToHandle(watch));
  }

  // The limit never reaches INFINITE, so every wait has an end.
  WaitResult Wait(Watch watch, std::uint32_t timeout_ms) override {
    return WaitForSingleObject(ToHandle(watch), timeout_ms) == WAIT_TIMEOUT
               ? WaitResult::kTimedOut
               : WaitResult::kWoken;
  }
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() {
  return std::make_unique<Win32Platform>();
}

// A write to a pipe nobody reads fails on Windows; it raises no signal.
void SurviveLostOutput() {}

}  // namespace reapit
