// The image a logger gives of itself ("DAT.SRC", or its head over HID):
// acceptance, header extraction and both decoders into the form, then, where
// the form passes validation, the block a Configure sends and the image of a
// logger that took it.
//
// Holds: a sealed image passes the checksum and a changed byte fails it;
// every text the decoders put in the form is valid UTF-8; Setup Lock lets
// only the device ID through; a block built from a decoded image reads back
// as whole records that a logger takes; the logger's new image passes
// acceptance and decodes to the same form (the alarm boxes, shown with one
// decimal, after one more round); a form accepted once is accepted again.

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/poll_pass.h"
#include "block_checks.h"
#include "core/control_ids.h"
#include "delivery/configure_flow.h"
#include "formats/image_decoder.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "fuzz_support.h"
#include "settings/validation.h"

namespace {

enum class Route { Drive, Hid };

// HID loggers hand out at most the head of the image, a 58-byte answer past 516.
constexpr std::size_t kHidHeadLimit = img::HidImageHead + 58;

constexpr std::array<int, 10> kFields = {
    ctl::DeviceName, ctl::DeviceId,      ctl::Website,        ctl::UserInfo,   ctl::Trademark,
    ctl::StartDelay, ctl::Interval,      ctl::AlarmLedFlash,  ctl::RecordLedFlash, ctl::PdfPassword};
constexpr std::array<int, 4> kAlarms = {ctl::LowTempAlarm, ctl::HighTempAlarm,
                                        ctl::LowHumidityAlarm, ctl::HighHumidityAlarm};
constexpr std::array<int, 5> kSelections = {ctl::TimeZone, ctl::DateFormat, ctl::Channel,
                                            ctl::TempUnit, ctl::PdfLanguage};
constexpr std::array<int, 4> kChecks = {ctl::PowerSave, ctl::OutputCsv, ctl::EnableAlarm,
                                        ctl::StartOnTime};

void RequireFormIsUtf8(const MemoryForm& form) {
  for (const auto& [id, control] : form.controls)
    Require(IsValidUtf8(control.text), "every text the decoders show is valid UTF-8");
}

// Loads `bytes` as the image and decodes it as the poll pass does, then
// serves the flags the decoder raised as the next pass would. False when the
// image is dropped or refused.
bool Decode(TestTool& tool, std::span<const uint8_t> bytes, Route route) {
  ToolState& s = tool.s();
  std::copy(bytes.begin(), bytes.end(), s.image.bytes.begin());
  s.image.length = static_cast<uint32_t>(bytes.size());
  ExtractHeader(s.image, s.device);
  if (s.device.productIdLow != img::LoggerProductIdLow) return false;
  bool decoded = false;
  if (route == Route::Drive) {
    if (s.device.fwVersionHigh >= 0x30) return false;
    s.poll.driveCount = 1;
    decoded = DecodeDriveImage(s, !tool.form.checked(ctl::SetupLock));
  } else {
    s.hid.deviceCount.store(1);
    decoded = DecodeHidImage(s, !tool.form.checked(ctl::SetupLock));
  }
  RequireFormIsUtf8(tool.form);
  if (!decoded) return false;
  ConfigureFlow(s);
  ConfigureFlow(s);  // what the first round raised again
  RequireFormIsUtf8(tool.form);
  return true;
}

// Validates the form as a Configure does and builds the block; returns the
// image of a logger that took it, nullopt when validation refused the form.
std::optional<std::vector<uint8_t>> Configure(TestTool& tool, std::vector<uint8_t> image) {
  ToolState& s = tool.s();
  const std::size_t before = tool.messages.texts().size();
  const bool valid = ValidateSettings(s);
  Require(tool.messages.texts().size() == before + (valid ? 0 : 1),
          "validation tells of its failure once, and of a success not at all");
  if (!valid) return std::nullopt;
  Require(BuildConfigBlock(s), "a block is built when none is waiting");
  const std::vector<ReceivedRecord> records = RequireWellFormedBlock(s);
  if (image.size() < img::MinDriveImageLength) image.resize(img::MinDriveImageLength);
  RequireLoggerTakes(image, records);
  return image;
}

// Setup Lock: a decoded image changes the device ID and nothing else the user set.
void RequireLockKeepsForm(TestTool& tool, std::span<const uint8_t> bytes, Route route) {
  std::vector<int> others;
  for (const auto& [id, control] : tool.form.controls)
    if (id != ctl::DeviceId && id != ctl::FwVersion && id != ctl::SetupLock) others.push_back(id);
  const FormSnapshot before = Snapshot(tool.form, others, kSelections, kChecks);
  tool.form.at(ctl::SetupLock).checked = true;
  Decode(tool, bytes, route);
  Require(Snapshot(tool.form, others, kSelections, kChecks) == before,
          "under Setup Lock only the device ID is taken from the logger");
}

// A tool as the window starts it, before any logger.
std::unique_ptr<TestTool> StartedTool() {
  auto tool = std::make_unique<TestTool>();
  InitialiseForm(tool->s());
  return tool;
}

void RoundTrip(std::span<const uint8_t> bytes, Route route) {
  auto first = StartedTool();
  if (!Decode(*first, bytes, route)) return;
  const FormSnapshot shown = Snapshot(first->form, kFields, kSelections, kChecks);
  std::optional<std::vector<uint8_t>> taken =
      Configure(*first, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  RequireLockKeepsForm(*first, bytes, route);
  if (!taken) return;

  auto reseal = [route](std::vector<uint8_t>& image) {
    if (route != Route::Drive) return;
    SealDriveImage(image.data(), image.size());
    auto check = std::make_unique<LoggerImage>();
    std::copy(image.begin(), image.end(), check->bytes.begin());
    check->length = static_cast<uint32_t>(image.size());
    Require(CheckDriveImage(*check) == ImageCheck::Accepted,
            "the image of a configured logger passes acceptance");
  };
  reseal(*taken);
  auto second = StartedTool();
  Require(Decode(*second, *taken, route), "a configured logger's image is decoded");
  Require(Snapshot(second->form, kFields, kSelections, kChecks) == shown,
          "what the form sent comes back from the logger as it was shown");
  const FormSnapshot alarms = Snapshot(second->form, kAlarms, {}, {});
  std::optional<std::vector<uint8_t>> again = Configure(*second, *taken);
  Require(again.has_value(), "a form accepted once is accepted again after the round trip");
  reseal(*again);
  auto third = StartedTool();
  Require(Decode(*third, *again, route), "a reconfigured logger's image is decoded");
  Require(Snapshot(third->form, kAlarms, {}, {}) == alarms,
          "the alarms settle after one round trip");
}

void Acceptance(const uint8_t* data, std::size_t size) {
  auto image = std::make_unique<LoggerImage>();
  const std::size_t n = std::min<std::size_t>(size, kImageCapacity);
  std::copy(data, data + n, image->bytes.begin());
  image->length = static_cast<uint32_t>(size);
  const ImageCheck check = CheckDriveImage(*image);
  const bool lengthOk = n % 4 == 0 && n >= img::MinDriveImageLength;
  Require((check == ImageCheck::LengthError) == !lengthOk, "the length rule decides alone");
  if (!lengthOk) return;

  // Sealed, the same length passes; any one byte changed, it fails.
  SealDriveImage(image->bytes.data(), n);
  Require(CheckDriveImage(*image) == ImageCheck::Accepted, "a sealed image is accepted");
  const std::size_t at = size > 0 ? data[0] % n : 0;
  image->bytes[at] ^= static_cast<uint8_t>(data[n - 1] | 1);
  Require(CheckDriveImage(*image) == ImageCheck::ChecksumError,
          "a changed byte fails the checksum");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kImageCapacity) return 0;
  Acceptance(data, size);

  // The drive route, on the bytes brought to a length the rules accept and sealed.
  std::vector<uint8_t> sealed(data, data + size);
  sealed.resize(std::max<std::size_t>((size + 3) / 4 * 4, img::MinDriveImageLength));
  SealDriveImage(sealed.data(), sealed.size());
  RoundTrip(sealed, Route::Drive);

  // The HID route, on the head a logger hands out.
  RoundTrip(std::span<const uint8_t>(data, std::min(size, kHidHeadLimit)), Route::Hid);
  return 0;
}
