#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

#include "engine/inotify_tree.h"
#include "engine/poll_slice.h"
#include "engine/system_platform.h"

namespace reapit {

const char kPathSeparator = '/';

namespace {

std::int64_t BootTimeNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

class LinuxPlatform final : public Platform {
 public:
  bool DeletePath(const std::string& path) override {
    return unlink(path.c_str()) == 0;
  }

  Tick Now() override {
    return static_cast<Tick>(BootTimeNanoseconds() / 1'000'000);
  }

  // The same inotify watches serve the whole run: arming brings them up to
  // date and empties their queues, so that the wait that follows sees only
  // what changed after the arming.
  Watch Arm(const std::string& directory) override {
    armed_ = tree_.Refresh(directory) ? Watch{++arms_} : kNoWatch;
    return armed_;
  }

  void Close(Watch watch) override {
    if (watch == armed_) armed_ = kNoWatch;
  }

  WaitResult Wait(Watch watch, std::uint32_t timeout_ms) override {
    if (watch == kNoWatch || watch != armed_) return WaitResult::kWoken;
    // poll takes an int, so a long wait is made of several, each measured
    // against one deadline so that the whole never ends early.
    const std::int64_t deadline =
        BootTimeNanoseconds() + std::int64_t{timeout_ms} * 1'000'000;
    // What happens above the tree matters only when it takes the root's
    // path away; the rest of it is read and let go.
    pollfd watched[] = {{tree_.descriptor(), POLLIN, 0},
                        {tree_.above_descriptor(), POLLIN, 0}};
    for (;;) {
      const std::int64_t left = deadline - BootTimeNanoseconds();
      if (left <= 0) return WaitResult::kTimedOut;
      const int ready = poll(watched, 2, PollSliceMs(left));
      if (ready < 0 && errno != EINTR) return WaitResult::kWoken;
      if (ready <= 0) continue;
      if (watched[0].revents != 0 || tree_.RootLost())
        return WaitResult::kWoken;
    }
  }

 private:
  InotifyTree tree_;
  std::intptr_t arms_ = 0;
  Watch armed_ = kNoWatch;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() {
  return std::make_unique<LinuxPlatform>();
}

void SurviveLostOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  // A descriptor opened later takes the lowest free number; were one of the
  // standard three closed, a watch could take its place and the report would
  // be written into it. open gives the lowest free one, which is `fd` here.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
}

}  // namespace reapit
