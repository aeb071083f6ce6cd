#include "engine/inotify_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace reapit {

namespace {

// Names created, deleted or moved, attributes and permissions, size and last
// write; the watched directory going away counts too. Reads and opens do not.
constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_ATTRIB | IN_MODIFY |
                                   IN_DELETE_SELF | IN_MOVE_SELF;

bool IsDirectory(int parent_fd, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat info {};
  return fstatat(parent_fd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(info.st_mode);
}

bool Any(std::uint32_t mask, std::uint32_t bits) { return (mask & bits) != 0; }

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

InotifyTree::~InotifyTree() {
  if (fd_ >= 0) close(fd_);
  if (above_fd_ >= 0) close(above_fd_);
}

bool InotifyTree::Refresh(const std::string& root) {
  if (fd_ < 0 || root != root_) stale_ = true;
  // A walk is drained too: what changed while it ran is applied rather than
  // left to wake the wait. Should that call for a fresh walk again (the queue
  // overflowed, the root was replaced), walk again; but only a few times, as
  // a storm of changes could ask for walks for ever. The last walk's events
  // then stay queued, where they wake the wait at once, and the next arming
  // applies them.
  constexpr int kMostWalks = 3;
  for (int walks = 0;;) {
    if (stale_) {
      if (!Rewalk(root)) return false;
      if (++walks == kMostWalks) return true;
    }
    if (!Drain()) {
      stale_ = true;
      return false;
    }
    // The root's path may name another directory now: the watches above it
    // may say so, and a link given as the root may have been pointed
    // elsewhere, which raises no event at all.
    if (!stale_ && !RootLost()) return true;
    stale_ = true;
  }
}

// Starts over with a fresh instance, which also discards whatever is queued.
bool InotifyTree::Rewalk(const std::string& root) {
  stale_ = true;
  if (fd_ >= 0) close(fd_);
  paths_.clear();
  watches_.clear();
  root_ = root;
  fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd_ < 0) return false;
  // The root as typed: a link to a directory is followed here, as the user
  // named it, but never below it.
  root_wd_ = inotify_add_watch(fd_, root.c_str(), kChanges | IN_ONLYDIR);
  struct stat info {};
  if (root_wd_ < 0 || stat(root.c_str(), &info) != 0) return false;
  root_device_ = info.st_dev;
  root_inode_ = info.st_ino;
  paths_.emplace(root_wd_, root);
  watches_.emplace(root, root_wd_);
  if (!Walk(root)) return false;
  WatchAbove();
  stale_ = false;
  return true;
}

// The root's own watch says nothing when the root is deleted while some
// process still works in it, nor when a directory above it moves: watches on
// the directories above it do. Its parent tells of names deleted or moved,
// its own among them; the directories higher up tell only of being moved
// themselves, so that the rest of what happens in them never wakes the
// waiter. These come after the tree's watches, which have the first claim on
// the watch limit, and each is only a safeguard: one that cannot be set up
// is passed over.
void InotifyTree::WatchAbove() {
  if (above_fd_ >= 0) close(above_fd_);
  above_fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (above_fd_ < 0) return;
  std::uint32_t changes =
      IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_ONLYDIR;
  dev_t device = root_device_;
  ino_t inode = root_inode_;
  // Each ".." as the kernel resolves it from the directory itself, whatever
  // links led there; "/" is its own parent.
  for (std::string above = root_ + "/..";; above += "/..") {
    struct stat info {};
    if (stat(above.c_str(), &info) != 0) return;
    if (info.st_dev == device && info.st_ino == inode) return;
    inotify_add_watch(above_fd_, above.c_str(), changes);
    changes = IN_MOVE_SELF | IN_ONLYDIR;
    device = info.st_dev;
    inode = info.st_ino;
  }
}

bool InotifyTree::RootLost() {
  alignas(inotify_event) char buffer[4096];
  while (above_fd_ >= 0) {
    const ssize_t got = read(above_fd_, buffer, sizeof buffer);
    if (got > 0 || (got < 0 && errno == EINTR)) continue;
    if (got < 0 && errno == EAGAIN) break;
    stale_ = true;  // unusable: the next arming sets all up afresh
    return true;
  }
  if (SameRoot()) return false;
  stale_ = true;
  return true;
}

// Applies every queued event, reading until the queue is empty, so that what
// is queued afterwards happened after this call began.
bool InotifyTree::Drain() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    if (got <= 0) {
      stale_ = true;  // the instance is unusable: start over
      return true;
    }
    for (ssize_t at = 0; at < got;) {
      const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
      if (!Apply(event)) return false;
      if (stale_) return true;  // the fresh walk makes the rest moot
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
}

bool InotifyTree::Apply(const inotify_event& event) {
  if (Any(event.mask, IN_Q_OVERFLOW)) {
    stale_ = true;  // events were lost: only a fresh walk can tell what moved
    return true;
  }
  const auto found = paths_.find(event.wd);
  if (found == paths_.end()) return true;  // from a watch already dropped
  if (event.wd == root_wd_ && Any(event.mask, IN_DELETE_SELF | IN_MOVE_SELF |
                                                  IN_UNMOUNT | IN_IGNORED)) {
    stale_ = true;  // the root path may name another directory, or none
    return true;
  }
  if (Any(event.mask, IN_UNMOUNT)) {
    // What was mounted here has gone, and the directory that it covered
    // shows again: that one, and what is below it, are watched instead.
    const std::string path = found->second;
    DropTree(path);
    return WatchTree(path);
  }
  if (Any(event.mask, IN_IGNORED)) {
    watches_.erase(found->second);
    paths_.erase(found);
    return true;
  }
  // A watched directory whose permissions changed may now let the walk into
  // directories below it that it kept out before; those watched already are
  // passed over.
  if (event.len == 0)
    return Any(event.mask, IN_ATTRIB) ? Walk(found->second) : true;
  if (!Any(event.mask, IN_ISDIR)) return true;
  const std::string child = found->second + '/' + event.name;
  // A directory that could not be watched (not readable) may be now that its
  // permissions changed; one already watched is left as it is.
  if (Any(event.mask, IN_CREATE | IN_MOVED_TO | IN_ATTRIB))
    return WatchTree(child);
  if (Any(event.mask, IN_DELETE | IN_MOVED_FROM)) DropTree(child);
  return true;
}

// Adds a watch to `path` and then to every directory below it. A directory
// made below it meanwhile is either found by the walk or reported by the
// watch of its parent, which was added first.
bool InotifyTree::WatchTree(const std::string& path) {
  switch (WatchOne(path)) {
    case Added::kLimit:
      return false;
    case Added::kWalk:
      return Walk(path);
    case Added::kKnown:
    case Added::kSkipped:
      return true;
  }
  return true;
}

bool InotifyTree::Walk(const std::string& top) {
  std::vector<std::string> to_walk{top};
  while (!to_walk.empty()) {
    const std::string directory = std::move(to_walk.back());
    to_walk.pop_back();
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) continue;  // gone or unreadable: nothing to watch
    bool within_limit = true;
    while (const dirent* entry = readdir(listing)) {
      if (IsDotOrDotDot(entry->d_name) || !IsDirectory(dirfd(listing), *entry))
        continue;
      std::string child = directory + '/' + entry->d_name;
      const Added added = WatchOne(child);
      if (added == Added::kLimit) {
        within_limit = false;
        break;
      }
      if (added == Added::kWalk) to_walk.push_back(std::move(child));
    }
    closedir(listing);
    if (!within_limit) return false;
  }
  return true;
}

