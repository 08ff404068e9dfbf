#include "hid/hidraw_port.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so a wait never ends early.
int RemainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

Clock::time_point DeadlineAfter(int limitMs) {
  return Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
}

// Waits for `events` on `fd` until `deadline`; interrupted waits resume with
// the time that is left. Returns poll's result and leaves the events in `revents`.
int PollUntil(int fd, short events, Clock::time_point deadline, short& revents) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    revents = entry.revents;
    return ready;
  }
}

class HidrawChannel : public HidChannel {
 public:
  explicit HidrawChannel(int fd) : fd_(fd) {}
  // The descriptor is released even when close() reports an error.
  ~HidrawChannel() override { static_cast<void>(::close(fd_)); }
  HidrawChannel(const HidrawChannel&) = delete;
  HidrawChannel& operator=(const HidrawChannel&) = delete;

  // A hidraw node hands one whole report per read(). A node that is a byte
  // stream (a pty standing in for one in tests, say) may hand a report in
  // pieces: they are gathered here, across calls, until 64 bytes are in.
  // Short is never returned: our logger's reports are always 64 bytes, so a
  // short count can only be part of one.
  HidRead read(HidReport& report, int limitMs) override {
    const Clock::time_point deadline = DeadlineAfter(limitMs);
    for (;;) {
      short revents = 0;
      const int ready = PollUntil(fd_, POLLIN, deadline, revents);
      if (ready < 0) return HidRead::Failed;
      if (ready == 0) return HidRead::TimedOut;
      if (revents & (POLLHUP | POLLERR)) return HidRead::Gone;
      if (revents & POLLNVAL) return HidRead::Failed;

      const ssize_t got = ::read(fd_, pending_.data() + filled_, pending_.size() - filled_);
      if (got == 0) return HidRead::Gone;
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        if (errno == EIO || errno == ENODEV) return HidRead::Gone;
        return HidRead::Failed;
      }
      filled_ += static_cast<std::size_t>(got);
      if (filled_ == pending_.size()) {
        report = pending_;
        filled_ = 0;
        return HidRead::Report;
      }
    }
  }

  // The Windows tool waits up to its limit for an overlapped write to
  // complete. Here the limit bounds the wait for the node to accept the
  // report (poll for POLLOUT); the write() itself is non-blocking. On a real
  // usbhid node write() may still block inside the kernel until the device
  // takes the report (up to 5 s): hidraw's poll always reports it writable.
  HidWriteResult write(const HidReport& report, int limitMs) override {
    const Clock::time_point deadline = DeadlineAfter(limitMs);
    for (;;) {
      short revents = 0;
      const int ready = PollUntil(fd_, POLLOUT, deadline, revents);
      if (ready < 0) return {HidWrite::Failed, 0};
      if (ready == 0) return {HidWrite::TimedOut, 0};
      if (revents & (POLLHUP | POLLERR)) return {HidWrite::Gone, 0};
      if (revents & POLLNVAL) return {HidWrite::Failed, 0};

      const ssize_t put = ::write(fd_, report.data(), report.size());
      if (put >= 0) return {HidWrite::Written, static_cast<std::size_t>(put)};
      switch (errno) {
        case EINTR:
          continue;  // nothing went out; wait again within the limit
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
          return {HidWrite::Busy, 0};
        case ETIMEDOUT:  // usbhid gave up on the transfer
          return {HidWrite::TimedOut, 0};
        case ENODEV:
        case EIO:
        case ESHUTDOWN:
          return {HidWrite::Gone, 0};
        default:  // EPIPE among them: a stalled endpoint, the device is still there
          return {HidWrite::Failed, 0};
      }
    }
  }

 private:
  int fd_;
  HidReport pending_{};
  std::size_t filled_ = 0;
};

}  // namespace

HidOpen HidOpenResultForErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return HidOpen::NoPermission;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return HidOpen::Gone;
    default:
      return HidOpen::Failed;
  }
}

HidrawPort::HidrawPort() : initialised_(hid_init() == 0) {}

HidrawPort::~HidrawPort() {
  if (initialised_) static_cast<void>(hid_exit());  // nothing to do if it fails
}

std::vector<HidInterface> HidrawPort::enumerate() {
  std::vector<HidInterface> found;
  hid_device_info* const list = hid_enumerate(0, 0);  // null: none, or listing failed
  for (const hid_device_info* entry = list; entry != nullptr; entry = entry->next) {
    if (entry->path == nullptr) continue;  // nothing we could open
    found.push_back(HidInterface{entry->vendor_id, entry->product_id, entry->release_number,
                                 entry->path});
  }
  hid_free_enumeration(list);
  return found;
}

std::shared_ptr<HidChannel> HidrawPort::open(const std::string& path, HidAccess access,
                                             HidOpen& result) {
  // O_NOCTTY: a node that turns out to be a terminal never becomes ours.
  const int mode = access == HidAccess::Read ? O_RDONLY : O_WRONLY;
  const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result = HidOpenResultForErrno(errno);
    return nullptr;
  }
  result = HidOpen::Opened;
  return std::make_shared<HidrawChannel>(fd);
}

bool HidrawPort::present(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}
