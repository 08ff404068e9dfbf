#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// Cuts short a thread's wait for a value that another thread changes. It
// carries no data: the values themselves are atomics with their own orders;
// a waiter re-reads them after every wake, so a missed or spurious wake costs
// at most the wait's limit, never correctness.
class Wakeup {
 public:
  // Take a token, test the awaited values, then wait with the token: a
  // notify() between the token and the wait ends the wait at once.
  uint32_t token() const { return seq_.load(std::memory_order_acquire); }
  void wait(uint32_t token, std::chrono::nanoseconds limit) const;
  void notify();

 private:
  std::atomic<uint32_t> seq_{0};
};
