#include "app/command_line.h"

#include <charconv>
#include <string_view>

namespace {

constexpr int kLongestTimeout = 7 * 24 * 3600;

CommandLine Refused(std::string why) {
  CommandLine line;
  line.command = Command::Invalid;
  line.error = std::move(why);
  return line;
}

// "--name VALUE" or "--name=VALUE"; moves `i` past what it took. nullopt when
// `arg` is not the option; an empty value is refused by the caller.
std::optional<std::string_view> OptionValue(std::string_view name, int argc,
                                            const char* const* argv, int& i) {
  const std::string_view arg = argv[i];
  if (arg == name) {
    if (i + 1 >= argc) return std::string_view();
    return std::string_view(argv[++i]);
  }
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
    return arg.substr(name.size() + 1);
  return std::nullopt;
}

std::optional<int> Seconds(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > kLongestTimeout)
    return std::nullopt;
  return value;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  int first = 1;
  if (argc > 1 && std::string_view(argv[1]) == "apply") {
    line.command = Command::Apply;
    first = 2;
  } else if (argc > 1 && std::string_view(argv[1]) == "read") {
    line.command = Command::Read;
    first = 2;
  }
  const bool headless = line.command != Command::Window;
  for (int i = first; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // GNU programs answer these whatever else the line holds.
    if (arg == "--help" || arg == "--version") {
      CommandLine info;
      info.command = arg == "--help" ? Command::Help : Command::Version;
      return info;
    }
    DemoRequest demo;
    if (ParseDemoOption(arg, demo)) {
      if (line.demo) return Refused("only one --demo may be given");
      line.demo = demo;
      continue;
    }
    if (!headless) return Refused("unrecognized argument '" + std::string(arg) + "'");
    if (const auto value = OptionValue("--timeout", argc, argv, i)) {
      line.timeoutSeconds = Seconds(*value);
      if (!line.timeoutSeconds)
        return Refused("--timeout takes a whole number of seconds from 1 to " +
                       std::to_string(kLongestTimeout));
      continue;
    }
    if (line.command == Command::Apply) {
      if (arg == "--each") {
        line.each = true;
        continue;
      }
      if (const auto value = OptionValue("--record", argc, argv, i)) {
        if (value->empty()) return Refused("--record takes a file name");
        line.record = std::string(*value);
        continue;
      }
      if (!arg.empty() && arg[0] != '-' && line.profile.empty()) {
        line.profile = std::string(arg);
        continue;
      }
    }
    if (line.command == Command::Read && arg == "--json") {
      line.json = true;
      continue;
    }
    return Refused("unrecognized argument '" + std::string(arg) + "'");
  }
  if (line.command == Command::Apply && line.profile.empty())
    return Refused("apply needs the profile to apply");
  return line;
}
