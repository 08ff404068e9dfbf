#pragma once

// A fresh ToolState wired to in-memory ports, with the form's lists filled as
// the window fills them, and a scratch directory that is removed afterwards.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

#include "core/control_ids.h"
#include "settings/clock.h"
#include "support/memory_ports.h"

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "thlogger-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct TestTool {
  std::unique_ptr<ToolState> state = std::make_unique<ToolState>();
  MemoryForm form;
  MemoryMessages messages;
  MemoryClock clock;
  MemoryDrives drives;

  TestTool() {
    for (int k = 0; k < kTimeZoneEntries; ++k)
      form.at(ctl::TimeZone).entries.push_back(TimeZoneEntryText(k));
    form.at(ctl::DateFormat).entries = {"日/月/年", "月/日/年", "年/月/日"};
    form.at(ctl::PdfLanguage).entries = {"English", "Chinese"};
    form.at(ctl::TempUnit).entries = {"℃", "℉"};
    form.at(ctl::Channel).entries = {"Temperature", "Humidity", "Temp.+ Hum."};
    form.at(ctl::Configure).text = "Plug Logger";
    form.at(ctl::Configure).enabled = false;
    form.at(ctl::DeviceId).enabled = false;
    state->ports.form = &form;
    state->ports.messages = &messages;
    state->ports.clock = &clock;
    state->ports.drives = &drives;
    state->virtualLoggersOnly = true;  // every logger a test plugs in is virtual
  }
  ToolState& s() { return *state; }
};
