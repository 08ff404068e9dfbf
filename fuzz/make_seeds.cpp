// Writes the seed corpora: for each fuzz target a few small, valid inputs
// made with the tool's own encoders, plus the inputs that once showed a
// fault. Usage: fuzz_make_seeds <corpus folder>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string_view>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/codepage.h"
#include "formats/config_block.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "sim/logger_parameters.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(const std::string& root, const std::string& target, const std::string& name,
         const Bytes& bytes) {
  const std::filesystem::path dir = std::filesystem::path(root) / target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// ---- Images -------------------------------------------------------------------

Bytes Sealed(Bytes image) {
  SealDriveImage(image.data(), image.size());
  return image;
}

void Images(const std::string& root) {
  Put(root, "logger_image", "drive-default", Sealed(DefaultLoggerImage(0x24, 0x10)));

  Bytes chinese = DefaultLoggerImage(0x24, 0x03);
  PutText(chinese, img::DeviceName, img::DeviceNameSize, ToCodePage("温湿度记录仪"));
  PutText(chinese, img::UserInfo, img::UserInfoSize, ToCodePage("冷链 运输 2号"));
  PutU8(chinese, img::TempUnit, 1);
  PutU8(chinese, img::PdfLanguage, 1);
  PutU8(chinese, img::DateFormat, 2);
  PutU8(chinese, img::TzHours, static_cast<uint8_t>(-5));
  PutU8(chinese, img::TzMinutes, static_cast<uint8_t>(-30));
  Put(root, "logger_image", "drive-chinese-fahrenheit", Sealed(chinese));

  Bytes humidity = DefaultLoggerImage(0x23, 0x01);
  PutU8(humidity, img::CapabilityFlags, img::CapExtended | img::CapHumidity);
  PutU8(humidity, img::ChannelMask, 2);
  PutU8(humidity, img::MemoryTypeCode, 20);
  Put(root, "logger_image", "drive-humidity-only", Sealed(humidity));

  Bytes basic = DefaultLoggerImage(0x20, 0x00);
  PutU8(basic, img::CapabilityFlags, img::CapTemperature);
  Put(root, "logger_image", "drive-basic", Sealed(basic));

  Bytes hid = DefaultLoggerImage(0x40, 0x93);
  PutU8(hid, img::OptionBits, img::OptionAlarm | img::OptionCsv);
  PutU32(hid, img::PowerSaveTimeout, 300);
  PutText(hid, img::PdfPassword, img::PdfPasswordSize, "abc123");
  hid.resize(img::HidImageHead);
  Put(root, "logger_image", "hid-head", hid);
}

// ---- Configuration blocks --------------------------------------------------------

template <std::size_t N>
void SetText(std::array<uint8_t, N>& field, std::string_view utf8) {
  const std::string bytes = ToCodePage(utf8);
  field.fill(0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), N), field.begin());
}

Bytes Block(uint8_t fwVersionHigh, bool startOnTime) {
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = fwVersionHigh;
  LoggerSettings& s = state->settings;
  s.tempAlarmLowC = 2.0;
  s.tempAlarmHighC = 8.0;
  s.humidityAlarmLow = 20.0;
  s.humidityAlarmHigh = 80.0;
  s.channels = 3;
  s.dateFormat = 1;
  s.tzHours = -5;
  s.tzMinutes = -30;
  s.startDelayMinutes = 10;
  s.intervalSeconds = 300;
  s.powerSaveTimeout = -1;
  s.alarmLedFlashSeconds = 10;
  s.recordLedFlashSeconds = 10;
  s.startOnTime = startOnTime ? 1 : 0;
  s.startYear = 26;
  s.startMonth = 12;
  s.startDay = 24;
  s.alarmEnabled = 1;
  SetText(s.deviceName, "温湿度记录仪");
  SetText(s.deviceId, "VL000001");
  SetText(s.website, "www.example.com");
  SetText(s.trademark, "KELM");
  SetText(s.pdfPassword, "abc123");
  state->clock.loggerClock = {26, 12, 10, 8, 30, 0};
  BuildConfigBlock(*state);
  const std::span<const uint8_t> bytes = BlockBytes(state->block);
  return Bytes(bytes.begin(), bytes.end());
}

