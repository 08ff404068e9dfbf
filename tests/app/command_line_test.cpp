#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "thlogger-config");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, TheWindowTakesOneDemoOption) {
  EXPECT_EQ(Parse({}).command, Command::Window);
  EXPECT_FALSE(Parse({}).demo);
  CommandLine line = Parse({"--demo=drive:/tmp/my logger"});
  ASSERT_TRUE(line.demo);
  EXPECT_EQ(line.demo->folder, "/tmp/my logger");
  EXPECT_EQ(line.demo->kind, DemoKind::Drive);
  line = Parse({"--demo=old-hid:/tmp/h"});
  EXPECT_TRUE(line.demo->oldFirmware && line.demo->kind == DemoKind::Hid);
  line = Parse({"--demo=hid"});
  EXPECT_TRUE(line.demo->folder.empty() && !line.demo->oldFirmware);
  for (const char* bad : {"--demo=drive:", "--demo=hid:", "--demo=hidraw", "--demo", "-v",
                          "--demo=drivex", "--each", "profile.json"})
    EXPECT_EQ(Parse({bad}).command, Command::Invalid) << bad;
  EXPECT_EQ(Parse({"--demo=drive", "--demo=hid"}).command, Command::Invalid);
  // --help and --version win wherever they stand, as in GNU programs.
  EXPECT_EQ(Parse({"--help"}).command, Command::Help);
  EXPECT_EQ(Parse({"--version"}).command, Command::Version);
  EXPECT_EQ(Parse({"apply", "p.json", "--bogus", "--help"}).command, Command::Invalid);
  EXPECT_EQ(Parse({"apply", "p.json", "--help"}).command, Command::Help);
}

TEST(CommandLine, CommandsWithoutAWindow) {
  CommandLine line = Parse({"apply", "cold room.json", "--each", "--record", "log.csv",
                            "--timeout=30", "--demo=old-drive"});
  EXPECT_EQ(line.command, Command::Apply);
  EXPECT_EQ(line.profile, "cold room.json");
  EXPECT_TRUE(line.each);
  EXPECT_EQ(line.record, "log.csv");
  EXPECT_EQ(line.timeoutSeconds, 30);
  EXPECT_TRUE(line.demo && line.demo->oldFirmware);

  line = Parse({"read", "--json", "--timeout", "5"});
  EXPECT_EQ(line.command, Command::Read);
  EXPECT_TRUE(line.json);
  EXPECT_EQ(line.timeoutSeconds, 5);

  for (std::vector<const char*> bad :
       {std::vector<const char*>{"apply"}, {"apply", "a.json", "b.json"}, {"apply", "a.json", "--json"},
        {"read", "a.json"}, {"read", "--each"}, {"apply", "a.json", "--record"},
        {"apply", "a.json", "--record="}, {"read", "--timeout"}, {"read", "--timeout=0"},
        {"read", "--timeout=5s"}, {"read", "--timeout=-1"}, {"read", "--timeout=604801"}}) {
    const CommandLine refused = Parse(bad);
    EXPECT_EQ(refused.command, Command::Invalid) << bad.back();
    EXPECT_FALSE(refused.error.empty());
  }
}

}  // namespace
