#include "support/fake_hidraw_logger.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The chain the kernel builds for one USB HID interface, in umockdev's record
// format: USB device, its first interface, the HID device, the hidraw node.
struct FakeInterface {
  const char* port;         // USB port below the root hub
  const char* vendor;       // idVendor, as sysfs spells it
  const char* product;      // idProduct
  const char* release;      // bcdDevice
  const char* hidName;      // the HID device's directory name
  const char* node;         // hidrawN
  const char* descriptor;   // report descriptor, hex
};

// Vendor page 0xFF00, report id 1, 63-byte input and output reports.
constexpr const char* kLoggerDescriptor =
    "0600FF0901A1018501150026FF007508953F0901810209019102C0";
// A keyboard's modifier keys, one application collection.
constexpr const char* kKeyboardDescriptor = "05010906A101050719E029E715002501750195088102C0";

constexpr FakeInterface kLogger{"1-1", "2017", "0003", "0400", "0003:2017:0003.0001", "hidraw100",
                                kLoggerDescriptor};
constexpr FakeInterface kNeighbour{"1-2", "2017", "0003", "0401", "0003:2017:0003.0002",
                                   "hidraw101", kLoggerDescriptor};
constexpr FakeInterface kOther{"1-3", "046d", "c52b", "1211", "0003:046D:C52B.0003", "hidraw102",
                               kKeyboardDescriptor};

const std::string kBus = "/devices/pci0000:00/0000:00:14.0/usb1";

std::string UsbDevice(const FakeInterface& i) { return kBus + "/" + i.port; }
std::string UsbInterface(const FakeInterface& i) { return UsbDevice(i) + "/" + i.port + ":1.0"; }
std::string HidDevice(const FakeInterface& i) { return UsbInterface(i) + "/" + i.hidName; }
std::string HidrawDevice(const FakeInterface& i) { return HidDevice(i) + "/hidraw/" + i.node; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Record(const FakeInterface& i) {
  const std::string hidId = "0003:0000" + Upper(i.vendor) + ":0000" + Upper(i.product);
  const std::string minor = std::string(i.node).substr(6);
  return "P: " + UsbDevice(i) +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb"
         "\nA: idVendor=" + i.vendor + "\nA: idProduct=" + i.product +
         "\nA: bcdDevice=" + i.release + "\nA: manufacturer=Test\nA: product=Test device\n\n"
         "P: " + UsbInterface(i) +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid"
         "\nA: bInterfaceNumber=00\nA: bInterfaceClass=03\n\n"
         "P: " + HidDevice(i) +
         "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=" + hidId +
         "\nE: HID_NAME=Test device\nE: HID_UNIQ=\nH: report_descriptor=" + i.descriptor + "\n\n"
         "P: " + HidrawDevice(i) +
         "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + i.node + "\nA: dev=243:" + minor +
         "\nL: device=../../../" + i.hidName + "\nN: " + i.node + "\n\n";
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

struct FakeHidrawLogger::Impl {
  UMockdevTestbed* testbed = nullptr;
  std::string setupError;
  int master = -1;  // the logger's end of the pty; the test bed owns it
  int slave = -1;   // ours: keeps the node's end open, and stops it for holds
  int wake = -1;    // eventfd that cuts the thread's waits short
  std::thread thread;

  mutable std::mutex mutex;  // guards everything below
  Responder responder;
  milliseconds latency{1};
  milliseconds gap{0};
  std::optional<Clock::time_point> holdEnd;
  std::vector<HidReport> received;
  std::string threadError;
  bool stopping = false;
  bool unplugged = false;

  bool setUp();
  bool setUpFailed(std::string why) {
    setupError = std::move(why);
    return false;
  }
  void run();
  bool answer(const HidReport& request);
  bool pause(milliseconds span);
  bool writeAll(const uint8_t* data, std::size_t size);
  bool stopRequested() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
  }
  void fail(std::string what) {
    std::lock_guard<std::mutex> lock(mutex);
    threadError = std::move(what);
  }
  void signal() const {
    const uint64_t one = 1;
    // A full counter already wakes the thread; nothing else can fail here.
    [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
  }
  void drain() const {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);  // EAGAIN: already drained
  }
  void stopThread() {
    if (!thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    signal();
    thread.join();
  }
  // Lets the node's end write again; the caller holds the mutex.
  void releaseHold() {
    if (holdEnd && slave >= 0 && ::tcflow(slave, TCOON) != 0) threadError = Errno("tcflow TCOON");
    holdEnd.reset();
  }
};

bool FakeHidrawLogger::Impl::setUp() {
  testbed = umockdev_testbed_new();
  // Answers only once a test bed stands.
  if (!umockdev_in_mock_environment()) return setUpFailed("not running under umockdev-wrapper");
  const std::string records = Record(kLogger) + Record(kNeighbour) + Record(kOther);
  GError* gerror = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, records.c_str(), &gerror)) {
    const std::string why = gerror ? gerror->message : "unknown error";
    if (gerror) g_error_free(gerror);
    return setUpFailed("test bed: " + why);
  }

  master = umockdev_testbed_get_dev_fd(testbed, kLoggerPath);
  if (master < 0) return setUpFailed("the logger's node is not a stream");
  // Reports are binary: no byte may be taken for flow control or a signal.
  termios mode{};
  if (::tcgetattr(master, &mode) != 0) return setUpFailed(Errno("tcgetattr"));
  ::cfmakeraw(&mode);
  if (::tcsetattr(master, TCSANOW, &mode) != 0) return setUpFailed(Errno("tcsetattr"));
  const int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
    return setUpFailed(Errno("fcntl"));
  }

  // The node is a link to the pty's far end. While nobody has that end open
  // the master polls as hung up, so the fixture keeps it open for its life.
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  const std::string link = std::string(root) + kLoggerPath;
  g_free(root);
  char target[256] = {};
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return setUpFailed(Errno("readlink"));
  slave = ::open(target, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return setUpFailed(Errno(target));

  wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) return setUpFailed(Errno("eventfd"));

  thread = std::thread([this] { run(); });
  return true;
}

