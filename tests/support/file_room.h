#pragma once

// A volume that fills up, as the tool's writes meet it: while a FileRoom
// lives, no file this process writes grows past `bytes`. The write that
// crosses the limit stops short and the next one fails (EFBIG), the way
// writes to a full volume do, so the tool's real write path sees it.
// SIGXFSZ is ignored meanwhile, or the first refused write would end the
// test. Both are process-wide: keep a FileRoom to the span of one scenario.

#include <signal.h>
#include <sys/resource.h>

class FileRoom {
 public:
  explicit FileRoom(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &savedAction_);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileRoom() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    sigaction(SIGXFSZ, &savedAction_, nullptr);
  }
  FileRoom(const FileRoom&) = delete;
  FileRoom& operator=(const FileRoom&) = delete;

 private:
  rlimit saved_{};
  struct sigaction savedAction_ {};
};
