#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <string>
#include <vector>

#include "engine/system_platform.h"

namespace reapit {

const char kPathSeparator = '/';

namespace {

// Names created, deleted or moved, attributes and permissions, size and last
// write; the watched directory going away counts too. Reads and opens do not.
constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_ATTRIB | IN_MODIFY |
                                   IN_DELETE_SELF | IN_MOVE_SELF;

std::int64_t BootTimeNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

bool IsDirectory(int parent_fd, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat info {};
  return fstatat(parent_fd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(info.st_mode);
}

// Adds a watch to every directory below `root`, each before its entries are
// read, so that a subdirectory made during the walk is either walked or
// reported. Returns false when the watch limit stops the walk.
bool WatchSubdirectories(int inotify_fd, const std::string& root) {
  std::vector<std::string> to_walk{root};
  while (!to_walk.empty()) {
    const std::string directory = std::move(to_walk.back());
    to_walk.pop_back();
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) continue;  // gone or unreadable: nothing to watch
    while (const dirent* entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || !IsDirectory(dirfd(listing), *entry))
        continue;
      std::string child = directory + '/' + name;
      if (inotify_add_watch(inotify_fd, child.c_str(),
                            kChanges | IN_ONLYDIR | IN_DONT_FOLLOW) >= 0) {
        to_walk.push_back(std::move(child));
      } else if (errno == ENOSPC) {
        closedir(listing);
        return false;
      }
    }
    closedir(listing);
  }
  return true;
}

class LinuxPlatform final : public Platform {
 public:
  bool DeletePath(const std::string& path) override {
    return unlink(path.c_str()) == 0;
  }

  Tick Now() override {
    return static_cast<Tick>(BootTimeNanoseconds() / 1'000'000);
  }

  Watch Arm(const std::string& directory) override {
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return kNoWatch;
    // The directory as typed: a link to a directory is followed here, as the
    // user named it, but never below it.
    if (inotify_add_watch(fd, directory.c_str(), kChanges | IN_ONLYDIR) < 0 ||
        !WatchSubdirectories(fd, directory)) {
      close(fd);
      return kNoWatch;
    }
    return Watch{fd};
  }

  void Close(Watch watch) override { close(static_cast<int>(watch)); }

  WaitResult Wait(Watch watch, std::uint32_t timeout_ms) override {
    // poll takes an int, so a long wait is made of several, each measured
    // against one deadline so that the whole never ends early.
    const std::int64_t deadline =
        BootTimeNanoseconds() + std::int64_t{timeout_ms} * 1'000'000;
    pollfd watched{static_cast<int>(watch), POLLIN, 0};
    for (;;) {
      const std::int64_t left = deadline - BootTimeNanoseconds();
      if (left <= 0) return WaitResult::kTimedOut;
      const std::int64_t left_ms = (left + 999'999) / 1'000'000;
      const int ready = poll(
          &watched, 1, left_ms > INT_MAX ? INT_MAX : static_cast<int>(left_ms));
      if (ready > 0) return WaitResult::kWoken;
      if (ready < 0 && errno != EINTR) return WaitResult::kWoken;
    }
  }
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
