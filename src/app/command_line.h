#pragma once

#include <optional>
#include <string>

#include "sim/drive_demo.h"

// What the command line asks for: the window, or one of the commands that
// run without a window (apply a profile to loggers, read one logger).
enum class Command { Window, Apply, Read, Help, Version, Invalid };

struct CommandLine {
  Command command = Command::Window;
  std::optional<DemoRequest> demo;
  std::string profile;                // apply: the profile file
  bool each = false;                  // apply: every logger plugged in, until stopped
  std::string record;                 // apply: the CSV file to append to; empty: none
  std::optional<int> timeoutSeconds;  // apply, read: give up waiting for a logger
  bool json = false;                  // read: as JSON
  std::string error;                  // Invalid: what was not understood
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// Exit statuses, as --help and the manual page list them.
namespace exit_status {
inline constexpr int Ok = 0;              // verified, or the window closed
inline constexpr int ProfileInvalid = 1;  // the profile does not validate
inline constexpr int Usage = 2;           // the command line was not understood
inline constexpr int LoggerFailed = 3;    // delivery, upgrade, or the read-back differs
inline constexpr int NoLogger = 4;        // none came within --timeout
inline constexpr int ToolRunning = 5;     // another copy runs (commands without a window)
}  // namespace exit_status

inline constexpr const char* kUsage =
    "Usage: thlogger-config [--demo=KIND[:DIR]]\n"
    "  or:  thlogger-config apply PROFILE [--each] [--record FILE] [--timeout SECONDS]\n"
    "                                     [--demo=KIND[:DIR]]\n"
    "  or:  thlogger-config read [--json] [--timeout SECONDS] [--demo=KIND[:DIR]]\n"
    "Try 'thlogger-config --help' for more information.\n";

// Kept in step with packaging/thlogger-config.1.
inline constexpr const char* kHelp =
    "Usage: thlogger-config [--demo=KIND[:DIR]]\n"
    "  or:  thlogger-config apply PROFILE [--each] [--record FILE] [--timeout SECONDS]\n"
    "                                     [--demo=KIND[:DIR]]\n"
    "  or:  thlogger-config read [--json] [--timeout SECONDS] [--demo=KIND[:DIR]]\n"
    "Configure USB temperature/humidity data loggers.\n"
    "\n"
    "Without a command the tool opens its window and works with the loggers\n"
    "plugged in.\n"
    "\n"
    "Commands, without a window (messages and progress go to standard error):\n"
    "  apply PROFILE           configure the next logger plugged in from PROFILE,\n"
    "                          upgrading older firmware first, then read it again\n"
    "                          and compare\n"
    "    --each                go on: every logger plugged in afterwards gets the\n"
    "                          same profile, keeping its own device ID, until Ctrl+C\n"
    "    --record FILE         append one CSV line per logger to FILE\n"
    "    --timeout SECONDS     give up when no logger comes within SECONDS\n"
    "  read                    print the plugged logger's parameters and exit\n"
    "    --json                as JSON\n"
    "\n"
    "Options:\n"
    "  --demo=drive[:DIR]      plug in a virtual drive logger\n"
    "  --demo=hid[:DIR]        plug in a virtual HID logger\n"
    "  --demo=old-drive[:DIR]  a virtual drive logger with older firmware\n"
    "  --demo=old-hid[:DIR]    a virtual HID logger with older firmware\n"
    "                          (:DIR keeps the logger's files in DIR;\n"
    "                          without it a scratch folder goes at exit)\n"
    "  --help                  show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  every logger configured and verified (or the window closed)\n"
    "  1  the profile does not validate\n"
    "  2  the command line was not understood\n"
    "  3  a logger failed: delivery, upgrade, or a read-back that differs\n"
    "  4  no logger came within --timeout\n"
    "  5  another copy of the tool is running (commands without a window)\n";
