#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
};
