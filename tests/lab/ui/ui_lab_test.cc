// The desktop program end to end through its windows: quarno-ui-pilot (the
// real quarno-server on the offscreen platform, worked by a pilot thread) in
// the lab's pc namespace, beside the real FTP server service and boot-up
// service, with miniupnpd, the router and DDNS simulators and a download
// simulator; what it did is checked on the router, the DDNS server and from
// the internet namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "ftpctl/ftp_server.h"
#include "lab/service/netns_lab.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "share/home_tree.h"
#include "support/temp_xdg.h"

namespace quarno::test {
namespace {

using namespace std::chrono_literals;

const std::string kBuild = QUARNO_BINARY_DIR;
const std::string kTool = kBuild + "/tests/lab/service/quarno-lab-tool";
const std::string kPilot = kBuild + "/apps/quarno-ui-pilot";
constexpr char kDownloadPeer[] = "192.0.3.1:8081";

class UiLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = NetnsLab::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
    lab_ = std::make_unique<NetnsLab>();
    if (!lab_->error().empty()) GTEST_SKIP() << "lab could not be built: " << lab_->error();
    share_ = xdg_.root() + "/share/photos";
    pilot_dir_ = xdg_.root() + "/pilot";
    std::filesystem::create_directories(share_);
    std::filesystem::create_directories(pilot_dir_);
    std::ofstream file(share_ + "/hello.bin", std::ios::binary);
    for (unsigned i = 0; i < 200000; ++i) file.put(static_cast<char>((i * 7919u) >> 3));
    file.close();
    // The firmware and program download server, on the internet side, with
    // the latest firmware (8.34, what the router simulator reports unless
    // told otherwise) and a program package.
    files_ = xdg_.root() + "/files";
    std::filesystem::create_directories(files_ + "/online_upgrade");
    firmware_ = files_ + "/online_upgrade/zq300_8_34.bin";
    std::ofstream firmware(firmware_, std::ios::binary);
    for (unsigned i = 0; i < 70000; ++i) firmware.put(static_cast<char>(i * 31u >> 2));
    firmware.close();
    // A real package of quarno 1.07: the program reads its control fields.
    std::filesystem::create_directories(xdg_.root() + "/deb/DEBIAN");
    std::ofstream(xdg_.root() + "/deb/DEBIAN/control")
        << "Package: quarno\nVersion: 1.07-1\nArchitecture: all\n"
           "Maintainer: Test <test@example.invalid>\nDescription: stand-in\n";
    Shell("dpkg-deb --root-owner-group --build " + xdg_.root() + "/deb " + files_ +
          "/online_upgrade/quarno_pcserver_setup_1.07.deb >/dev/null");
    StartDownloadServer("1.06");
    // The package installer the program starts: records what it was given.
    std::filesystem::create_directories(xdg_.root() + "/installer");
    std::ofstream(xdg_.root() + "/installer/xdg-open")
        << "#!/bin/sh\necho \"$@\" > " << xdg_.root() << "/installer/called.new && mv "
        << xdg_.root() << "/installer/called.new " << xdg_.root() << "/installer/called\n";
    std::filesystem::permissions(xdg_.root() + "/installer/xdg-open",
                                 std::filesystem::perms::owner_all);
  }
  void StartDownloadServer(const std::string& program_version) {
    lab().Exec("internet", "python3 " QUARNO_SOURCE_DIR
                           "/lab/download_sim.py --address 192.0.3.1 "
                           "--port 8081 --sha256 --sign-key " QUARNO_SOURCE_DIR
                           "/tests/fixtures/update/test-signing.pem --root " +
                               files_ +
                               " --version zq300=8.34 "
                               "--program-version " +
                               program_version + " --state-file " + xdg_.root() +
                               "/download.json >>" + xdg_.root() +
                               "/download.log 2>&1 & echo $! >" + xdg_.root() + "/download.pid");
    for (int i = 0; i < 50; ++i) {
      int status = 0;
      lab().Exec("internet", "curl -s -o /dev/null http://192.0.3.1:8081/", &status);
      if (status == 0) return;
      std::this_thread::sleep_for(100ms);
    }
  }
  static std::string Sha256(const std::string& path) {
    const std::string out = Shell("sha256sum '" + path + "'");
    return out.substr(0, out.find(' '));
  }
  void TearDown() override {
    if (lab_ && lab_->error().empty()) {
      std::printf("---- the programs' logs ----\n%s%s",
                  ReadFile(xdg_.writable() + "/Logs/Quarno_Bootup_log.txt").c_str(),
                  ReadFile(xdg_.writable() + "/Logs/Quarno_Server_log.txt").c_str());
    }
    if (pilot_ > 0) {
      kill(pilot_, SIGKILL);
      waitpid(pilot_, nullptr, 0);
    }
    if (HasFailure() && lab_) {
      std::printf("---- the lab's logs ----\n%s\n", LabLogs().c_str());
    }
  }
  NetnsLab& lab() { return *lab_; }

