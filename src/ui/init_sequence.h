#pragma once
// The initialization sequence of quarno-server, run on its own thread while
// the initialization window shows its status line: network wait, router
// probe, FTP server start, home folder, router firmware and program version.
// It reports exactly one result code (WM_INIT_RESULT) to the window.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/netprobe.h"
#include "router/router_client.h"
#include "ui/startup.h"

namespace quarno::ui {

enum InitResult : int {
  INIT_ERR_NETWORK = 100,
  INIT_ERR_ROUTER = 101,
  INIT_ERR_FTP_EXE = 102,
  INIT_ERR_FTP_START = 103,
  INIT_ERR_HOME_FOLDER = 104,
  INIT_ERR_REGISTRY = 105,
  INIT_DONE = 106,
};

// The message the initialization window shows for a failure code (100-105);
// empty for any other code.
const char* InitResultMessage(int code);

namespace init_status {
inline constexpr char kStart[] = "Quarno Server 초기화를 시작합니다 ";
inline constexpr char kCheckNetwork[] = "네트워크 연결상태를 확인합니다 ";
inline constexpr char kWaitNetwork[] =
    "네트워크 연결이 되어있지 않아 연결될 때까지 3분간 대기합니다 ";
inline constexpr char kCheckRouter[] = "Ralmek 공유기와의 연결상태 조사합니다 ";
inline constexpr char kStartFtp[] = "FTP 서버를 시작합니다 ";
inline constexpr char kGetFirmware[] = "펌웨어 버전정보를 가져옵니다 ";
inline constexpr char kCheckFirmware[] = "펌웨어 버전정보를 확인합니다 ";
inline constexpr char kLatestFirmware[] = "Ralmek 서버에서 최신 펌웨어 버전정보를 가져옵니다 ";
inline constexpr char kLatestProgram[] = "Quarno Server 최신버전을 확인합니다 ";
inline constexpr char kDone[] = "정상적으로 완료하였습니다 ";
}  // namespace init_status

// The lowest router firmware the program runs with.
inline constexpr double kMinimumFirmware = 8.34;

// Where the sequence's peers are. The router's address comes from the
// gateway that `router.find_gateway` finds; the two servers are named by host
// (resolved after the network wait) or by dotted address, with their ports.
struct InitPeers {
  RouterOptions router;
  std::string firmware_info_host;
  uint16_t firmware_info_port = 80;
  std::string download_host;
  uint16_t download_port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
};

// The steps that reach the machine; MakeInitSteps() gives the real ones.
struct InitSteps {
  std::function<bool()> network_alive;
  std::function<bool()> wait_for_network;
  // Finds the FTP server's executable and writes its first configuration file.
  std::function<bool(std::string& path, uint16_t& admin_port)> prepare_ftp;
  std::function<bool(const std::string& path)> start_ftp;
  // Creates the home folder (an existing one is fine); its path goes out.
  std::function<bool(std::string& home)> make_home_folder;
  std::function<std::string(const std::string& host)> resolve;
};
// Network facts of this machine, the FTP service through `manager` (which
// must outlive the steps), the home folder under the state folder.
InitSteps MakeInitSteps(platform::ServiceManager& manager);

// What the sequence tells its window, from its own thread.
struct InitWindowLink {
  std::function<void(const std::string& status)> set_status;
  std::function<void(bool opaque)> set_opaque;  // called only for a tray start
  std::function<void(int code)> post_result;    // WM_INIT_RESULT
  std::function<void()> firmware_update_needed;
  std::function<void(bool newer)> newer_program;
};

// Cleared when the window goes away; the thread then touches nothing more.
using WindowAlive = std::shared_ptr<std::atomic<bool>>;

// The sequence itself; returns the code it reported (0 when the window was
// gone before the end). `state` receives the values other parts read later.
int InitializationThreadProc(StartupState& state, const InitPeers& peers, const InitSteps& steps,
                             const InitWindowLink& window, const WindowAlive& alive);

}  // namespace quarno::ui
