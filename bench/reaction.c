/* Times one reaction: starts COMMAND in a process group of its own, waits
 * until every process of that group is asleep, creates DIR/NAME and prints
 * the microseconds until that file is deleted, read from an inotify watch of
 * our own. Then ends the group. Usage: reaction DIR NAME COMMAND [ARG...] */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void Fail(const char *what) {
  perror(what);
  exit(1);
}

/* Returns 1 when every process of group `group` sleeps, 0 when one does not,
 * -1 when the group has no process left. */
static int GroupAsleep(pid_t group) {
  DIR *proc = opendir("/proc");
  if (proc == NULL) Fail("/proc");
  int members = 0, asleep = 1;
  for (struct dirent *entry; (entry = readdir(proc)) != NULL;) {
    char path[300], line[1024];
    snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
    FILE *stat = fopen(path, "r");
    if (stat == NULL) continue;
    const char *after_name = NULL;
    if (fgets(line, sizeof line, stat) != NULL) after_name = strrchr(line, ')');
    fclose(stat);
    char state;
    int parent, process_group;
    if (after_name == NULL ||
        sscanf(after_name, ") %c %d %d", &state, &parent, &process_group) != 3 ||
        process_group != group)
      continue;
    ++members;
    if (state != 'S') asleep = 0;
  }
  closedir(proc);
  return members == 0 ? -1 : asleep;
}

/* Waits until the group has slept through 30 ms of samples in a row. */
static void WaitUntilAsleep(pid_t group) {
  const double give_up = Seconds() + 30;
  int in_a_row = 0;
  while (in_a_row < 15) {
    const int asleep = GroupAsleep(group);
    if (asleep < 0) {
      fputs("reaction: the command ended before it waited\n", stderr);
      exit(1);
    }
    in_a_row = asleep ? in_a_row + 1 : 0;
    if (Seconds() > give_up) {
      fputs("reaction: the command never slept\n", stderr);
      exit(1);
    }
    usleep(2000);
  }
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fputs("usage: reaction DIR NAME COMMAND [ARG...]\n", stderr);
    return 2;
  }
  const char *dir = argv[1], *name = argv[2];
  char path[PATH_MAX];
  snprintf(path, sizeof path, "%s/%s", dir, name);

  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, dir, IN_DELETE) < 0)
    Fail("inotify");

  const pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  setpgid(child, child);
  WaitUntilAsleep(child);

  const double created = Seconds();
  const int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (file < 0) Fail(path);
  close(file);

  double deleted = 0;
  char events[64 * 1024]
      __attribute__((aligned(__alignof__(struct inotify_event))));
  while (deleted == 0) {
    struct pollfd ready = {watch, POLLIN, 0};
    if (poll(&ready, 1, 10000) != 1) {
      fprintf(stderr, "reaction: %s was not deleted within 10 s\n", path);
      unlink(path);
      break;
    }
    const ssize_t got = read(watch, events, sizeof events);
    for (ssize_t at = 0; at < got;) {
      const struct inotify_event *event = (void *)(events + at);
      if (event->len > 0 && strcmp(event->name, name) == 0) deleted = Seconds();
      at += (ssize_t)(sizeof *event + event->len);
    }
  }

  kill(-child, SIGTERM);
  waitpid(child, NULL, 0);
  if (deleted == 0) return 1;
  printf("%.1f\n", (deleted - created) * 1e6);
  return 0;
}
