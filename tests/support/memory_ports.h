#pragma once

// In-memory stand-ins for the window, the message box and the PC clock, for
// tests of the core that do not need the real dialog.

#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports.h"
#include "core/state.h"

class MemoryForm : public FormPort {
 public:
  struct Control {
    std::string text;
    int selection = -1;
    std::vector<std::string> entries;
    bool checked = false;
    bool enabled = true;
    LocalTime dateTime;
    std::string dateTimeFormat;
  };

  std::map<int, Control> controls;
  std::vector<int> refreshed;      // ids passed to refresh(), in order
  std::vector<int> textWrites;     // ids passed to setText(), in order
  int focused = 0;                 // id of the control that holds the focus
  bool caretAtEnd = false;

  Control& at(int id) { return controls[id]; }

  // The receive thread sets the Configure button's caption during an upgrade,
  // as the real window lets it; these calls are therefore guarded. at() and
  // the public members are for the test's thread while that thread is quiet.
  std::string text(int id) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = controls.find(id);
    if (it == controls.end()) return {};
    const Control& c = it->second;
    if (!c.entries.empty()) {
      return c.selection >= 0 && c.selection < static_cast<int>(c.entries.size())
                 ? c.entries[static_cast<std::size_t>(c.selection)]
                 : std::string();
    }
    return c.text;
  }
  void setText(int id, std::string_view t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    controls[id].text = std::string(t);
    textWrites.push_back(id);
  }
  int selection(int id) const override {
    auto it = controls.find(id);
    return it == controls.end() ? -1 : it->second.selection;
  }
  void setSelection(int id, int index) override {
    Control& c = controls[id];
    c.selection = index >= 0 && index < static_cast<int>(c.entries.size()) ? index : -1;
  }
  int findEntry(int id, std::string_view prefix) const override {
    auto it = controls.find(id);
    if (it == controls.end()) return -1;
    const auto& e = it->second.entries;
    for (std::size_t i = 0; i < e.size(); ++i) {
      if (e[i].size() < prefix.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < prefix.size() && same; ++k)
        same = std::tolower(static_cast<unsigned char>(e[i][k])) ==
               std::tolower(static_cast<unsigned char>(prefix[k]));
      if (same) return static_cast<int>(i);
    }
    return -1;
  }
  bool checked(int id) const override {
    auto it = controls.find(id);
    return it != controls.end() && it->second.checked;
  }
  void setChecked(int id, bool on) override { controls[id].checked = on; }
  bool enabled(int id) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = controls.find(id);
    return it == controls.end() || it->second.enabled;
  }
  void setEnabled(int id, bool on) override {
    std::lock_guard<std::mutex> lock(mutex_);
    controls[id].enabled = on;
  }
  void focusAtEnd(int id) override {
    focused = id;
    caretAtEnd = true;
  }
  void focus(int id) override {
    focused = id;
    caretAtEnd = false;
  }
  void refresh(int id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    refreshed.push_back(id);
  }
  LocalTime dateTime(int id) const override {
    auto it = controls.find(id);
    return it == controls.end() ? LocalTime{} : it->second.dateTime;
  }
  void setDateTimeFormat(int id, std::string_view format) override {
    controls[id].dateTimeFormat = std::string(format);
  }
 private:
  mutable std::mutex mutex_;
};

// Records the messages instead of showing them. The receive thread shows
// messages too, so recording is guarded; read through texts() or last()
// while that thread runs.
class MemoryMessages : public MessagePort {
 public:
  struct Shown {
    std::string text;
    MessageIcon icon;
  };
  std::vector<Shown> shown;
  void show(std::string_view text, MessageIcon icon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown.push_back({std::string(text), icon});
  }
  std::string last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown.empty() ? std::string() : shown.back().text;
  }
  std::vector<std::string> texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> all;
    for (const Shown& m : shown) all.push_back(m.text);
    return all;
  }

 private:
  mutable std::mutex mutex_;
};

class MemoryClock : public ClockPort {
 public:
  ClockReading reading;
  int32_t standardOffset = 0;
  ClockReading now() const override { return reading; }
  int32_t standardOffsetMinutes() const override { return standardOffset; }
};

// Logger drives as a list the test edits: each entry is a disk and its
// mounted volume (a real directory, so the logger's files are real files).
class MemoryDrives : public DrivePort {
 public:
  struct Drive {
    std::string diskPath;
    std::string root;
  };
  std::vector<Drive> drives;
  std::vector<std::string> unmounted;  // block devices of logger volumes without a mount
  int findCalls = 0;

  std::vector<std::string> unmountedLoggerVolumes() const override { return unmounted; }

  int findLoggerDrives(DriveTables& tables) override;
  bool diskPresent(const std::string& diskPath) override {
    for (const Drive& d : drives)
      if (d.diskPath == diskPath) return true;
    return false;
  }
};

inline int MemoryDrives::findLoggerDrives(DriveTables& tables) {
  ++findCalls;
  int count = 0;
  for (const Drive& d : drives) {
    if (count >= kPathTableSize - 1) break;
    tables.loggerDiskPaths[static_cast<std::size_t>(count)] = d.diskPath;
    tables.loggerDriveRoots[static_cast<std::size_t>(count)] = d.root;
    ++count;
  }
  tables.loggerDiskPaths[static_cast<std::size_t>(count)].clear();
  tables.loggerDriveRoots[static_cast<std::size_t>(count)].clear();
  return count;
}

// A mounter that answers as told and records what it was asked.
class MemoryMounter : public VolumeMounter {
 public:
  MountResult result = MountResult::Mounted;
  std::string error;
  std::vector<std::string> asked;
  MountResult mount(const std::string& blockDevice, std::string& mountPoint,
                    std::string& errorText) override {
    asked.push_back(blockDevice);
    mountPoint = result == MountResult::Mounted ? "/media/ann/LOGGER" : "";
    errorText = error;
    return result;
  }
};
