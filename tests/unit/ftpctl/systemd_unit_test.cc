#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/service_manager.h"
#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

// Records every systemctl call and answers from a small script.
struct FakeSystemctl {
  std::vector<std::string> calls;
  std::string active = "inactive";
  std::string enabled = "disabled";
  int Run(const std::vector<std::string>& argv, std::string& out) {
    std::string line;
    for (const auto& a : argv) line += (line.empty() ? "" : " ") + a;
    calls.push_back(line);
    if (argv.size() > 2 && argv[2] == "is-active") out = active + "\n";
    else if (argv.size() > 2 && argv[2] == "is-enabled") out = enabled + "\n";
    else out.clear();
    return 0;
  }
};

TEST(SystemdUnit, TextQuotesThePathAndEscapesSpecifiers) {
  ServiceConfig c{"Quarno_Server", "Quarno Server 100%", "/opt/my \"q\"/quarno-ftpd$1",
                  StartType::kOnDemand};
  EXPECT_EQ(SystemdUnitText(c),
            "# Written by Quarno; changes are overwritten.\n"
            "[Unit]\nDescription=Quarno Server 100%%\n\n"
            "[Service]\nType=simple\nExecStart=\"/opt/my \\\"q\\\"/quarno-ftpd$$1\"\n"
            "Restart=no\nKillSignal=SIGTERM\nTimeoutStopSec=30\n\n"
            "[Install]\nWantedBy=default.target\n");
}

TEST(SystemdUnit, CommandsForTheServiceLifecycle) {
  test::TempXdg xdg;
  FakeSystemctl fake;
  std::string folder = xdg.config() + "/systemd/user";
  auto manager = MakeSystemdServiceManager(
      [&](const std::vector<std::string>& argv, std::string& out) { return fake.Run(argv, out); });

  ServiceConfig c{"Quarno_Bootup_Service", "Quarno Bootup", "/opt/q/quarno-bootup-service",
                  StartType::kAutomatic};
  ASSERT_TRUE(manager->Create(c));
  EXPECT_FALSE(manager->Create(c));
  EXPECT_TRUE(std::filesystem::exists(folder + "/Quarno_Bootup_Service.service"));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{
                            "systemctl --user daemon-reload",
                            "systemctl --user enable Quarno_Bootup_Service.service"}));

  fake.calls.clear();
  fake.enabled = "enabled";
  ServiceConfig read;
  ASSERT_TRUE(manager->QueryConfig(c.name, read));
  EXPECT_EQ(read.display_name, c.display_name);
  EXPECT_EQ(read.executable, c.executable);
  EXPECT_EQ(read.start_type, StartType::kAutomatic);

  fake.calls.clear();
  bool already = true;
  EXPECT_TRUE(manager->Start(c.name, &already));
  EXPECT_FALSE(already);
  EXPECT_EQ(fake.calls.back(), "systemctl --user start Quarno_Bootup_Service.service");
  fake.active = "active";
  EXPECT_EQ(manager->Query(c.name), ServiceState::kRunning);
  EXPECT_FALSE(manager->Start(c.name, &already));
  EXPECT_TRUE(already);
  EXPECT_TRUE(manager->Stop(c.name));
  EXPECT_EQ(fake.calls.back(), "systemctl --user stop --no-block Quarno_Bootup_Service.service");

  c.start_type = StartType::kDisabled;
  fake.calls.clear();
  fake.enabled = "disabled";
  fake.active = "inactive";
  ASSERT_TRUE(manager->ChangeConfig(c));
  EXPECT_EQ(fake.calls.back(), "systemctl --user disable Quarno_Bootup_Service.service");
  ASSERT_TRUE(manager->QueryConfig(c.name, read));
  EXPECT_EQ(read.start_type, StartType::kDisabled);
  EXPECT_FALSE(manager->Start(c.name));

  ASSERT_TRUE(manager->Remove(c.name));
  EXPECT_FALSE(manager->Exists(c.name));
}

// The package's unit is the boot-up service when it starts the same program
// (through /usr/bin's link); a unit of the program's own is written only for
// another executable, and one written earlier goes when the package's fits.
TEST(SystemdUnit, ThePackagesUnitIsEnabledNotShadowed) {
  namespace fs = std::filesystem;
  test::TempXdg xdg;
  const std::string own = xdg.config() + "/systemd/user/Quarno_Bootup_Service.service";
  const std::string packaged = xdg.root() + "/usr/lib/systemd/user";
  const std::string program = xdg.root() + "/usr/lib/quarno/quarno-bootup-service";
  fs::create_directories(packaged);
  fs::create_directories(xdg.root() + "/usr/lib/quarno");
  fs::create_directories(xdg.root() + "/usr/bin");
  std::ofstream(program) << "#!/bin/sh\n";
  fs::create_symlink(program, xdg.root() + "/usr/bin/quarno-bootup-service");
  std::ofstream(packaged + "/Quarno_Bootup_Service.service")
      << "[Service]\nType=notify\nExecStart=" << xdg.root() << "/usr/bin/quarno-bootup-service\n";
  struct Case {
    const char* what;
    bool earlier_own_unit;
    std::string executable;
    bool own_unit_after;
  };
  const Case cases[] = {
      {"package's program", false, program, false},
      {"package's program, own unit from before", true, program, false},
      {"a build in the tree", false, xdg.root() + "/tree/quarno-bootup-service", true},
  };
  for (const Case& c : cases) {
    fs::remove(own);
    if (c.earlier_own_unit) {
      fs::create_directories(fs::path(own).parent_path());
      std::ofstream(own) << SystemdUnitText({"Quarno_Bootup_Service", "x", "/old/exe",
                                             StartType::kAutomatic});
    }
    FakeSystemctl fake;
    auto manager = MakeSystemdServiceManager(
        [&](const std::vector<std::string>& argv, std::string& out) { return fake.Run(argv, out); },
        {}, {xdg.root() + "/etc/systemd/user", packaged});
    ASSERT_TRUE(manager->Exists("Quarno_Bootup_Service")) << c.what;
    ServiceConfig read;
    ASSERT_TRUE(manager->QueryConfig("Quarno_Bootup_Service", read)) << c.what;
    read.executable = c.executable;
    read.start_type = StartType::kAutomatic;
    ASSERT_TRUE(manager->ChangeConfig(read)) << c.what;
    EXPECT_EQ(fs::exists(own), c.own_unit_after) << c.what;
    EXPECT_EQ(fake.calls.back(), "systemctl --user enable Quarno_Bootup_Service.service") << c.what;
    // Removing takes only what the program wrote.
    EXPECT_EQ(manager->Remove("Quarno_Bootup_Service"), c.own_unit_after) << c.what;
    EXPECT_TRUE(manager->Exists("Quarno_Bootup_Service")) << c.what;
  }
}

TEST(SystemdUnit, RejectsUnsafeNamesAndValues) {
  test::TempXdg xdg;
  FakeSystemctl fake;
  auto manager = MakeSystemdServiceManager(
      [&](const std::vector<std::string>& argv, std::string& out) { return fake.Run(argv, out); });
  EXPECT_FALSE(manager->Create({"../evil", "x", "/bin/true", StartType::kOnDemand}));
  EXPECT_FALSE(manager->Create({"ok", "two\nlines", "/bin/true", StartType::kOnDemand}));
  EXPECT_FALSE(manager->Create({"ok", "x", "relative/path", StartType::kOnDemand}));
  EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace quarno::platform