void Blocks(const std::string& root) {
  Put(root, "config_records", "layout-a", Block(0x24, false));
  Put(root, "config_records", "layout-a-address-ff", Block(0x23, false));
  Put(root, "config_records", "layout-b-start-time", Block(0x40, true));
  Bytes spoiled = Block(0x24, false);
  spoiled[spoiled.size() / 2] ^= 0x5A;
  Put(root, "config_records", "layout-a-spoiled", spoiled);
  Bytes cut = Block(0x24, false);
  cut.pop_back();
  Put(root, "config_records", "layout-a-cut", cut);
  // What the drive route of a firmware upgrade sends (no APP.BIN comes with it here).
  auto state = std::make_unique<ToolState>();
  state->device.fwVersionHigh = 0x24;
  const std::array<uint8_t, 6> clock{};
  const std::array<uint8_t, 8> file{'A', 'P', 'P', '.', 'B', 'I', 'N', 0};
  AppendRecord(*state, 0x03, clock);
  AppendRecord(*state, 0x64, file);
  AppendRecord(*state, 0xFF, nullptr, 0);
  const std::span<const uint8_t> upgrade = BlockBytes(state->block);
  Put(root, "config_records", "upgrade-request", Bytes(upgrade.begin(), upgrade.end()));
}

// ---- HID answers ------------------------------------------------------------------

// One frame: control byte, length byte, payload.
Bytes Frame(uint8_t control, const Bytes& payload) {
  Bytes out{control, static_cast<uint8_t>(6 + payload.size())};
  Append(out, payload);
  return out;
}

void HidAnswers(const std::string& root) {
  Bytes image = DefaultLoggerImage(0x40, 0x93);
  PutText(image, img::PdfPassword, img::PdfPasswordSize, "abc123");

  // The image in full answers, then two configuration chunks answered with Status 0.
  Bytes whole{2, 0x0D, 0, 0x11, 20};
  for (std::size_t at = 0; at < 522; at += 58)
    Append(whole, Frame(0x00, Bytes(image.begin() + static_cast<std::ptrdiff_t>(at),
                                    image.begin() + static_cast<std::ptrdiff_t>(at + 58))));
  Append(whole, Frame(0x10, {0}));
  Append(whole, Frame(0x10, {0}));
  Put(root, "hid_link", "image-then-commands", whole);

  // A short image ended by an empty answer, after a refused frame, a wrong
  // answer and a short read.
  Bytes shortImage{1, 0x94, 0};
  Append(shortImage, Bytes{0x00, 5});            // length byte 5: refused
  Append(shortImage, Frame(0x10, {0}));          // Status instead of image bytes
  Append(shortImage, Bytes{0x1F});               // a short read, the logger still there
  Append(shortImage, Frame(0x00, Bytes(image.begin(), image.begin() + 40)));
  Append(shortImage, Frame(0x00, {}));
  Put(root, "hid_link", "short-image-with-faults", shortImage);

  // Eleven wrong answers end the read.
  Bytes wrong{0};
  for (int i = 0; i < 11; ++i) Append(wrong, Frame(0x10, {3}));
  Put(root, "hid_link", "eleven-wrong-answers", wrong);

  // Upgrades of a 192-byte image: 4 data frames, then the final frame.
  const uint8_t shape = 47;
  Bytes ok{shape};
  for (int i = 0; i < 4; ++i) Append(ok, Frame(0x00, {}));
  Append(ok, Bytes{0x40, 10});  // the logger's own sum of what it received
  Put(root, "hid_upgrade", "accepted", ok);

  Bytes resent{shape};
  Append(resent, Frame(0x00, {}));
  Append(resent, Bytes{0x1F});  // silence: the frame goes again
  for (int i = 0; i < 3; ++i) Append(resent, Frame(0x00, {}));
  Append(resent, Bytes{0x40, 10});
  Put(root, "hid_upgrade", "resent-after-silence", resent);

  Bytes rejected{shape};
  Append(rejected, Frame(0x00, {}));
  Append(rejected, Frame(0x10, {1}));
  Put(root, "hid_upgrade", "rejected", rejected);

  Bytes mismatch{shape};
  for (int i = 0; i < 4; ++i) Append(mismatch, Frame(0x00, {}));
  Append(mismatch, Frame(0x00, {1, 2, 3, 4}));
  Put(root, "hid_upgrade", "checksum-mismatch", mismatch);
}

// ---- Form texts --------------------------------------------------------------------