void FakeHidrawLogger::Impl::run() {
  HidReport pending{};
  std::size_t filled = 0;
  for (;;) {
    int timeoutMs = -1;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      if (holdEnd) {
        const auto left = *holdEnd - Clock::now();
        if (left <= Clock::duration::zero()) {
          releaseHold();
        } else {
          timeoutMs = static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
        }
      }
    }
    pollfd waits[2] = {{wake, POLLIN, 0}, {master, POLLIN, 0}};
    const int ready = ::poll(waits, 2, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return fail(Errno("poll"));
    }
    if (waits[0].revents & POLLIN) {
      drain();
      continue;
    }
    if (waits[1].revents & POLLIN) {
      const ssize_t got = ::read(master, pending.data() + filled, pending.size() - filled);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return fail(got < 0 ? Errno("read") : "the node's end closed");
      filled += static_cast<std::size_t>(got);
      if (filled < pending.size()) continue;
      filled = 0;
      if (!answer(pending)) return;
    } else if (waits[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return fail("the logger's node hung up");
    }
  }
}

bool FakeHidrawLogger::Impl::answer(const HidReport& request) {
  Responder respond;
  milliseconds wait{};
  milliseconds split{};
  {
    std::lock_guard<std::mutex> lock(mutex);
    received.push_back(request);
    respond = responder;
    wait = latency;
    split = gap;
  }
  if (!respond) return true;
  const std::optional<HidReport> reply = respond(request);
  if (!reply) return true;
  if (!pause(wait)) return false;
  if (split == milliseconds::zero()) return writeAll(reply->data(), reply->size());
  constexpr std::size_t kFirstPiece = 20;
  return writeAll(reply->data(), kFirstPiece) && pause(split) &&
         writeAll(reply->data() + kFirstPiece, reply->size() - kFirstPiece);
}

