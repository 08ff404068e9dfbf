#include "sim/drive_demo.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "drive/logger_files.h"
#include "drive/volume_io.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "upgrade/firmware_images.h"

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

// One version below what the tool carries: Configure upgrades it first.
template <typename Logger>
void StartOld(Logger& logger, uint16_t carried) {
  const uint16_t old = static_cast<uint16_t>(carried - 1);
  logger.setU8(img::FwVersionHigh, static_cast<uint8_t>(old >> 8));
  logger.setU8(img::FwVersionLow, static_cast<uint8_t>(old));
}

}  // namespace

bool ParseDemoOption(std::string_view arg, DemoRequest& demo) {
  struct Option {
    const char* name;
    DemoKind kind;
    bool oldFirmware;
  };
  for (const Option& o : {Option{"--demo=drive", DemoKind::Drive, false},
                          Option{"--demo=hid", DemoKind::Hid, false},
                          Option{"--demo=old-drive", DemoKind::Drive, true},
                          Option{"--demo=old-hid", DemoKind::Hid, true}}) {
    if (MatchDemo(arg, o.name, demo)) {
      demo.kind = o.kind;
      demo.oldFirmware = o.oldFirmware;
      return true;
    }
  }
  return false;
}

DriveDemo::DriveDemo(const DemoRequest& request, std::string& error) {
  PrepareFolder(request, folder_, scratch_, error);
  if (!error.empty()) return;
  logger_ = std::make_unique<VirtualDriveLogger>(
      folder_, scratch_ ? std::string() : LoggerFilePath(folder_, kDemoLogName));
  if (request.oldFirmware) StartOld(*logger_, kAppImageStm32Version);
  // A valid "DAT.SRC" already in the folder, say a copy of a real logger's,
  // is its image; any "DAT.SRC" found stays for the tool to read as it is.
  logger_->adoptExistingImage();
  logger_->setUnplugSwitch(LoggerFilePath(folder_, kUnplugSwitchName));
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
    fs::remove_all(LoggerFilePath(folder_, kFirmwareFile), ec);
  }
}

HidDemo::HidDemo(const DemoRequest& request, std::string& error) {
  PrepareFolder(request, folder_, scratch_, error);
  if (!error.empty()) return;
  logger_ = std::make_unique<VirtualHidLogger>(
      scratch_ ? std::string() : LoggerFilePath(folder_, kDemoLogName));
  if (request.oldFirmware) StartOld(*logger_, kAppImageKl26Version);
  // A "DAT.SRC" already there, whatever it holds, is what the logger hands out.
  imageFile_ = ImageFile(LoggerFilePath(folder_, kImageFile));
  const std::optional<std::vector<uint8_t>> found = imageFile_.read();
  if (found) logger_->adoptImage(*found);
  // Called under the port's lock, from the thread that wrote the TransferEnd.
  logger_->onTransfer = [this](VirtualHidLogger::Outcome outcome) {
    if (outcome == VirtualHidLogger::Outcome::Applied) saveImage();
  };
  logger_->onUpgrade = [this] { saveImage(); };
  port_.add(*logger_);
  port_.setUnplugSwitch(0, LoggerFilePath(folder_, kUnplugSwitchName));
  if (!found && !saveImage()) error = "cannot write the virtual logger's image into " + folder_;
}

HidDemo::~HidDemo() {
  if (scratch_) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  } else if (logger_) {
    port_.edit(0, [this](VirtualHidLogger&) {
      if (!imageFile_.foreign()) saveImage();
    });
  }
}

bool HidDemo::saveImage() {
  std::vector<uint8_t> image = logger_->image();
  SealDriveImage(image.data(), image.size());
  return imageFile_.write(image);
}
