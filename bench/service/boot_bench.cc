// Time from the start of quarno-bootup-service to "servers serving and
// registered" (the end of its boot work with result 0) in the namespace lab,
// for the two paths that end that way:
//   here     the server's mappings point at this PC: servers start at once;
//   renewal  no mapping, registration matches: one renewal attempt.
// Each path runs with the default fixed sleeps and with them set to zero;
// the difference is the sleeps, the second figure is the system's own time.
// Needs root. Usage: service_boot_bench [runs per case, default 3]
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "lab/service/boot_driver.h"
#include "lab/service/netns_lab.h"
#include "platform/service_manager.h"
#include "support/temp_xdg.h"

using namespace quarno;
using namespace std::chrono_literals;

namespace {

struct Case {
  const char* name;
  bool mapped;
  int default_sleep_ms;  // fixed sleeps of this path with the default values
};

// One boot in a fresh lab; milliseconds to the end of the boot work, or -1.
long RunOnce(const Case& c, bool default_sleeps) {
  test::TempXdg xdg;
  test::NetnsLab lab;
  if (!lab.error().empty()) {
    std::fprintf(stderr, "lab: %s\n", lab.error().c_str());
    return -1;
  }
  const int host = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  const int pc = open(("/run/netns/" + lab["NS_PC"]).c_str(), O_RDONLY | O_CLOEXEC);
  setns(pc, CLONE_NEWNET);
  close(pc);
  const std::string bin = std::string(QUARNO_BINARY_DIR) + "/apps/";
  const std::string share = xdg.root() + "/share";
  std::filesystem::create_directories(share);
  WriteRegistration("home", "me@example.org", "2121", "8080");
  WriteAccount("joe", "s3cret", share, "UTF-8");
  std::ofstream(lab.Path("ddns-state.json"))
      << R"({"records": {"02:00:00:12:AB:CD": {"domain": "home.quarno.ralmek.co.kr", )"
         R"("email": "me@example.org", "ftp_port": "2121", "http_port": "8080"}}})";
  lab.Sim("ddns");
  if (c.mapped) {
    lab.Map("pc", lab["PC_IP"], 2121, "Quarno_Server_FTP");
    lab.Map("pc", lab["PC_IP"], 8080, "Quarno_Server_HTTP");
  }
  auto services = platform::MakeServiceManager();
  long elapsed = -1;
  if (ftpctl::StartFtpService(*services, bin + "quarno-ftpd", 10s)) {
    test::BootServiceRun boot;
    const std::string timings =
        default_sleeps ? "" : "network_interval=0,settle_after_start=0,settle_after_renew=0,"
                               "short_pause=0";
    if (boot.Start(lab["NS_PC"], bin + "quarno-bootup-service", timings, xdg.runtime() + "/n") &&
        boot.Result(60s) == 0) {
      elapsed = boot.Elapsed().count();
    }
    boot.Stop(2s);
  }
  ftpctl::StopFtpService(*services);
  setns(host, CLONE_NEWNET);
  close(host);
  return elapsed;
}

long Median(std::vector<long> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (std::string why = test::NetnsLab::WhyUnavailable(); !why.empty()) {
    std::fprintf(stderr, "service_boot_bench: %s\n", why.c_str());
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  // here: network wait 1000 + settle before the router's DDNS setting 5000.
  // renewal: network wait 1000 + pause 10 + settle before mapping 3000 + pause 10.
  const Case cases[] = {{"here", true, 6000}, {"renewal", false, 4020}};
  std::printf("%-8s %6s %14s %14s %14s\n", "path", "runs", "default (ms)", "fixed sleeps",
              "own time (ms)");
  for (const Case& c : cases) {
    std::vector<long> with_sleeps, own;
    for (int i = 0; i < runs; ++i) {
      if (long ms = RunOnce(c, true); ms >= 0) with_sleeps.push_back(ms);
      if (long ms = RunOnce(c, false); ms >= 0) own.push_back(ms);
    }
    std::printf("%-8s %6d %14ld %14d %14ld\n", c.name, runs, Median(with_sleeps),
                c.default_sleep_ms, Median(own));
  }
  return 0;
}
