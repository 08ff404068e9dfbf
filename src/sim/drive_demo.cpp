#include "sim/drive_demo.h"

#include <cstdlib>
#include <filesystem>

#include "drive/logger_files.h"

namespace fs = std::filesystem;

ArgsResult ParseArgs(int argc, const char* const* argv, DemoRequest& demo) {
  if (argc <= 1) return ArgsResult::Normal;
  if (argc > 2) return ArgsResult::Invalid;
  const std::string_view arg = argv[1];
  constexpr std::string_view kDrive = "--demo=drive";
  if (arg == kDrive) {
    demo.folder.clear();
    return ArgsResult::Demo;
  }
  if (arg.size() > kDrive.size() + 1 && arg.substr(0, kDrive.size()) == kDrive &&
      arg[kDrive.size()] == ':') {
    demo.folder = std::string(arg.substr(kDrive.size() + 1));
    return ArgsResult::Demo;
  }
  return ArgsResult::Invalid;
}

DriveDemo::DriveDemo(const DemoRequest& request, std::string& error) {
  error.clear();
  if (request.folder.empty()) {
    std::string pattern = (fs::temp_directory_path() / "thlogger-demo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error = "cannot create a folder for the virtual logger";
      return;
    }
    folder_ = pattern;
    scratch_ = true;
  } else {
    std::error_code ec;
    folder_ = fs::absolute(request.folder, ec).lexically_normal().string();
    fs::create_directories(folder_, ec);
    if (ec || !fs::is_directory(folder_)) {
      error = "cannot use " + request.folder + " as the virtual logger's folder";
      return;
    }
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  }
  logger_ = std::make_unique<VirtualDriveLogger>(
      folder_, scratch_ ? std::string() : LoggerFilePath(folder_, kDemoLogName));
  // A "DAT.SRC" already in the folder, say a copy of a real logger's, is its image.
  logger_->adoptExistingImage();
  if (!logger_->plugIn()) {
    error = "cannot write the virtual logger's files into " + folder_;
    return;
  }
  drives_.add(*logger_);
}

DriveDemo::~DriveDemo() {
  std::error_code ec;
  if (scratch_) {
    fs::remove_all(folder_, ec);
  } else if (logger_) {
    // Leave the logger's image for the next run; drop a half-done handshake.
    if (!logger_->plugged()) logger_->plugIn();
    fs::remove_all(LoggerFilePath(folder_, kConfigFile), ec);
    fs::remove_all(LoggerFilePath(folder_, kConfirmFile), ec);
  }
}