  std::string LabLogs() {
    std::string all;
    for (const char* name : {"router_sim.log", "ddns_sim.log", "miniupnpd.log"}) {
      all += "== " + std::string(name) + "\n" + Tail(ReadFile(lab().Path(name)));
    }
    all += "== ddns-state.json\n" + Tail(ReadFile(lab().Path("ddns-state.json")));
    for (const char* log : {"Quarno_Server_log.txt", "Quarno_Bootup_log.txt"}) {
      all += "== " + std::string(log) + "\n" + Tail(ReadFile(xdg_.writable() + "/Logs/" + log));
    }
    all += "== pilot\n" + Tail(PilotLog());
    all += "== status\n" + Shell(std::string(QUARNO_SOURCE_DIR) + "/lab/netns-lab.sh -i " +
                                 lab()["LAB_ID"] + " status");
    return all;
  }
  static std::string Tail(const std::string& text) {
    return text.size() > 6000 ? "...\n" + text.substr(text.size() - 6000) : text;
  }
  std::string PilotLog() { return ReadFile(pilot_dir_ + "/pilot.log"); }

  // What a supervisor does at boot with the auto-start option on.
  void StartServices() {
    int status = 0;
    const std::string out = lab().Exec("pc", kTool + " start-services", &status);
    ASSERT_EQ(status, 0) << out;
  }

