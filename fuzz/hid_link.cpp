// An HID logger's answers, as the tool takes them: the image read, then
// command reports, with the real receive thread judging every frame.
//
// Holds: no answer is lost, taken twice or taken before it was asked for;
// the image holds exactly the payloads of the image answers, requested at
// the offset reached, and the read ends as its rules say (an empty answer,
// 516 bytes, the 11th wrong answer, the logger gone); a frame with a bad
// length byte is refused with its message and never offered; a command gets
// the next answer or says the logger is gone; what the decoder then shows
// is valid UTF-8.

#include <cstring>
#include <memory>

#include "app/hid_link.h"
#include "formats/image_decoder.h"
#include "formats/image_layout.h"
#include "formats/logger_image.h"
#include "fuzz_support.h"
#include "hid/hid_transactions.h"
#include "scripted_hid.h"

namespace {

constexpr uint8_t kReadImage = 0x91;

// The answers handed out, in order (frames refused are not answers).
std::vector<HidReport> Answers(const std::vector<HidEvent>& events) {
  std::vector<HidReport> out;
  for (const HidEvent& e : events)
    if (e.kind == HidEvent::Answer) out.push_back(e.report);
  return out;
}

std::vector<HidReport> Writes(const std::vector<HidEvent>& events) {
  std::vector<HidReport> out;
  for (const HidEvent& e : events)
    if (e.kind == HidEvent::Write) out.push_back(e.report);
  return out;
}

// What the image read must have done with the answers it got: the number of
// answers it used and its result.
struct ImageRead {
  std::size_t used = 0;
  bool result = false;
  std::vector<uint8_t> image;
  std::vector<uint32_t> offsets;  // of the requests
};

ImageRead ExpectedImageRead(const std::vector<HidReport>& answers) {
  ImageRead r;
  int wrong = 0;
  for (const HidReport& a : answers) {
    r.offsets.push_back(static_cast<uint32_t>(r.image.size()));
    ++r.used;
    if (a[1] == kReadImage) {
      const std::size_t n = a[2] - 6u;
      r.image.insert(r.image.end(), a.begin() + 6, a.begin() + 6 + static_cast<std::ptrdiff_t>(n));
      if (n == 0) {
        r.result = true;
        return r;
      }
    } else if (++wrong > 10) {
      return r;
    }
    if (r.image.size() >= img::HidImageHead) {
      r.result = true;
      return r;
    }
  }
  // Out of answers: the logger went, perhaps with a request already written.
  r.offsets.push_back(static_cast<uint32_t>(r.image.size()));
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  FuzzInput in(data, size);
  // The command reports sent after the image, taken first: the rest of the
  // input belongs to the logger, which reads it on the receive thread.
  struct Command {
    uint8_t command;
    uint8_t length;
  };
  std::vector<Command> commands(in.byte() % 5);
  for (Command& c : commands) {
    c.command = in.byte();
    c.length = static_cast<uint8_t>(6 + in.byte() % 59);
  }
  ScriptedLogger logger(in, false);
  auto tool = std::make_unique<TestTool>();
  ToolState& s = tool->s();
  OpenLink(s, logger);
  std::unique_ptr<HidReceiveThread> receiver = StartHidReceiveThread(s, logger);

  // What the poll pass does when a logger arrives.
  const bool read = ReadImageOverHid(s);
  const std::vector<HidEvent> afterRead = logger.events();
  const std::vector<HidReport> answers = Answers(afterRead);
  const std::vector<HidReport> writes = Writes(afterRead);
  const ImageRead expected = ExpectedImageRead(answers);
  Require(read == expected.result, "the image read ends as its rules say");
  Require(answers.size() == expected.used, "no answer is handed out that the read did not use");
  Require(s.image.length == expected.image.size() &&
              std::equal(expected.image.begin(), expected.image.end(), s.image.bytes.begin()),
          "the image holds exactly the payloads of the image answers");
  Require(writes.size() <= expected.offsets.size(), "one request per answer");
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const HidReport& w = writes[i];
    const uint32_t offset = static_cast<uint32_t>(w[3] | w[4] << 8 | w[5] << 16);
    Require(w[0] == 0x01 && w[1] == kReadImage && w[2] == 6 && offset == expected.offsets[i],
            "each image request asks for the bytes not yet received");
  }
  if (read) {
    ExtractHeader(s.image, s.device);
    if (s.device.productIdLow == img::LoggerProductIdLow) {
      DecodeHidImage(s, true);
      for (const auto& [id, control] : tool->form.controls)
        Require(IsValidUtf8(control.text), "the decoded texts are valid UTF-8");
    }
  }

  // Command reports, as the configuration transfer sends them.
  std::size_t answered = answers.size();
  for (std::size_t k = 0; k < commands.size(); ++k) {
    const uint8_t command = commands[k].command;
    const uint8_t length = commands[k].length;
    uint8_t payload[58] = {};
    for (std::size_t i = 0; i + 6 < length; ++i) payload[i] = static_cast<uint8_t>(k + i);
    const int32_t result =
        SendHidCommand(s, command, length, static_cast<uint32_t>(k * 58), payload);
    const std::vector<HidEvent> events = logger.events();
    const std::vector<HidReport> now = Answers(events);
    const std::vector<HidReport> sent = Writes(events);
    if (command == 0x94 || command == 0x7F) {
      Require(result == HidSent, "an end report needs no answer");
      continue;
    }
    if (result == HidSent) {
      Require(now.size() == answered + 1 && s.hid.inputReport == now[answered],
              "a command's answer is the next frame the logger sent");
      Require(!sent.empty() && sent.back()[1] == command && sent.back()[2] == length &&
                  std::memcmp(sent.back().data() + 6, payload, length - 6u) == 0,
              "the command went out as given");
      answered = now.size();
    } else {
      Require(result == HidDeviceGone && now.size() == answered,
              "without an answer the logger is gone");
    }
  }

  logger.finish();
  AwaitRemoval(s);  // releases what the last command left held
  receiver.reset();
  std::size_t refused = 0;
  for (const HidEvent& e : logger.events()) refused += e.kind == HidEvent::Refused;
  std::size_t told = 0;
  for (const std::string& m : tool->messages.texts()) told += m == "HID接收到非法帧!";
  Require(told == refused, "every refused frame is told, and only those");
  return 0;
}
