#include "ui/init_sequence.h"

#include "core/log.h"
#include "net/peer_exchange.h"
#include "ftpctl/ftp_server.h"
#include "platform/paths.h"
#include "platform/tcp_socket.h"
#include "update/program_update.h"
#include "update/version.h"

namespace quarno::ui {

const char* InitResultMessage(int code) {
  switch (code) {
    case INIT_ERR_NETWORK:
      return "네트워크에 연결할 수 없습니다.\r\n연결상태를 확인 하시기 바랍니다.";
    case INIT_ERR_ROUTER:
      return "Ralmek 공유기 연결에 실패하였습니다.\r\nRalmek 공유기와 정상적으로 연결되어 있는지 "
             "확인 하시기 바랍니다.";
    case INIT_ERR_FTP_EXE:
      return "FTP Server 실행파일을 찾을 수 없습니다.\r\n올바른 경로에 있는지 확인하시기 "
             "바랍니다.~";
    case INIT_ERR_FTP_START:
      return "FTP Server 실행에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.";
    case INIT_ERR_HOME_FOLDER:
      return "공유폴더 생성에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.";
    case INIT_ERR_REGISTRY:
      return "레지스트리 등록에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.";
    default:
      return "";
  }
}

bool InitCapabilities::DefaultHomeFolder(std::string& home) {
  home = platform::HomeFolder();
  return platform::MakeDirs(home);
}

std::string InitCapabilities::DefaultResolve(const std::string& host) {
  return platform::ResolveIPv4(host);
}

bool WaitForNetwork(NetworkFacts& network, platform::Clock& clock, int tries) {
  for (int i = 0; i < tries; ++i) {
    const bool ready = network.NetworkReady();
    // Also after a success: a link that just came up gets a moment to settle.
    clock.Sleep(std::chrono::seconds(1));
    if (ready) return true;
  }
  return false;
}

bool CheckRouter(NetworkFacts& network, RouterAccess& router, RouterFacts& facts) {
  const auto gateway = network.DefaultGateway();
  if (!gateway) return false;
  const auto mac = network.GatewayMac(*gateway);
  if (!mac) return false;
  facts.gateway.gateway = *gateway;
  facts.gateway.mac = *mac;
  if (const auto local = network.LocalAddressFor(*gateway)) facts.gateway.local_address = *local;
  const auto model = router.Probe(*gateway);
  if (!model) return false;
  // A "200 ok" without a body leaves the model name as it was.
  if (!model->empty()) facts.model_name = *model;
  return true;
}

int InitializationThreadProc(StartupState& state, const InitPeers& peers,
                             const InitCapabilities& caps, const InitWindowLink& window,
                             const WindowAlive& alive) {
  const bool tray_start = state.Get().tray_start;
  auto present = [&] { return !alive || alive->load(); };
  auto status = [&](const char* text) {
    if (present() && window.set_status) window.set_status(text);
  };
  auto opaque = [&](bool on) {
    if (tray_start && present() && window.set_opaque) window.set_opaque(on);
  };
  auto report = [&](int code) {
    if (!present()) return 0;
    if (window.post_result) window.post_result(code);
    return code;
  };
  RawHttpOptions raw;
  raw.connect_timeout = peers.connect_timeout;
  raw.receive_timeout = peers.receive_timeout;

  // 1-2: the network.
  status(init_status::kCheckNetwork);
  if (!caps.network->NetworkReady()) {
    opaque(true);
    status(init_status::kWaitNetwork);
  }
  if (!WaitForNetwork(*caps.network, *caps.clock)) return report(INIT_ERR_NETWORK);
  opaque(false);
  status(init_status::kStart);
  status(init_status::kCheckRouter);
  if (!present()) return 0;

  // 3-4: the maker's router.
  RouterFacts facts;
  if (!CheckRouter(*caps.network, *caps.router, facts)) return report(INIT_ERR_ROUTER);
  state.Update([&](StartupValues& v) {
    v.router_address = facts.gateway.gateway;
    v.local_address = facts.gateway.local_address;
    v.router_mac = facts.gateway.mac;
    v.router_model = facts.model_name;
  });

  // 5: the FTP server, unless the boot-up service left it running.
  if (!state.Get().ftp_server_running) {
    const auto prepared = caps.ftp->Prepare();
    if (!prepared) return report(INIT_ERR_FTP_EXE);
    state.Update([&](StartupValues& v) { v.admin_port = prepared->admin_port; });
    status(init_status::kStartFtp);
    if (!caps.ftp->StartService(prepared->executable)) return report(INIT_ERR_FTP_START);
  }

  // 6 has nothing to do here: links need no outside tool to be accepted.
  // 7: the home folder.
  std::string home;
  if (!caps.make_home_folder(home)) return report(INIT_ERR_HOME_FOLDER);
  state.Update([&](StartupValues& v) { v.home_folder = home; });

  // 8: the router's firmware.
  status(init_status::kGetFirmware);
  const FirmwareVersion firmware_answer = caps.router->Firmware(facts.gateway.gateway);
  const std::string version = firmware_answer.version;
  if (firmware_answer.status != FirmwareStatus::kOk || version.empty())
    return report(INIT_ERR_NETWORK);
  state.Update([&](StartupValues& v) { v.router_firmware_version = version; });
  const double firmware = update::LeadingNumber(version);

  // 9: older than the minimum: what the router wants and what is published.
  status(init_status::kCheckFirmware);
  if (firmware < kMinimumFirmware) {
    if (present() && window.firmware_update_needed) window.firmware_update_needed();
    const PasswordQuestion wants = caps.router->WantsPassword(facts.gateway.gateway);
    if (wants == PasswordQuestion::kExchangeFailed) return report(INIT_ERR_NETWORK);
    state.Update(
        [&](StartupValues& v) { v.router_password_required = wants == PasswordQuestion::kNeeded; });
    status(init_status::kLatestFirmware);
    RawHttpOptions info = raw;
    info.port = peers.firmware_info_port;
    const std::string address = caps.resolve(peers.firmware_info_host);
    std::string answer;
    if (address.empty() ||
        RawHttpExchange(address, "GET /online_upgrade/" + facts.model_name + ".version\r\n\r\n",
                        answer, info) != 0)
      return report(INIT_ERR_NETWORK);
    state.Update([&](StartupValues& v) { v.latest_firmware_version = TrimWhite(answer); });
  }

  // 10: a newer program; never fails the sequence.
  status(init_status::kLatestProgram);
  RawHttpOptions download = raw;
  download.port = peers.download_port;
  const update::ProgramVersionCheck program =
      update::CheckLatestProgramVersion(
          caps.resolve(peers.download_host), download,
          peers.download_host + ":" + std::to_string(peers.download_port));
  state.Update([&](StartupValues& v) { v.latest_program_version = program.latest; });
  if (present() && window.newer_program) window.newer_program(program.newer);

  status(init_status::kDone);
  return report(INIT_DONE);
}

}  // namespace quarno::ui