Bytes Form(uint8_t family, uint8_t channel, uint8_t unit, const std::vector<std::string>& texts) {
  // the whole form; family, capabilities, device flags, sensor range, five
  // selections, switches; then the texts
  Bytes out{1, family, 0xE1, 0, 40, 85, 8, 1, channel, unit, 0, 0xF3};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out.push_back(0);
    Append(out, Text(texts[i]));
  }
  return out;
}

void FormTexts(const std::string& root) {
  int n = 0;
  for (const char* number :
       {"  +42", "-39.5", "1.2.3", "5.", "-.5", "12345678901234567890", "UTC-05:30"}) {
    Bytes in{static_cast<uint8_t>(4 * n)};  // the bounds differ from one to the next
    Append(in, Text(number));
    Put(root, "field_parsers", "number-" + std::to_string(++n), in);
  }
  const std::vector<std::string> drive = {"10", "10", "0", "300", "2.0", "8.0", "20.0", "80.0",
                                          "KELM", "Logger 7", "cold chain", "www.example.com",
                                          "VL000001", ""};
  Put(root, "field_parsers", "form-drive", Form(0x10 << 1, 2, 0, drive));
  const std::vector<std::string> hid = {"5", "5", "1440", "86400", "35.6", "46.4", "10.5", "90.5",
                                        "商标", "温湿度记录仪", "第二号", "", "ID-0001", "abc123"};
  Put(root, "field_parsers", "form-hid-fahrenheit", Form(1 | 0x10 << 1, 2, 1, hid));
}

// ---- Code page ----------------------------------------------------------------------

void CodePage(const std::string& root) {
  Put(root, "codepage", "ascii", Text("Logger 7, www.example.com"));
  Put(root, "codepage", "chinese-utf8", Text("温湿度记录仪 冷链"));
  Put(root, "codepage", "chinese-gbk", Text(ToCodePage("温湿度记录仪")));
  Put(root, "codepage", "not-gbk", Text("Grüße 😀 ₩"));
  // A malformed lead byte costs only itself: "x?(y".
  Put(root, "codepage", "malformed-lead", Text("x\xC3(y"));
  // Unicode tag characters become '?' rather than vanishing.
  Put(root, "codepage", "tag-characters", Text("a\xF3\xA0\x80\x81" "b\xF3\xA0\x81\xBF"));
}

// ---- Drive discovery ----------------------------------------------------------------

void Drives(const std::string& root) {
  Put(root, "drive_discovery", "usb-id", Text("2017\n"));
  Put(root, "drive_discovery", "usb-id-three-digits", Text("901"));    // refused
  Put(root, "drive_discovery", "usb-id-nul", Bytes{'e', 0, 0x0E, 0});  // refused
  Put(root, "drive_discovery", "device-number", Text("8:17\n"));
  Put(root, "drive_discovery", "mountinfo",
      Text("36 29 8:17 / /media/ann/MY\\040LOGGER rw,nosuid shared:500 - vfat /dev/sdb1 rw\n"
           "37 29 8:17 /sub /mnt/bind rw - vfat /dev/sdb1 rw\n"));
  // A logger disk with two partitions (one also bind-mounted) next to a SATA disk.
  Bytes tree = Text("T");
  Append(tree, Bytes{10, 1});                 // system mounts, two disks
  Append(tree, Bytes{0, 0, 1, 2, 2, 1});      // sda: USB 2017:0901, partitions 2 and 1
  Append(tree, Bytes{0});                     // the disk itself: not mounted
  Append(tree, Bytes{2});                     // sda1
  Append(tree, Text("LOGGER"));
  Append(tree, Bytes{0, 3});                  // sda2, bind-mounted too
  Append(tree, Text("My Logger"));
  Append(tree, Bytes{0, 1, 0, 2});            // sdb: SATA, no partitions, mounted
  Append(tree, Text("data"));
  Put(root, "drive_discovery", "tree-logger-and-sata", tree);
  Bytes unmounted = Text("T");
  Append(unmounted, Bytes{0, 0, 0, 0, 1, 0, 0});  // one logger disk, no partitions, not mounted
  Put(root, "drive_discovery", "tree-unmounted-logger", unmounted);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  Images(root);
  Blocks(root);
  HidAnswers(root);
  FormTexts(root);
  CodePage(root);
  Drives(root);
  return 0;
}