  void StartPilot(const std::string& script) {
    pilot_ = fork();
    if (pilot_ == 0) {
      setsid();
      const int out = open((pilot_dir_ + "/pilot.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(out, 2);
      setenv("QUARNO_PILOT_DIR", pilot_dir_.c_str(), 1);
      setenv("QUARNO_LAB_FIRMWARE", kDownloadPeer, 1);
      setenv("QUARNO_LAB_DOWNLOAD", kDownloadPeer, 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      const char* path = std::getenv("PATH");
      setenv("PATH", (xdg_.root() + "/installer:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
      execlp("ip", "ip", "netns", "exec", lab()["NS_PC"].c_str(), kPilot.c_str(), script.c_str(),
             share_.c_str(), nullptr);
      _exit(127);
    }
  }

  // Until the pilot reached `stage` (true) or ended or failed (false).
  bool WaitStage(const std::string& stage, std::chrono::seconds limit = 150s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string log = PilotLog();
      if (log.find("STAGE " + stage + "\n") != std::string::npos) {
        std::printf("---- pilot up to %s ----\n%s", stage.c_str(), Seen(log).c_str());
        seen_ = log.size();
        return true;
      }
      if (log.find("PILOT FAIL") != std::string::npos || waitpid(pilot_, nullptr, WNOHANG) != 0) {
        return false;
      }
      std::this_thread::sleep_for(200ms);
    }
    return false;
  }
  void Release(const std::string& stage) {
    std::ofstream(pilot_dir_ + "/" + stage + ".go") << "go";
  }
  // The pilot's exit status once it ended within `limit` (-1 otherwise).
  int WaitPilotEnd(std::chrono::seconds limit = 40s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pilot_, &status, WNOHANG) == pilot_) {
        pilot_ = -1;
        std::printf("---- pilot to its end ----\n%s", Seen(PilotLog()).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(200ms);
    }
    return -1;
  }
  // The pilot's lines since the last stage.
  std::string Seen(const std::string& log) const {
    std::string lines;
    std::istringstream in(log.substr(std::min(seen_, log.size())));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PILOT ", 0) == 0) lines += "  " + line + "\n";
    }
    return lines;
  }

  std::map<std::string, std::string> Settings() {
    std::map<std::string, std::string> values;
    std::istringstream out(lab().Exec("pc", kTool + " settings"));
    for (std::string line; std::getline(out, line);) {
      const auto space = line.find(' ');
      if (space == std::string::npos) continue;
      const auto value = line.find_first_not_of(' ', space);
      values[line.substr(0, space)] = value == std::string::npos ? "" : line.substr(value);
    }
    return values;
  }
  // lab/internet-fetch.sh with the given account; its exit status.
  int FetchFromInternet(const std::string& user, const std::string& password, std::string* out) {
    auto s = Settings();
    int status = 0;
    *out = Shell("bash " QUARNO_SOURCE_DIR "/lab/internet-fetch.sh -i " + lab()["LAB_ID"] + " -o " +
                     xdg_.root() + " " + user + " " + password + " " + s["Ftp_Port"] + " " +
                     s["Http_Port"] + " " + s["share_link"] + " hello.bin",
                 &status);
    std::printf("internet side as %s:\n%s", user.c_str(), out->c_str());
    return status;
  }
  // The router's NAT table (miniupnpd's DNAT rules).
  std::string Dnat() {
    return lab().Exec("router", "nft list chain inet quarno_igd prerouting_miniupnpd");
  }
  bool Listening(int port) {
    const std::string ss = lab().Exec("pc", "ss -Hltn");
    return ss.find(":" + std::to_string(port) + " ") != std::string::npos;
  }

  // "home" registered to this PC on 2121/8080 for joe, in the settings and
  // at the DDNS server.
  void StoreHomeRegistration() {
    ASSERT_EQ(lab().Exec("pc", kTool + " register home me@example.org 2121 8080 joe s3cret " +
                                   share_ + " && echo stored"),
              "stored\n");
    std::ofstream(lab().Path("ddns-state.json"))
        << R"({"records": {")" << lab()["ROUTER_MAC"]
        << R"(": {"domain": "home.quarno.ralmek.co.kr", "email": "me@example.org", )"
        << R"("ftp_port": "2121", "http_port": "8080"}}, "requests": []})";
    ASSERT_TRUE(lab().Sim("ddns"));
  }
  void StartDuringTheBootServicesRenewal(const char* timings, bool after_mapping);

  TempXdg xdg_;
  std::unique_ptr<NetnsLab> lab_;
  std::string share_, pilot_dir_, files_, firmware_;
  pid_t pilot_ = -1;
  std::size_t seen_ = 0;
};

// A first registration with an automatic port, the account applied, the
// account changed while a user is connected, the exit from the tray menu.
TEST_F(UiLab, FirstRegistrationAccountChangeAndExit) {
  StartServices();
  StartPilot("first-registration");
  ASSERT_TRUE(WaitStage("registered")) << PilotLog();

  auto s = Settings();
  const std::string ftp = s["Ftp_Port"], http = s["Http_Port"], pc = lab()["PC_IP"];
  EXPECT_EQ(s["Quarno"], "home");
  ASSERT_FALSE(ftp.empty());
  ASSERT_FALSE(http.empty());
  // DNAT rules on the router for both ports, to this PC.
  const std::string dnat = Dnat();
  std::printf("router's DNAT rules:\n%s", dnat.c_str());
  EXPECT_NE(dnat.find("dport " + ftp + " dnat ip to " + pc + ":" + ftp), std::string::npos) << dnat;
  EXPECT_NE(dnat.find("dport " + http + " dnat ip to " + pc + ":" + http), std::string::npos)
      << dnat;
  // The DDNS record, and the router's DDNS setting.
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_NE(ddns.find("\"domain\": \"home.quarno.ralmek.co.kr\""), std::string::npos) << ddns;
  EXPECT_NE(ddns.find("\"http_port\": \"" + http + "\""), std::string::npos) << ddns;
  const std::string router = ReadFile(lab().Path("router-state.json"));
  EXPECT_NE(router.find("ftp_port=" + ftp + "&http_port=" + http), std::string::npos) << router;
  std::string out;
  EXPECT_EQ(FetchFromInternet("joe", "s3cret", &out), 0) << out;

  // A user stays connected from the internet while the account changes.
  const std::string wan = lab()["ROUTER_WAN_IP"], connected = xdg_.root() + "/connected";
  lab().Exec("internet",
             "timeout 90 python3 -c \"import ftplib,time;f=ftplib.FTP();f.connect("
             "\\\"" +
                 wan + "\\\"," + ftp +
                 ",timeout=20);f.login(\\\"joe\\\",\\\"s3cret"
                 "\\\");open(\\\"" +
                 connected +
                 "\\\",\\\"w\\\").close();time.sleep(80)\" "
                 ">" +
                 xdg_.root() + "/ftpclient.log 2>&1 &");
  for (int i = 0; i < 100 && !std::filesystem::exists(connected); ++i)
    std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(std::filesystem::exists(connected)) << ReadFile(xdg_.root() + "/ftpclient.log");
  Release("registered");
  ASSERT_TRUE(WaitStage("account-changed")) << PilotLog();
  EXPECT_EQ(FetchFromInternet("ann", "n3wpass", &out), 0) << out;
  int status = 0;
  out = lab().Exec("internet",
                   "curl -sS -m 20 --ftp-port - -u joe:s3cret ftp://" + wan + ":" + ftp + "/",
                   &status);
  std::printf("the old account from the internet: curl status %d %s\n", status, out.c_str());
  EXPECT_EQ(status, 67) << "the old account was not refused: " << out;  // login denied

  // A new name on the same FTP port: the port is the program's own.
  Release("account-changed");
  ASSERT_TRUE(WaitStage("re-registered")) << PilotLog();
  s = Settings();
  EXPECT_EQ(s["Quarno"], "home2");
  EXPECT_EQ(s["Ftp_Port"], ftp);
  EXPECT_TRUE(Listening(std::stoi(ftp)));
  EXPECT_EQ(FetchFromInternet("ann", "n3wpass", &out), 0) << out;

  // The exit path from the tray menu.
  const std::string link = share::JunctionPath(share_);
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << link;
  Release("re-registered");
  ASSERT_EQ(WaitPilotEnd(), 0) << PilotLog();
  EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the share link stayed: " << link;
  EXPECT_FALSE(Listening(std::stoi(ftp))) << "FTP still served";
  EXPECT_FALSE(Listening(std::stoi(http))) << "HTTP still served";
  // The program asks the service to stop and ends; the daemon follows.
  auto services = platform::MakeServiceManager();
  EXPECT_TRUE(platform::WaitForServiceState(*services, ftpctl::kFtpServiceName,
                                            platform::ServiceState::kStopped, 10s));
}

// The boot-up service registered this PC at boot and serves; the program
// takes over without restarting the FTP server or touching the share link.
TEST_F(UiLab, TakeoverFromTheRunningBootService) {
  setenv("QUARNO_BOOT_TIMINGS",
         "ftp_service_poll=50,network_interval=10,settle_after_start=300,settle_after_renew=500",
         1);
  const std::string pc = lab()["PC_IP"];
  ASSERT_NO_FATAL_FAILURE(StoreHomeRegistration());
  lab().Map("pc", pc, 2121, "Quarno_Server_FTP");
  lab().Map("pc", pc, 8080, "Quarno_Server_HTTP");
  StartServices();
  unsetenv("QUARNO_BOOT_TIMINGS");
  const std::string boot_log = xdg_.writable() + "/Logs/Quarno_Bootup_log.txt";
  for (int i = 0; i < 600 && ReadFile(boot_log).find("자동실행에") == std::string::npos; ++i) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_NE(ReadFile(boot_log).find("서버를 시작합니다. 1"), std::string::npos)
      << ReadFile(boot_log);
  const std::string pid_file = platform::RuntimeFolder() + "/" + ftpctl::kFtpServiceName + ".pid";
  const std::string ftpd = ReadFile(pid_file), link = share::JunctionPath(share_);
  ASSERT_FALSE(ftpd.empty());
  ASSERT_TRUE(std::filesystem::is_symlink(link)) << link;

  StartPilot("takeover");
  ASSERT_TRUE(WaitStage("taken-over")) << PilotLog();
  const std::string server_log = ReadFile(xdg_.writable() + "/Logs/Quarno_Server_log.txt");
  EXPECT_NE(server_log.find("부팅시 자동으로 실행되었습니다."), std::string::npos) << server_log;
  EXPECT_EQ(ReadFile(pid_file), ftpd) << "the FTP server was restarted";
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the share link went: " << link;
  std::string out;
  EXPECT_EQ(FetchFromInternet("joe", "s3cret", &out), 0) << out;
  Release("taken-over");
  EXPECT_EQ(WaitPilotEnd(), 0) << PilotLog();
}

// The program starts while the boot-up service renews the registration (the
// router lost its mappings): whichever step the renewal was stopped at, the
// program ends up serving, mapping and announcing the same ports, and the
// stored account is restored without anybody clicking a box.
void UiLab::StartDuringTheBootServicesRenewal(const char* timings, bool after_mapping) {
  setenv("QUARNO_BOOT_TIMINGS", timings, 1);
  ASSERT_NO_FATAL_FAILURE(StoreHomeRegistration());
  StartServices();
  unsetenv("QUARNO_BOOT_TIMINGS");
  const std::string boot_log = xdg_.writable() + "/Logs/Quarno_Bootup_log.txt";
  for (int i = 0; i < 100 && ReadFile(boot_log).find("레지스트리에 등록된 정보를 확인합니다.") ==
                                 std::string::npos;
       ++i) {
    std::this_thread::sleep_for(50ms);
  }
  // The renewal's new mappings are up, its registration not yet sent (a loaded
  // machine may take several seconds to get there).
  for (int i = 0; after_mapping && i < 300 && Dnat().find("dport 2121 ") == std::string::npos; ++i)
    std::this_thread::sleep_for(50ms);
  if (after_mapping) {
    ASSERT_NE(Dnat().find("dport 2121 "), std::string::npos) << Dnat();
  }
  StartPilot("takeover");
  ASSERT_TRUE(WaitStage("taken-over")) << PilotLog();
  std::string out;
  int status = 1;
  // The account may still be on its way to the FTP server.
  for (int i = 0; i < 15 && status != 0; ++i) {
    if (i > 0) std::this_thread::sleep_for(1s);
    status = FetchFromInternet("joe", "s3cret", &out);
  }
  EXPECT_EQ(status, 0) << out << PilotLog();
  std::printf("the boot-up service's log:\n%s", ReadFile(boot_log).c_str());
  std::printf("the program's log:\n%s",
              ReadFile(xdg_.writable() + "/Logs/Quarno_Server_log.txt").c_str());
  const std::string http = Settings()["Http_Port"];
  EXPECT_NE(ReadFile(lab().Path("ddns-state.json")).find("\"http_port\": \"" + http + "\""),
            std::string::npos)
      << "the DDNS server names another HTTP port than the stored " << http;
  EXPECT_EQ(PilotLog().find("Quarno 계정이 등록되었습니다."), std::string::npos) << PilotLog();
  Release("taken-over");
  EXPECT_EQ(WaitPilotEnd(), 0) << PilotLog();
}

TEST_F(UiLab, ProgramStartedWhileTheBootServiceSettlesItsRenewal) {
  StartDuringTheBootServicesRenewal(
      "network_interval=10,settle_after_start=300,settle_after_renew=4000", false);
}

TEST_F(UiLab, ProgramStartedBetweenTheRenewalsMappingsAndItsRegistration) {
  StartDuringTheBootServicesRenewal("network_interval=10,settle_after_renew=100,short_pause=4000",
                                    true);
}

// Firmware 8.33 on the router, 8.34 the latest on the download server.
TEST_F(UiLab, OlderFirmwareIsUpgradedAndTheProgramCarriesOn) {
  ASSERT_TRUE(lab().Sim("router", "--firmware 8.33"));
  StartServices();
  StartPilot("firmware");
  ASSERT_TRUE(WaitStage("carried-on", 180s)) << PilotLog();
  EXPECT_NE(PilotLog().find("8.33 -> 8.34"), std::string::npos) << PilotLog();
  EXPECT_NE(PilotLog().find("펌웨어 업데이트를 완료하였습니다."), std::string::npos) << PilotLog();
  // The router received the published file whole.
  const std::string router = ReadFile(lab().Path("router-state.json"));
  std::printf("router state:\n%s\n", router.c_str());
  EXPECT_NE(router.find(Sha256(firmware_)), std::string::npos) << router;
  Release("carried-on");
  EXPECT_EQ(WaitPilotEnd(), 0) << PilotLog();
}

// Version 1.07 on the download server; a stand-in installer records its call.
TEST_F(UiLab, NewerProgramIsDownloadedAndInstallerStarted) {
  lab().Exec("internet", "kill $(cat " + xdg_.root() + "/download.pid)");
  StartDownloadServer("1.07");
  StartServices();
  StartPilot("update");
  const std::string record = xdg_.root() + "/installer/called";
  EXPECT_EQ(WaitPilotEnd(120s), 0) << PilotLog();
  for (int i = 0; i < 100 && ReadFile(record).empty(); ++i) std::this_thread::sleep_for(100ms);
  const std::string called = ReadFile(record);
  std::printf("the installer was called with: %s", called.c_str());
  const std::string package = xdg_.writable() + "/quarno_pcserver_setup_1.07.deb";
  EXPECT_EQ(called, package + "\n");
  EXPECT_EQ(ReadFile(package), ReadFile(files_ + "/online_upgrade/quarno_pcserver_setup_1.07.deb"));
}

// Another PC's registration: the record of this router names the address,
// the mappings point at pc2.
class UiLabOtherPc : public UiLab {
 protected:
  // The router lets this PC remove and take over the mappings pc2 made.
  void SetUp() override {
    setenv("QUARNO_LAB_UPNP_SECURE", "no", 1);
    UiLab::SetUp();
    unsetenv("QUARNO_LAB_UPNP_SECURE");
  }
  void SeedOtherPc() {
    const std::string pc2 = lab()["PC2_IP"];
    std::ofstream(lab().Path("ddns-state.json"))
        << R"({"records": {")" << lab()["ROUTER_MAC"]
        << R"(": {"domain": "home.quarno.ralmek.co.kr", "email": "me@example.org", )"
        << R"("ftp_port": "2121", "http_port": "8080"}}, "requests": []})";
    ASSERT_TRUE(lab().Sim("ddns"));
    lab().Map("pc2", pc2, 2121, "Quarno_Server_FTP");
    lab().Map("pc2", pc2, 8080, "Quarno_Server_HTTP");
    ASSERT_NE(lab().Mappings().find("2121->" + pc2), std::string::npos) << lab().Mappings();
  }
};

