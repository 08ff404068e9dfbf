#include "sim/drive_demo.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/logger_image.h"

namespace fs = std::filesystem;

namespace {

// "NAME" or "NAME:DIR", DIR not empty.
bool MatchDemo(std::string_view arg, std::string_view name, DemoRequest& demo) {
  if (arg == name) {
    demo.folder.clear();
    return true;
  }
  if (arg.size() > name.size() + 1 && arg.substr(0, name.size()) == name &&
      arg[name.size()] == ':') {
    demo.folder = std::string(arg.substr(name.size() + 1));
    return true;
  }
  return false;
}

// The folder the demo's logger lives in: DIR made absolute and created, or a
// fresh scratch folder. Empty `error` on success.
void PrepareFolder(const DemoRequest& request, std::string& folder, bool& scratch,
                   std::string& error) {
  error.clear();
  if (request.folder.empty()) {
    std::string pattern = (fs::temp_directory_path() / "thlogger-demo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error = "cannot create a folder for the virtual logger";
      return;
    }
    folder = pattern;
    scratch = true;
    return;
  }
  std::error_code ec;
  folder = fs::absolute(request.folder, ec).lexically_normal().string();
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    error = "cannot use " + request.folder + " as the virtual logger's folder";
    return;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
}

}  // namespace

ArgsResult ParseArgs(int argc, const char* const* argv, DemoRequest& demo) {
  if (argc <= 1) return ArgsResult::Normal;
  if (argc > 2) return ArgsResult::Invalid;
  const std::string_view arg = argv[1];
  if (MatchDemo(arg, "--demo=drive", demo)) {
    demo.kind = DemoKind::Drive;
    return ArgsResult::Demo;
  }
  if (MatchDemo(arg, "--demo=hid", demo)) {
    demo.kind = DemoKind::Hid;
    return ArgsResult::Demo;
  }
  return ArgsResult::Invalid;
}

DriveDemo::DriveDemo(const DemoRequest& request, std::string& error) {
  PrepareFolder(request, folder_, scratch_, error);
  if (!error.empty()) return;
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

HidDemo::HidDemo(const DemoRequest& request, std::string& error) {
  PrepareFolder(request, folder_, scratch_, error);
  if (!error.empty()) return;
  logger_ = std::make_unique<VirtualHidLogger>(
      scratch_ ? std::string() : LoggerFilePath(folder_, kDemoLogName));
  // The image a previous run left, when it is an HID-family logger's.
  auto kept = std::make_unique<LoggerImage>();
  if (std::FILE* in = std::fopen(LoggerFilePath(folder_, kImageFile).c_str(), "rb")) {
    kept->length = static_cast<uint32_t>(std::fread(kept->bytes.data(), 1, kept->bytes.size(), in));
    std::fclose(in);
    if (CheckDriveImage(*kept) == ImageCheck::Accepted)
      logger_->adoptImage(
          std::vector<uint8_t>(kept->bytes.begin(), kept->bytes.begin() + kept->length));
  }
  // Called under the port's lock, from the thread that wrote the TransferEnd.
  logger_->onTransfer = [this](VirtualHidLogger::Outcome outcome) {
    if (outcome == VirtualHidLogger::Outcome::Applied) saveImage();
  };
  port_.add(*logger_);
  if (!saveImage()) error = "cannot write the virtual logger's image into " + folder_;
}

HidDemo::~HidDemo() {
  if (scratch_) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  } else if (logger_) {
    port_.edit(0, [this](VirtualHidLogger&) { saveImage(); });
  }
}

bool HidDemo::saveImage() const {
  std::vector<uint8_t> image = logger_->image();
  SealDriveImage(image.data(), image.size());
  return WriteVolumeFile(LoggerFilePath(folder_, kImageFile), image.data(), image.size());
}
