#pragma once
// Stand-ins for the machine under the initialization sequence: network facts
// that name the router simulator as gateway, an FTP server control that
// records what it is asked, and a clock that moves when slept on.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "core/network_facts.h"
#include "ftpctl/ftp_server_control.h"
#include "platform/clock.h"

namespace quarno::startup_test {

struct FakeNetwork final : NetworkFacts {
  bool NetworkReady() override { return ready; }
  std::optional<std::string> DefaultGateway() override {
    if (gateway.empty()) return std::nullopt;
    return gateway;
  }
  std::optional<std::string> LocalAddressFor(const std::string&) override { return "127.0.0.1"; }
  std::optional<platform::MacAddress> GatewayMac(const std::string&) override { return mac; }
  bool IsPortFree(uint16_t) override { return true; }
  std::optional<uint16_t> PickFreePort(uint16_t low, uint16_t, uint16_t) override { return low; }

  bool ready = true;
  std::string gateway = "127.0.0.2";
  platform::MacAddress mac{0x00, 0x08, 0x9f, 0x12, 0x34, 0x56};
};

struct FakeFtp final : ftpctl::FtpServerControl {
  bool ServiceExists() override { return true; }
  platform::ServiceState QueryService() override { return platform::ServiceState::kRunning; }
  bool Control(ftpctl::ControlCode) override { return true; }
  bool WritePortClosedConfig() override { return true; }
  ftpctl::FtpConfigResult WriteServerConfig(const ftpctl::FtpServerAccount&,
                                            const platform::MacAddress&, int,
                                            const ftpctl::PassiveMode&) override {
    return {true, 31000};
  }
  std::optional<ftpctl::PreparedFtpServer> Prepare() override {
    ++prepared;
    if (!executable_present) return std::nullopt;
    return ftpctl::PreparedFtpServer{"/opt/quarno/quarno-ftpd", 31000};
  }
  bool StartService(const std::string& executable) override {
    started = executable;
    return starts;
  }
  void StopService() override {}

  bool executable_present = true;
  bool starts = true;
  int prepared = 0;
  std::string started;
};

struct FakeClock final : platform::Clock {
  void Sleep(std::chrono::milliseconds d) override {
    std::lock_guard l(m);
    now += d;
    slept += d;
  }
  std::chrono::steady_clock::time_point Now() override {
    std::lock_guard l(m);
    return now;
  }
  std::mutex m;
  std::chrono::steady_clock::time_point now{};
  std::chrono::milliseconds slept{0};
};

}  // namespace quarno::startup_test
