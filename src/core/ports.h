#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The core reaches the window and the operating system only through these
// small interfaces. The Qt window and the Linux implementations sit behind
// them; tests plug in in-memory ones.

// A calendar moment as the form's date-time picker and the PC clock give it.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The main window's controls, addressed by the ids of control_ids.h.
// Texts are UTF-8. A drop-down list's text is the text of its selected entry
// (empty when none is selected).
class FormPort {
 public:
  virtual ~FormPort() = default;

  virtual std::string text(int id) const = 0;
  // A program write raises the same change notification as typing.
  virtual void setText(int id, std::string_view text) = 0;

  // Selected entry of a drop-down list, -1 when none.
  virtual int selection(int id) const = 0;
  virtual void setSelection(int id, int index) = 0;
  // First entry whose text begins with `prefix` (case-insensitive), -1 if none.
  virtual int findEntry(int id, std::string_view prefix) const = 0;

  virtual bool checked(int id) const = 0;
  virtual void setChecked(int id, bool on) = 0;

  virtual bool enabled(int id) const = 0;
  virtual void setEnabled(int id, bool on) = 0;

  // Caret to the end of the text with nothing selected, scrolled into view,
  // keyboard focus on the control.
  virtual void focusAtEnd(int id) = 0;
  // Keyboard focus on the control, caret untouched.
  virtual void focus(int id) = 0;

  // Repaint the window's background under the control, so that nothing of an
  // earlier, longer text stays visible.
  virtual void refresh(int id) = 0;

  // The date-time picker's value, in local time.
  virtual LocalTime dateTime(int id) const = 0;
  virtual void setDateTimeFormat(int id, std::string_view format) = 0;
};

enum class MessageIcon { Warning, None };

// Modal message box with an OK button and the application's name as caption.
// Callable from any thread; it returns when the box has been closed.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void show(std::string_view text, MessageIcon icon = MessageIcon::Warning) = 0;
  // The window is closing and will show no more boxes: from now on a call
  // from another thread, or one already waiting, returns without a box, so
  // that thread can be stopped and joined.
  virtual void closeForOtherThreads() {}
};

// The PC clock.
struct ClockReading {
  LocalTime local;
  int32_t utcOffsetMinutes = 0;  // in force at that moment, daylight saving included
};

class ClockPort {
 public:
  virtual ~ClockPort() = default;
  virtual ClockReading now() const = 0;
  // Offset of the PC's standard time (no daylight saving), east positive.
  virtual int32_t standardOffsetMinutes() const = 0;
};

struct DriveTables;

// Finds the mounted volumes of plugged-in drive loggers.
class DrivePort {
 public:
  virtual ~DrivePort() = default;
  // Fills entries 0..count-1 of the tables (disk path and volume root), puts an
  // empty entry at `count` and returns count.
  virtual int findLoggerDrives(DriveTables& tables) = 0;
  // Whether the logger disk named by a disk path is still there.
  virtual bool diskPresent(const std::string& diskPath) = 0;
  // Block devices ("/dev/sdb1") of the logger volumes that the last
  // findLoggerDrives passed over for having no mount: without an automounter
  // the logger is plugged in but has no files to read yet.
  virtual std::vector<std::string> unmountedLoggerVolumes() const { return {}; }
};

enum class MountResult : uint8_t {
  Mounted,      // mounted; `mountPoint` says where
  Refused,      // the system would not (not authorised, no filesystem...); `error` says why
  Unavailable,  // nothing on this system mounts for a user (no UDisks2)
};

// Mounts a volume for the user without root, as a desktop's file manager does.
class VolumeMounter {
 public:
  virtual ~VolumeMounter() = default;
  virtual MountResult mount(const std::string& blockDevice, std::string& mountPoint,
                            std::string& error) = 0;
};

// ---- HID --------------------------------------------------------------------

inline constexpr int kHidReportSize = 64;
using HidReport = std::array<uint8_t, kHidReportSize>;

// One HID interface present on the system.
struct HidInterface {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t release = 0;  // the USB device's bcdDevice
  std::string path;
};

enum class HidRead : uint8_t {
  Report,    // a whole 64-byte input report arrived
  Short,     // the read ended with fewer bytes than a report
  TimedOut,  // nothing within the limit
  Gone,      // the device has been unplugged
  Failed,    // the wait failed for another reason
};

enum class HidWrite : uint8_t {
  Written,   // the report went out; `count` says how many bytes
  Busy,      // refused at once without being written; try again
  TimedOut,  // not written within the limit
  Gone,      // the device has been unplugged
  Failed,    // failed for another reason
};

struct HidWriteResult {
  HidWrite status = HidWrite::Failed;
  std::size_t count = 0;
};

// An open channel to one HID interface. A channel is used by one thread at a
// time; it is closed when the last owner lets go of it.
class HidChannel {
 public:
  virtual ~HidChannel() = default;
  // Waits up to `limitMs` for one input report. A report that has only partly
  // arrived is kept and completed by the next call.
  virtual HidRead read(HidReport& report, int limitMs) = 0;
  // Writes one report, waiting at most `limitMs` for the device to take it.
  virtual HidWriteResult write(const HidReport& report, int limitMs) = 0;
};

enum class HidAccess : uint8_t { Read, Write };

enum class HidOpen : uint8_t { Opened, Gone, NoPermission, Failed };

// The system's HID interfaces.
class HidPort {
 public:
  virtual ~HidPort() = default;
  // Every HID interface present now, in a repeatable order.
  virtual std::vector<HidInterface> enumerate() = 0;
  // Null unless `result` is Opened.
  virtual std::shared_ptr<HidChannel> open(const std::string& path, HidAccess access,
                                           HidOpen& result) = 0;
  // Whether the interface at `path` is still there.
  virtual bool present(const std::string& path) = 0;
};
