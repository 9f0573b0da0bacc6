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
#include "core/network_facts.h"
#include "ftpctl/ftp_server_control.h"
#include "platform/clock.h"
#include "router/router_access.h"
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

// Where the two servers are: named by host (resolved after the network
// wait) or by dotted address, with their ports. The router is the gateway the
// network facts name, reached through the router access.
struct InitPeers {
  std::string firmware_info_host;
  uint16_t firmware_info_port = 80;
  std::string download_host;
  uint16_t download_port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
};

// What the sequence asks of the world. The objects must outlive the
// sequence's thread (the program keeps them for its whole run).
struct InitCapabilities {
  NetworkFacts* network = nullptr;
  RouterAccess* router = nullptr;
  ftpctl::FtpServerControl* ftp = nullptr;
  platform::Clock* clock = nullptr;
  // Creates the home folder (an existing one is fine); its path goes out.
  std::function<bool(std::string& home)> make_home_folder = DefaultHomeFolder;
  std::function<std::string(const std::string& host)> resolve = DefaultResolve;

  static bool DefaultHomeFolder(std::string& home);
  static std::string DefaultResolve(const std::string& host);
};

// Up to 180 polls a second apart for an adapter with an address and a
// gateway while the network is alive (also after a success, one pause).
bool WaitForNetwork(NetworkFacts& network, platform::Clock& clock, int tries = 180);

// FindGateway and the "/checkup" probe: the gateway, this PC's address, the
// router's MAC and its model name; false when any is missing or the gateway
// is not the maker's router.
bool CheckRouter(NetworkFacts& network, RouterAccess& router, RouterFacts& facts);

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
int InitializationThreadProc(StartupState& state, const InitPeers& peers,
                             const InitCapabilities& caps, const InitWindowLink& window,
                             const WindowAlive& alive);

}  // namespace quarno::ui
