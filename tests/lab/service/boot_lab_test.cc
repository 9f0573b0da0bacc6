// quarno-bootup-service end to end in the home-network lab: the real program
// in the pc namespace, quarno-ftpd under the built-in supervisor beside it,
// miniupnpd and the simulators as its peers, clients in the internet.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "lab/service/boot_driver.h"
#include "lab/service/netns_lab.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "support/ftps_python.h"
#include "support/temp_xdg.h"

namespace quarno::test {
namespace {

using namespace std::chrono_literals;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// How many bytes of the admin greeting arrive on 127.0.0.1:port (of this
// thread's namespace) within a second.
int AdminGreetingBytes(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int got = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[15];
    ssize_t n;
    while (got < 15 && (n = recv(fd, buffer, sizeof buffer - got, 0)) > 0)
      got += static_cast<int>(n);
  }
  close(fd);
  return got;
}

std::string WithoutPassive(const std::string& table) {
  std::istringstream in(table);
  std::string out;
  for (std::string line; std::getline(in, line);)
    if (line.find("Quarno_Server_PASV") == std::string::npos) out += line + "\n";
  return out;
}

const std::string kBinaries = std::string(QUARNO_BINARY_DIR) + "/apps/";
constexpr char kRecord[] =
    R"("02:00:00:12:AB:CD": {"domain": "home.quarno.ralmek.co.kr", "email": "me@example.org", )"
    R"("ftp_port": "2121", "http_port": "8080"})";

class BootLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = NetnsLab::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
    lab_ = std::make_unique<NetnsLab>();
    if (!lab_->error().empty()) GTEST_SKIP() << "lab could not be built: " << lab_->error();
    // This thread (and what it starts, quarno-ftpd among it) lives in the pc.
    host_ns_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int pc = open(("/run/netns/" + lab()["NS_PC"]).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(setns(pc, CLONE_NEWNET), 0);
    close(pc);
    share_ = xdg_.root() + "/share/photos";
    std::filesystem::create_directories(share_);
    std::ofstream file(share_ + "/hello.bin", std::ios::binary);
    for (unsigned i = 0; i < 300000; ++i) file.put(static_cast<char>((i * 7919u) >> 3));
  }
  void TearDown() override {
    if (services_) ftpctl::StopFtpService(*services_);
    if (host_ns_ >= 0) {
      setns(host_ns_, CLONE_NEWNET);
      close(host_ns_);
    }
  }
  NetnsLab& lab() { return *lab_; }

  void StartFtpServer() {
    services_ = platform::MakeServiceManager();
    ASSERT_TRUE(ftpctl::StartFtpService(*services_, kBinaries + "quarno-ftpd", 10s));
  }
  void StoreRegistration(const std::string& name) {
    ASSERT_TRUE(WriteRegistration(name, "me@example.org", "2121", "8080"));
    ASSERT_TRUE(WriteAccount("joe", "s3cret", share_, "UTF-8"));
  }
  // The DDNS server's table: our record, plus whatever else is given.
  void SeedDdns(const std::string& records, const std::string& args = "") {
    std::ofstream(lab().Path("ddns-state.json"))
        << R"({"records": {)" << records << R"(}, "requests": []})";
    ASSERT_TRUE(lab().Sim("ddns", args));
  }

  // "home" registered to this PC (settings and DDNS record), the FTP server
  // running, and the router forwarding 2121 and 8080 to the pc, as a first
  // boot leaves them.
  void RegisteredHereAndMapped() {
    StartFtpServer();
    StoreRegistration("home");
    ASSERT_NO_FATAL_FAILURE(SeedDdns(kRecord));
    lab().Map("pc", lab()["PC_IP"], 2121, "Quarno_Server_FTP");
    lab().Map("pc", lab()["PC_IP"], 8080, "Quarno_Server_HTTP");
  }

