#ifndef REAPIT_ENGINE_INOTIFY_TREE_H_
#define REAPIT_ENGINE_INOTIFY_TREE_H_

#include <sys/inotify.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <unordered_map>

namespace reapit {

// One inotify instance that watches every directory of a tree and keeps that
// set of watches current from its own queue of events, so that keeping the
// tree watched costs in proportion to what changed in it, not to its size;
// and another on the directories above it, which tells when the root's path
// stops naming the directory watched.
class InotifyTree {
 public:
  InotifyTree() = default;
  InotifyTree(const InotifyTree&) = delete;
  InotifyTree& operator=(const InotifyTree&) = delete;
  ~InotifyTree();

  // Discards every event queued so far and brings the watches up to date with
  // the tree under `root`. Returns false when the tree cannot be watched
  // whole: `root` is not a directory, or the watch limit was reached.
  bool Refresh(const std::string& root);

  // Returns a descriptor that becomes readable at the first change after the
  // last successful Refresh.
  int descriptor() const { return fd_; }

  // Returns a descriptor that becomes readable when a name is deleted or moved
  // in the root's parent, or a directory above the root is moved, which may
  // have taken the root's path from the watched directory; -1 when none is
  // watched. RootLost tells.
  int above_descriptor() const { return above_fd_; }

  // Empties the queue of above_descriptor(). Returns true when the root's
  // path no longer names the watched directory.
  bool RootLost();

 private:
  enum class Added { kWalk, kKnown, kSkipped, kLimit };

  bool Rewalk(const std::string& root);
  bool Drain();
  bool Apply(const inotify_event& event);
  bool WatchTree(const std::string& path);
  bool Walk(const std::string& top);
  Added WatchOne(const std::string& path);
  void DropTree(const std::string& path);
  std::map<std::string, int>::iterator Drop(
      std::map<std::string, int>::iterator entry);
  void WatchAbove();
  bool SameRoot() const;

  int fd_ = -1;
  int above_fd_ = -1;
  bool stale_ = true;  // the next Refresh starts afresh from the root
  std::string root_;
  int root_wd_ = -1;
  dev_t root_device_ = 0;
  ino_t root_inode_ = 0;
  // Each watched directory by its path below root_, and the reverse. A path
  // may be out of date until the queue is drained: a rename shows up there.
  std::unordered_map<int, std::string> paths_;
  std::map<std::string, int> watches_;
};

}  // namespace reapit

#endif  // REAPIT_ENGINE_INOTIFY_TREE_H_