// Waits out `span`; false when the thread is to stop.
bool FakeHidrawLogger::Impl::pause(milliseconds span) {
  const Clock::time_point end = Clock::now() + span;
  for (;;) {
    if (stopRequested()) return false;
    const auto left = end - Clock::now();
    if (left <= Clock::duration::zero()) return true;
    pollfd waitFor{wake, POLLIN, 0};
    const int ready =
        ::poll(&waitFor, 1, static_cast<int>(std::chrono::ceil<milliseconds>(left).count()));
    if (ready < 0 && errno != EINTR) return fail(Errno("poll")), false;
    if (ready > 0) drain();
  }
}

bool FakeHidrawLogger::Impl::writeAll(const uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (stopRequested()) return false;
    const ssize_t put = ::write(master, data + done, size - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) return fail(Errno("write")), false;
    pollfd waits[2] = {{wake, POLLIN, 0}, {master, POLLOUT, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) return fail(Errno("poll")), false;
    if (waits[0].revents & POLLIN) drain();
  }
  return true;
}

FakeHidrawLogger::FakeHidrawLogger(Responder responder) : impl_(std::make_unique<Impl>()) {
  impl_->responder = std::move(responder);
  impl_->setUp();
}

FakeHidrawLogger::~FakeHidrawLogger() {
  impl_->stopThread();
  if (impl_->slave >= 0) static_cast<void>(::close(impl_->slave));
  if (impl_->wake >= 0) static_cast<void>(::close(impl_->wake));
  // Closes the pty masters and removes the test bed's directory.
  if (impl_->testbed) g_object_unref(impl_->testbed);
}

bool FakeHidrawLogger::ok() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->setupError.empty() && impl_->threadError.empty();
}

std::string FakeHidrawLogger::error() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->setupError.empty() ? impl_->threadError : impl_->setupError;
}

void FakeHidrawLogger::setResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->responder = std::move(responder);
}

void FakeHidrawLogger::setLatency(std::chrono::milliseconds latency) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->latency = latency;
}

void FakeHidrawLogger::splitAnswers(std::chrono::milliseconds gap) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->gap = gap;
}

void FakeHidrawLogger::holdWrites(std::chrono::milliseconds span) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->slave < 0 || impl_->unplugged) return;
    // Stopping the node's end is immediate: the next poll for POLLOUT on
    // the node already waits.
    if (::tcflow(impl_->slave, TCOOFF) != 0) {
      impl_->threadError = Errno("tcflow TCOOFF");
      return;
    }
    impl_->holdEnd = Clock::now() + span;
  }
  impl_->signal();  // the thread lifts the hold when it is due
}

void FakeHidrawLogger::unplug() {
  if (!impl_->setupError.empty() || impl_->unplugged) return;
  impl_->stopThread();
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->unplugged = true;
  impl_->releaseHold();
  // Removing the devices only unlinks the node: an open channel would stay
  // connected to the pty, which the test bed keeps until it goes. Closing the
  // master hangs the node up, as the kernel does with a hidraw node whose
  // device is gone. The test bed closes this descriptor number again at the
  // end, so it gets /dev/null in place of the master rather than a gap that
  // another open could fill.
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0 || ::dup2(null, impl_->master) < 0) impl_->threadError = Errno("hang up");
  if (null >= 0) static_cast<void>(::close(null));
  static_cast<void>(::close(impl_->slave));
  impl_->slave = -1;
  for (const std::string& device : {HidrawDevice(kLogger), HidDevice(kLogger),
                                    UsbInterface(kLogger), UsbDevice(kLogger)}) {
    umockdev_testbed_remove_device(impl_->testbed, ("/sys" + device).c_str());
  }
}

std::vector<HidReport> FakeHidrawLogger::received() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->received;
}