  void StartBootService(const std::string& more_timings = "") {
    ASSERT_TRUE(boot_.Start(lab()["NS_PC"], kBinaries + "quarno-bootup-service",
                            "ftp_service_poll=50,network_interval=10,settle_after_start=300,"
                            "settle_after_renew=500,router_receive_timeout=3000" +
                                more_timings,
                            xdg_.runtime() + "/notify"));
  }
  int RunBoot(std::chrono::milliseconds limit = 60s, const std::string& more_timings = "") {
    StartBootService(more_timings);
    return boot_.Result(limit);
  }
  bool StopBootService(std::chrono::milliseconds limit) { return boot_.Stop(limit); }
  std::string Setting(const char* name) {
    std::string value = "(missing)";
    ReadSetting(name, value);
    return value;
  }
  std::string Log() { return ReadFile(xdg_.writable() + "/Logs/Quarno_Bootup_log.txt"); }

  TempXdg xdg_;
  std::unique_ptr<NetnsLab> lab_;
  std::unique_ptr<platform::ServiceManager> services_;
  std::string share_;
  BootServiceRun boot_;
  int host_ns_ = -1;
};

TEST_F(BootLab, FreshStateIsNotRegistered) {
  StartFtpServer();
  WriteSetting(setting::kAdminPort, "31000");
  EXPECT_EQ(RunBoot(), 5) << Log();
  EXPECT_EQ(Setting(setting::kAdminPort), "0");
  EXPECT_NE(Log().find("DDNS 서버에 등록되어 있지 않습니다."), std::string::npos) << Log();
  EXPECT_TRUE(StopBootService(5s));
}

TEST_F(BootLab, RegisteredHereServesThroughTheRouter) {
  ASSERT_NO_FATAL_FAILURE(RegisteredHereAndMapped());
  EXPECT_EQ(RunBoot(), 0) << Log();
  EXPECT_NE(Setting(setting::kAdminPort), "0");
  EXPECT_EQ(Setting(setting::kHttpPort), "8080");  // no renewal
  // The router's DDNS setting went out with the stored ports.
  const std::string router = ReadFile(lab().Path("router-state.json"));
  EXPECT_NE(router.find("hostname=home.quarno.ralmek.co.kr&ddns_account=me@example.org"),
            std::string::npos)
      << router;
  EXPECT_NE(router.find("ftp_port=2121&http_port=8080"), std::string::npos) << router;

  // From the internet, through the WAN address and the mapped ports. FTP in
  // active mode: the data connection goes out through the router's NAT.
  const std::string wan = lab()["ROUTER_WAN_IP"], file = share_ + "/hello.bin";
  int status = 0;
  lab().Exec("internet",
             "curl -sS -m 20 --ftp-port - -u joe:s3cret ftp://" + wan +
                 ":2121/photos/hello.bin -o " + xdg_.root() + "/ftp.bin",
             &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(xdg_.root() + "/ftp.bin"), ReadFile(file));
  lab().Exec("internet",
             "curl -sS -m 20 --anyauth -u joe:s3cret http://" + wan + ":8080/httpstream/x/photos/hello.bin -o " +
                 xdg_.root() + "/http.bin",
             &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(xdg_.root() + "/http.bin"), ReadFile(file));
  EXPECT_TRUE(StopBootService(5s));
}

