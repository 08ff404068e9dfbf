#include "core/wakeup.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

void Wakeup::wait(uint32_t token, std::chrono::nanoseconds limit) const {
  if (limit <= std::chrono::nanoseconds::zero()) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
  timespec relative{static_cast<time_t>(seconds.count()),
                    static_cast<long>((limit - seconds).count())};
  // Returns at once when the sequence has moved on since the token.
  syscall(SYS_futex, reinterpret_cast<const uint32_t*>(&seq_), FUTEX_WAIT_PRIVATE, token,
          &relative, nullptr, 0);
}

void Wakeup::notify() {
  seq_.fetch_add(1, std::memory_order_release);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&seq_), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr,
          nullptr, 0);
}
