#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/ports.h"
#include "core/state.h"

// A profile is the form's settings as a small JSON document: every value
// validation reads except the device ID, written as the form holds it, plus
// a version. docs/profile.md gives the fields.

inline constexpr int kProfileVersion = 1;

// The form's current values as a profile: UTF-8 JSON, keys always in the
// same order, ending in a newline. A list with nothing selected is written
// as null, which does not load again.
std::string SaveProfile(const FormPort& form);

struct ProfileLoad {
  bool ok = false;
  std::string message;  // why not, naming the field, when not ok
  // The start date-time the profile gives. FormPort cannot set the picker,
  // so the caller puts it there (the picker keeps its old value otherwise).
  LocalTime startTime;
};

// Checks the whole profile first (version, syntax, every field's type and
// what can be told without a logger: list entries, number syntax and fixed
// ranges, text lengths in the logger's code page, the temperature alarms
// against the sensor range known now), and changes nothing when any of it
// fails. Then fills the form as a person would, raising the same
// notifications. Afterwards the caller sets the start picker from
// `startTime` and runs one poll pass before reading or saving the form:
// that pass re-reads the temperature alarms, shows them in the chosen unit
// and re-selects the time zone. What depends on the logger (channels, unit
// support, a sensor range read later) is left to validation at Configure.
ProfileLoad LoadProfile(ToolState& state, std::string_view json);

// The text of a profile file; nullopt, with the message naming the file in
// `error`, when it cannot be read or is no profile-sized regular file.
std::optional<std::string> ReadProfileFile(const std::string& path, std::string& error);
// Writes a profile file whole: into a scratch file beside it, flushed, then
// renamed over it, so an earlier profile is never left half overwritten.
bool WriteProfileFile(const std::string& path, std::string_view text, std::string& error);