TEST_F(BootLab, TakenHttpPortIsRenewed) {
  ASSERT_NO_FATAL_FAILURE(RegisteredHereAndMapped());
  lab().Exec("pc",
             "timeout 60 python3 -c \"import socket,time;s=socket.create_server"
             "((\\\"\\\",8080));time.sleep(60)\" >/dev/null 2>&1 &");
  for (int i = 0; i < 50 && lab().Exec("pc", "ss -ltn").find(":8080") == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(RunBoot(), 0) << Log();
  const int port = std::stoi(Setting(setting::kHttpPort));
  EXPECT_GE(port, 35001);
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_NE(ddns.find("\"http_port\": \"" + std::to_string(port) + "\""), std::string::npos)
      << ddns;
  EXPECT_NE(lab().Mappings().find(std::to_string(port) + "->" + lab()["PC_IP"]), std::string::npos);
}

TEST_F(BootLab, NoMappingAndNameInOtherCaseIsAnotherPc) {
  StartFtpServer();
  StoreRegistration("Home");
  SeedDdns(kRecord);
  EXPECT_EQ(RunBoot(), 8) << Log();
  EXPECT_EQ(Setting(setting::kAdminPort), "0");
}

TEST_F(BootLab, MappingOfAnotherPcIsLeftUntouched) {
  StartFtpServer();
  StoreRegistration("home");
  SeedDdns(kRecord);
  lab().Map("pc2", lab()["PC2_IP"], 2121, "Quarno_Server_FTP");
  const std::string before = lab().Mappings();
  EXPECT_EQ(RunBoot(), 10) << Log();
  EXPECT_NE(before.find("2121->" + lab()["PC2_IP"]), std::string::npos) << before;
  EXPECT_EQ(lab().Mappings(), before);
}

TEST_F(BootLab, NotYoursEndsTheRenewalAndDeletesTheHost) {
  StartFtpServer();
  StoreRegistration("home");
  // Another router's record holds the same name.
  SeedDdns(std::string(kRecord) +
           R"(, "02:00:00:99:99:99": {"domain": "home.quarno.ralmek.co.kr", )"
           R"("email": "other@example.org", "ftp_port": "21", "http_port": "80"})");
  EXPECT_EQ(RunBoot(), 0) << Log();
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_EQ(ddns.find("02:00:00:12:AB:CD\": {"), std::string::npos) << ddns;
  EXPECT_EQ(Count(ddns, "\"answer\": \"!yours\""), 1) << ddns;
  EXPECT_NE(Log().find("재등록 시도 중 실패하였습니다."), std::string::npos);
}

TEST_F(BootLab, FiveFailedAttemptsLeaveNoServerMapping) {
  StartFtpServer();
  StoreRegistration("home");
  SeedDdns(kRecord, "--register-answer 'good;0;1'");
  EXPECT_EQ(RunBoot(90s), 0) << Log();
  const std::string ddns = ReadFile(lab().Path("ddns-state.json"));
  EXPECT_EQ(Count(ddns, "\"action\": \"register\""), 5) << ddns;
  const std::string table = lab().Mappings();
  EXPECT_EQ(table.find("Quarno_Server"), std::string::npos) << table;
  EXPECT_EQ(ddns.find("02:00:00:12:AB:CD\": {"), std::string::npos) << ddns;  // host deleted
}

// Reboots in a row: the FTP server service starts by itself from the file the
// last boot wrote and listens on the stored FTP port before the boot service
// runs. The boot service must take that port away and start the servers on
// the stored ports again; the mappings stay on the router throughout.
TEST_F(BootLab, BootsInARowStartTheServersOnTheStoredPorts) {
  ASSERT_NO_FATAL_FAILURE(RegisteredHereAndMapped());
  const std::string table = lab().Mappings();
  const std::string wan = lab()["ROUTER_WAN_IP"], file = share_ + "/hello.bin";
  auto expect_served = [&](const std::string& boot) {
    EXPECT_NE(Log().find("FTP 서버 포트 초기화 설정에 성공하였습니다."), std::string::npos)
        << boot << Log();
    EXPECT_NE(Log().find("서버를 시작합니다. 1"), std::string::npos) << boot << Log();
    EXPECT_EQ(Setting(setting::kHttpPort), "8080") << boot;  // no renewal
    // The hand-made mappings stay; the passive range joins them once.
    const std::string now = lab().Mappings();
    EXPECT_EQ(WithoutPassive(now), table) << boot;
    EXPECT_EQ(Count(now, "Quarno_Server_PASV"), 10) << boot << now;
    // The admin port left in ADMIN_PORT answers with the greeting.
    const int admin = std::atoi(Setting(setting::kAdminPort).c_str());
    EXPECT_GT(admin, 0) << boot;
    EXPECT_EQ(AdminGreetingBytes(admin), 15) << boot;
    int status = 0;
    std::remove((xdg_.root() + "/ftp.bin").c_str());
    std::remove((xdg_.root() + "/http.bin").c_str());
    lab().Exec("internet",
               "curl -sS -m 20 --ftp-port - -u joe:s3cret ftp://" + wan +
                   ":2121/photos/hello.bin -o " + xdg_.root() + "/ftp.bin",
               &status);
    EXPECT_EQ(status, 0) << boot;
    EXPECT_EQ(ReadFile(xdg_.root() + "/ftp.bin"), ReadFile(file)) << boot;
    lab().Exec("internet",
               "curl -fsS -m 20 --anyauth -u joe:s3cret http://" + wan + ":8080/httpstream/x/photos/hello.bin -o " +
                   xdg_.root() + "/http.bin",
               &status);
    EXPECT_EQ(status, 0) << boot;
    EXPECT_EQ(ReadFile(xdg_.root() + "/http.bin"), ReadFile(file)) << boot;
  };

  EXPECT_EQ(RunBoot(), 0) << Log();
  expect_served("first boot: ");
  ASSERT_TRUE(StopBootService(5s));

  // Reboot: the service restarts from the first boot's file and serves 2121.
  ASSERT_TRUE(ftpctl::StartFtpService(*services_, kBinaries + "quarno-ftpd", 10s));
  bool listening = false;
  for (int i = 0; i < 100 && !listening; ++i) {
    listening = lab().Exec("pc", "ss -ltn").find(":2121 ") != std::string::npos;
    if (!listening) std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(listening) << "the FTP server did not take up the first boot's file";
  EXPECT_EQ(RunBoot(), 0) << Log();
  EXPECT_EQ(Log().find("사용중입니다"), std::string::npos) << Log();
  expect_served("second boot: ");

  // Only the boot-up service restarts (an update, a crash): the FTP server,
  // still serving HTTP for its last run, keeps running, and the stored HTTP
  // port is still this PC's own, not one to renew.
  ASSERT_TRUE(StopBootService(5s));
  EXPECT_EQ(RunBoot(), 0) << Log();
  expect_served("boot-up service restarted: ");

  // Power cut: the pc's service processes die with SIGKILL, leaving their
  // pid file and control socket behind; then the machine boots again.
  boot_.Kill();
  std::ifstream pid_file(platform::RuntimeFolder() + "/" + ftpctl::kFtpServiceName + ".pid");
  int ftpd = 0;
  ASSERT_TRUE(pid_file >> ftpd);
  ASSERT_EQ(kill(ftpd, SIGKILL), 0);
  for (int i = 0; i < 100 && platform::ProcessAlive(ftpd); ++i) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(ftpctl::StartFtpService(*services_, kBinaries + "quarno-ftpd", 10s));
  EXPECT_EQ(RunBoot(), 0) << Log();
  expect_served("third boot: ");
  EXPECT_TRUE(StopBootService(5s));
}

TEST_F(BootLab, StopDuringTheBootWorkEndsWithinASecond) {
  // No FTP server yet: the boot work waits for it (up to 60 s).
  services_ = platform::MakeServiceManager();
  ASSERT_TRUE(services_->Create({ftpctl::kFtpServiceName, ftpctl::kFtpServiceDisplayName,
                                 kBinaries + "quarno-ftpd", platform::StartType::kOnDemand}));
  StartBootService();
  std::this_thread::sleep_for(300ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(StopBootService(1s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_NE(Log().find("서비스 종료 신호가 들어왔습니다."), std::string::npos) << Log();
}

// Clients on the Internet in their default, passive mode: the boot service
// maps the passive range beside the FTP mapping and gives the FTP server the
// router's WAN address, which PASV announces to them; a client on the LAN
// still gets the LAN address. Then the same over TLS.
TEST_F(BootLab, PassiveModeThroughTheRouter) {
  ASSERT_NO_FATAL_FAILURE(RegisteredHereAndMapped());
  const std::string pc = lab()["PC_IP"], wan = lab()["ROUTER_WAN_IP"];
  EXPECT_EQ(RunBoot(), 0) << Log();
  const std::string table = lab().Mappings();
  for (int port = 29900; port <= 29909; ++port) {
    const std::string p = std::to_string(port);
    EXPECT_NE(table.find(p + "->" + pc + ":" + p + " 'Quarno_Server_PASV'"), std::string::npos)
        << table;
  }
  const std::string config = ReadFile(ftpctl::FtpConfigFilePath());
  EXPECT_NE(config.find("<Item name=\"Custom PASV IP\" type=\"string\">" + wan + "</Item>"),
            std::string::npos)
      << config;

  const std::string dir = xdg_.root(), source = share_ + "/hello.bin";
  std::ofstream(dir + "/up.bin", std::ios::binary) << ReadFile(source) << "and some more";
  const std::string upload = ReadFile(dir + "/up.bin");
  const std::string url = "ftp://" + wan + ":2121/photos/";
  struct Client {
    std::string name, get, put;
  };
  // curl (EPSV, then PASV) and lftp each download and upload; `tag` names
  // their files.
  auto transfer = [&](const std::string& tag, const std::string& curl, const std::string& lftp) {
    const std::string at = "; bye\" ftp://" + wan + ":2121";
    const Client clients[] = {
        {tag + "curl (EPSV)", curl + url + "hello.bin -o " + dir + "/" + tag + "curl.bin",
         curl + "-T " + dir + "/up.bin " + url + "up-" + tag + "curl.bin"},
        {tag + "curl --disable-epsv (PASV)",
         curl + "--disable-epsv " + url + "hello.bin -o " + dir + "/" + tag + "curl-pasv.bin",
         curl + "--disable-epsv -T " + dir + "/up.bin " + url + "up-" + tag + "curl-pasv.bin"},
        {tag + "lftp", lftp + "get /photos/hello.bin -o " + dir + "/" + tag + "lftp.bin" + at,
         lftp + "put " + dir + "/up.bin -o /photos/up-" + tag + "lftp.bin" + at},
    };
    for (const Client& c : clients) {
      int status = -1;
      const std::string out = lab().Exec("internet", "timeout 30 " + c.get + " 2>&1", &status);
      EXPECT_EQ(status, 0) << c.name << ": " << out;
      status = -1;
      const std::string put = lab().Exec("internet", "timeout 30 " + c.put + " 2>&1", &status);
      EXPECT_EQ(status, 0) << c.name << ": " << put;
    }
    for (const char* name : {"curl", "curl-pasv", "lftp"}) {
      EXPECT_TRUE(ReadFile(dir + "/" + tag + name + ".bin") == ReadFile(source)) << tag << name;
      EXPECT_TRUE(ReadFile(share_ + "/up-" + tag + name + ".bin") == upload) << tag << name;
    }
  };
  const std::string curl = "curl -sS -m 20 -u joe:s3cret ";
  transfer("", curl,
           "lftp -u joe,s3cret -e \"set ftp:ssl-allow no; set ftp:passive-mode on; "
           "set ftp:fix-pasv-address no; set net:max-retries 1; set net:timeout 10; ");

  // Python's ftplib, made to connect where PASV says (by default it ignores
  // the address); it prints the address it was told.
  std::ofstream(dir + "/ftp_client.py") << R"(import ftplib, sys
host, name = sys.argv[1], sys.argv[2]
f = ftplib.FTP()
f.trust_server_pasv_ipv4_address = True
f.connect(host, 2121, timeout=20)
f.login("joe", "s3cret")
print(ftplib.parse227(f.sendcmd("PASV"))[0])
f.sendcmd("NOOP")
with open(sys.argv[3] + "/" + name + ".bin", "wb") as out:
    f.retrbinary("RETR /photos/hello.bin", out.write)
with open(sys.argv[3] + "/up.bin", "rb") as up:
    f.storbinary("STOR /photos/up-" + name + ".bin", up)
f.quit()
)";
  int status = -1;
  std::string told = lab().Exec(
      "internet",
      "timeout 30 python3 " + dir + "/ftp_client.py " + wan + " ftplib " + dir + " 2>&1", &status);
  EXPECT_EQ(status, 0) << told;
  EXPECT_EQ(told, wan + "\n");
  EXPECT_TRUE(ReadFile(dir + "/ftplib.bin") == ReadFile(source));
  EXPECT_TRUE(ReadFile(share_ + "/up-ftplib.bin") == upload);

  told = lab().Exec(
      "pc2", "timeout 30 python3 " + dir + "/ftp_client.py " + pc + " ftplib-lan " + dir + " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << told;
  EXPECT_EQ(told, pc + "\n");
  EXPECT_TRUE(ReadFile(dir + "/ftplib-lan.bin") == ReadFile(source));

  // The same through TLS, where the router can no longer read (or mend) the
  // PASV reply: the announced address must already be the WAN one.
  transfer("tls-", curl + "-k --ssl-reqd ",
           "lftp -u joe,s3cret -e \"set ftp:ssl-force true; set ftp:ssl-protect-data true; "
           "set ssl:verify-certificate no; set ftp:passive-mode on; set ftp:fix-pasv-address no; "
           "set net:max-retries 1; set net:timeout 10; ");

  // ftplib over TLS with PROT P, its data connections resuming the control
  // connection's session (the stock class does not, and gets 522).
  std::ofstream(dir + "/ftps_client.py") << "import ftplib, ssl, sys\n"
                                         << quarno::test::kPythonReusingFtpTls << R"(host = sys.argv[1]
f = Reusing(context=CTX, timeout=20)
f.trust_server_pasv_ipv4_address = True
f.connect(host, 2121)
f.auth()
f.login("joe", "s3cret")
f.prot_p()
print(ftplib.parse227(f.sendcmd("PASV"))[0])
f.sendcmd("NOOP")
with open(sys.argv[2] + "/tls-ftplib.bin", "wb") as out:
    f.retrbinary("RETR /photos/hello.bin", out.write)
with open(sys.argv[2] + "/up.bin", "rb") as up:
    f.storbinary("STOR /photos/up-tls-ftplib.bin", up)
f.quit()
)";
  told = lab().Exec("internet",
                    "timeout 30 python3 " + dir + "/ftps_client.py " + wan + " " + dir + " 2>&1",
                    &status);
  EXPECT_EQ(status, 0) << told;
  EXPECT_EQ(told, wan + "\n");
  EXPECT_TRUE(ReadFile(dir + "/tls-ftplib.bin") == ReadFile(source));
  EXPECT_TRUE(ReadFile(share_ + "/up-tls-ftplib.bin") == upload);
  EXPECT_TRUE(StopBootService(5s));
}

// The router reboots and forgets every mapping while the boot service runs:
// within the check period FTP and HTTP are reachable from the Internet again.
TEST_F(BootLab, MappingsComeBackAfterTheRouterForgetsThem) {
  ASSERT_NO_FATAL_FAILURE(RegisteredHereAndMapped());
  const std::string pc = lab()["PC_IP"], wan = lab()["ROUTER_WAN_IP"];
  EXPECT_EQ(RunBoot(60s, ",heal_period=2000,heal_poll=100"), 0) << Log();
  const std::string before = lab().Mappings();
  ASSERT_EQ(Count(before, "Quarno_Server"), 12) << before;

  ASSERT_TRUE(lab().RestartIgd());
  const auto forgotten = std::chrono::steady_clock::now();

  const std::string dir = xdg_.root(), source = share_ + "/hello.bin";
  bool ftp = false, http = false;
  while (!(ftp && http) && std::chrono::steady_clock::now() - forgotten < 30s) {
    std::this_thread::sleep_for(500ms);
    int status = -1;
    if (!ftp) {
      std::remove((dir + "/healed.bin").c_str());
      lab().Exec("internet",
                 "curl -sS -m 3 -u joe:s3cret ftp://" + wan + ":2121/photos/hello.bin -o " + dir +
                     "/healed.bin 2>/dev/null",
                 &status);
      ftp = status == 0 && ReadFile(dir + "/healed.bin") == ReadFile(source);
    }
    if (!http) {
      lab().Exec("internet",
                 "curl -fsS -m 3 --anyauth -u joe:s3cret -o /dev/null http://" + wan +
                     ":8080/httpstream/x/photos/hello.bin 2>/dev/null",
                 &status);
      http = status == 0;
    }
  }
  const auto took = std::chrono::steady_clock::now() - forgotten;
  EXPECT_TRUE(ftp) << Log();
  EXPECT_TRUE(http) << Log();
  // A period of 2 s and the check; when a check began while the router was
  // down, its search for the gateway (5 s) and a second period.
  EXPECT_LT(took, 15s);
  EXPECT_EQ(WithoutPassive(lab().Mappings()), WithoutPassive(before));
  EXPECT_EQ(Count(lab().Mappings(), "Quarno_Server_PASV"), 10);
  EXPECT_NE(Log().find("UPnP 포트 포워드가 없어 다시 등록하였습니다: 2121 TCP -> " + pc),
            std::string::npos)
      << Log();
  EXPECT_TRUE(StopBootService(5s));
}

}  // namespace
}  // namespace quarno::test
