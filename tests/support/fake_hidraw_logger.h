#pragma once

// A HID logger behind a fake hidraw node, for tests of the real Linux HID
// port. It needs a process started under umockdev-wrapper, whose preloaded
// library sends /sys and /dev to the test bed. Link the test with the
// fake_hidraw_logger library (tests/hidraw/fake_hidraw_logger.cpp).
//
// The test bed holds three HID interfaces, each with the chain the kernel
// builds (USB device, USB interface, HID device, hidraw node):
//
//   /dev/hidraw100   2017:0003 release 0400   the logger, answered by a thread
//   /dev/hidraw101   2017:0003 release 0401   a neighbour of another revision
//   /dev/hidraw102   046d:c52b release 1211   another product
//
// The numbers lie above the kernel's 64 hidraw nodes, so a real node can never
// answer in place of a fake one.
//
// umockdev backs each node with a pty: a byte stream, not a queue of reports.
// The thread holds the other end of the logger's node, gathers 64-byte
// reports and answers each through the responder after the latency. Every
// switch may be thrown from the test's thread while the logger runs.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ports.h"

class FakeHidrawLogger {
 public:
  // A report in, maybe a report out.
  using Responder = std::function<std::optional<HidReport>(const HidReport&)>;

  static constexpr const char* kLoggerPath = "/dev/hidraw100";
  static constexpr const char* kNeighbourPath = "/dev/hidraw101";
  static constexpr const char* kOtherPath = "/dev/hidraw102";

  explicit FakeHidrawLogger(Responder responder = {});
  // Stops and joins the thread, then removes the test bed.
  ~FakeHidrawLogger();
  FakeHidrawLogger(const FakeHidrawLogger&) = delete;
  FakeHidrawLogger& operator=(const FakeHidrawLogger&) = delete;

  // Whether the test bed stands and the thread runs; error() says why not.
  bool ok() const;
  std::string error() const;

  void setResponder(Responder responder);
  // Time between a whole report in and the answer going out (default 1 ms).
  void setLatency(std::chrono::milliseconds latency);
  // Answers go out in two pieces, `gap` apart; zero sends them whole.
  void splitAnswers(std::chrono::milliseconds gap);
  // The logger takes nothing for `span`: the node accepts no report until then.
  void holdWrites(std::chrono::milliseconds span);
  // Pulls the logger out: the thread stops, open channels see the node hang
  // up, and the node and its devices leave /dev and /sys.
  void unplug();

  // Every whole report the logger has taken, in order.
  std::vector<HidReport> received() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