TEST_F(UiLabOtherPc, RegisterHereMovesTheRegistrationAndTheMappings) {
  SeedOtherPc();
  StartServices();
  StartPilot("move-here");
  ASSERT_TRUE(WaitStage("done")) << PilotLog();
  const std::string table = lab().Mappings(), pc = lab()["PC_IP"];
  std::printf("mappings:\n%s", table.c_str());
  EXPECT_NE(table.find("2121->" + pc + ":2121"), std::string::npos) << table;
  EXPECT_EQ(table.find(lab()["PC2_IP"]), std::string::npos) << table;
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_NE(ddns.find("\"domain\": \"home.quarno.ralmek.co.kr\""), std::string::npos) << ddns;
  EXPECT_NE(ddns.find("\"action\": \"delete\""), std::string::npos) << ddns;
  Release("done");
  EXPECT_EQ(WaitPilotEnd(), 0) << PilotLog();
}

TEST_F(UiLabOtherPc, DeleteTheExistingAccount) {
  SeedOtherPc();
  StartServices();
  StartPilot("delete");
  ASSERT_TRUE(WaitStage("done")) << PilotLog();
  const std::string table = lab().Mappings();
  std::printf("mappings:\n%s", table.c_str());
  EXPECT_EQ(table.find("Quarno_Server"), std::string::npos) << table;
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_EQ(ddns.find("home.quarno.ralmek.co.kr\", \"email"), std::string::npos) << ddns;
  Release("done");
  EXPECT_EQ(WaitPilotEnd(), 0) << PilotLog();
}

}  // namespace
}  // namespace quarno::test
