// A profile file, as `apply` and "Load profile…" read it: the JSON parser,
// the field checks and the writes into the form, then the pass after.
//
// Holds: a profile that is refused says why, naming it a profile's fault,
// and leaves the form exactly as it was (no write, no change flag); one that
// loads, once the pass has run, saves to a profile that loads again and
// gives the same form; a saved profile is valid UTF-8.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/form_events.h"
#include "app/form_model.h"
#include "app/poll_pass.h"
#include "app/profile.h"
#include "fuzz_support.h"
#include "support/model_tool.h"

namespace {

// A started tool on the form model, its picker at a date a profile can hold.
struct Tool : ModelTool {
  Tool() { form.setDateTime(ctl::StartPicker, {2024, 1, 1, 0, 0, 0}); }

  // Loads and runs the pass the caller must run; the saved form, or empty
  // when the profile was refused.
  std::string Load(std::string_view text) {
    const std::string before = SaveProfile(form);
    const uint32_t flags = s().poll.changeFlags;
    view.changes = 0;
    const ProfileLoad load = LoadProfile(s(), text);
    if (!load.ok) {
      Require(load.message.rfind("Profile: ", 0) == 0, "a refusal names the profile");
      Require(SaveProfile(form) == before, "a refused profile leaves the form alone");
      Require(view.changes == 0 && s().poll.changeFlags == flags,
              "a refused profile writes nothing and raises nothing");
      return {};
    }
    form.setDateTime(ctl::StartPicker, load.startTime);
    RunPollPass(s());
    return SaveProfile(form);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Tool first;
  const std::string saved = first.Load(text);
  if (saved.empty()) return 0;
  Require(IsValidUtf8(saved), "a saved profile is UTF-8");
  Tool second;
  const std::string again = second.Load(saved);
  Require(!again.empty(), "a profile saved from a loaded one loads");
  Require(again == saved, "a profile saved from a loaded one gives the same form");
  return 0;
}