InotifyTree::Added InotifyTree::WatchOne(const std::string& path) {
  constexpr std::uint32_t kBelowRoot = kChanges | IN_ONLYDIR | IN_DONT_FOLLOW;
  int wd = inotify_add_watch(fd_, path.c_str(), kBelowRoot);
  if (wd < 0) return errno == ENOSPC ? Added::kLimit : Added::kSkipped;
  if (const auto known = paths_.find(wd); known != paths_.end()) {
    // Watched and walked already when it came to this path; or met again
    // below itself through a mount, where walking on would never end.
    const std::string& was = known->second;
    if (was == path || path.starts_with(was + '/')) return Added::kKnown;
    // It moved here from a place whose events are still queued: watch it
    // afresh under its new path, with a new descriptor.
    DropTree(std::string(known->second));
    wd = inotify_add_watch(fd_, path.c_str(), kBelowRoot);
    if (wd < 0) return errno == ENOSPC ? Added::kLimit : Added::kSkipped;
  }
  DropTree(path);  // whatever was watched under this path before has left it
  paths_.emplace(wd, path);
  watches_.emplace(path, wd);
  return Added::kWalk;
}

// Stops watching `path` and every directory below it, so that a tree moved
// out of the root stops waking the waiter.
void InotifyTree::DropTree(const std::string& path) {
  if (const auto it = watches_.find(path); it != watches_.end()) Drop(it);
  // Exactly the paths below `path` sort from "path/" up to "path0".
  const std::string end = path + static_cast<char>('/' + 1);
  for (auto it = watches_.lower_bound(path + '/');
       it != watches_.end() && it->first < end;)
    it = Drop(it);
}

std::map<std::string, int>::iterator InotifyTree::Drop(
    std::map<std::string, int>::iterator entry) {
  inotify_rm_watch(fd_, entry->second);
  paths_.erase(entry->second);
  return watches_.erase(entry);
}

bool InotifyTree::SameRoot() const {
  struct stat info {};
  return stat(root_.c_str(), &info) == 0 && info.st_dev == root_device_ &&
         info.st_ino == root_inode_;
}

}  // namespace reapit
