#pragma once

#include <string>

// Files in the root of a logger's volume.
inline constexpr const char* kImageFile = "DAT.SRC";
inline constexpr const char* kConfigFile = "CONFIG.CFG";
inline constexpr const char* kConfirmFile = "OK.DAT";
inline constexpr const char* kFirmwareFile = "APP.BIN";

inline std::string LoggerFilePath(const std::string& root, const char* name) {
  if (!root.empty() && root.back() == '/') return root + name;
  return root + "/" + name;
}
