#pragma once

// What the fuzz targets share: the failure of an invariant, a reader over the
// fuzzer's bytes, UTF-8 checks, a scratch folder in memory, and the tool's
// state on in-memory ports (tests/support).

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_tool.h"

// An invariant that does not hold is a fault: stop so that the input is kept.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant failed: %s\n", what);
  std::abort();
}

// Takes the fuzzer's bytes from the front; past the end everything reads as zero.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t left() const { return size_ - at_; }
  bool empty() const { return at_ == size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : uint8_t{0}; }
  uint16_t u16() {
    const uint8_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  }
  // Up to `count` bytes, fewer at the end.
  std::string_view bytes(std::size_t count) {
    const std::size_t n = count < left() ? count : left();
    std::string_view out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  // Bytes up to the next `separator` (dropped) or the end.
  std::string_view until(char separator) {
    std::string_view rest(reinterpret_cast<const char*>(data_ + at_), left());
    const std::size_t end = rest.find(separator);
    if (end == std::string_view::npos) {
      at_ = size_;
      return rest;
    }
    at_ += end + 1;
    return rest.substr(0, end);
  }
  std::string_view rest() { return bytes(left()); }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Length of the well-formed UTF-8 character at the front of `text` (no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when there is none.
inline std::size_t Utf8CharacterLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = b(0);
  std::size_t n = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  if (b(1) < low || b(1) > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  return n;
}

inline bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t n = Utf8CharacterLength(text);
    if (n == 0) return false;
    text.remove_prefix(n);
  }
  return true;
}

// The characters of a valid UTF-8 text, one string each.
inline std::vector<std::string_view> Utf8Characters(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    std::size_t n = Utf8CharacterLength(text);
    if (n == 0) n = 1;
    out.push_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return out;
}

// A folder for one input's files, in memory where the machine has /dev/shm:
// the drive code flushes every file it writes, which on a disk costs
// milliseconds per input.
class ScratchDir {
 public:
  ScratchDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm")
                                                           : fs::temp_directory_path();
    std::string pattern = (base / "thlogger-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    Require(!path_.empty(), "a scratch folder can be made");
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What the form shows, for comparing two decodes of the same parameters.
struct FormSnapshot {
  std::vector<std::string> texts;
  std::vector<int> selections;
  std::vector<bool> checks;
  bool operator==(const FormSnapshot&) const = default;
};

inline FormSnapshot Snapshot(const MemoryForm& form, std::span<const int> textIds,
                             std::span<const int> selectionIds, std::span<const int> checkIds) {
  FormSnapshot s;
  for (int id : textIds) s.texts.push_back(form.text(id));
  for (int id : selectionIds) s.selections.push_back(form.selection(id));
  for (int id : checkIds) s.checks.push_back(form.checked(id));
  return s;
}
