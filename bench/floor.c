/* The least any watcher can do, as a floor for the reaction benchmark: block
 * on one inotify watch on DIR and, at its first event of any kind, unlink
 * DIR/NAME. Usage: floor DIR NAME */
#include <limits.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 3) {
    fputs("usage: floor DIR NAME\n", stderr);
    return 2;
  }
  char path[PATH_MAX];
  snprintf(path, sizeof path, "%s/%s", argv[1], argv[2]);
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, argv[1], IN_ALL_EVENTS) < 0) return 1;
  char events[sizeof(struct inotify_event) + NAME_MAX + 1]
      __attribute__((aligned(__alignof__(struct inotify_event))));
  if (read(fd, events, sizeof events) <= 0) return 1;
  return unlink(path) == 0 ? 0 : 1;
}
