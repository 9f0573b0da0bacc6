#pragma once
// CFirmware_Update without its toolkit: the initialization window's state,
// its reaction to the initialization sequence's result, and its three pages:
// the firmware check (CFirmwareIntro), the router administrator's credentials
// (CAdminPassword) and the firmware upgrade (CUpgrade); and the offer of a
// newer program. The Qt window calls the On* handlers on the GUI thread and
// delivers what is posted to its sink through OnMessage.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/messages.h"
#include "ui/init_sequence.h"
#include "ui/startup.h"
#include "ui/view.h"
#include "ui/workflow_runner.h"
#include "update/firmware_upgrade.h"
#include "update/program_update.h"

namespace quarno::ui {

inline constexpr unsigned kTimerInitDots = 100;  // 200 ms: status dots, install animation
// The window's own message: the credentials were accepted, show the upgrade
// page (posted by the check's worker so the page starts on the window's thread).
inline constexpr unsigned kMsgCredentialsAccepted = kWmUser + 201;

namespace init_text {
inline constexpr char kWindowTitle[] = "Quarno Server";
inline constexpr char kNotReleased[] =
    "해당 모델은 펌웨어 버전이 릴리즈 되지 않았습니다.\r\nRalmek에 문의해 주시기 바랍니다.";
inline constexpr char kStepStart[] = "펌웨어 업데이트를 시작합니다.";
inline constexpr char kStepDownload[] = "최신 펌웨어 파일을 다운로드 합니다.";
inline constexpr char kStepTransfer[] = "펌웨어를 공유기로 전송합니다.";
inline constexpr char kStepInstall[] = "펌웨어 설치가 시작되었습니다.";
inline constexpr char kStepDownloaded[] = "펌웨어 다운로드를 완료하였습니다.";
inline constexpr char kStepTransferred[] = "Ralmek 공유기로 펌웨어 전송을 완료하였습니다.";
inline constexpr char kUpgradeDone[] = "펌웨어 업데이트를 완료하였습니다.";
inline constexpr char kUpgradeDoneNext[] = "[다음] 버튼을 클릭 후 계속 진행하시기 바랍니다.";
inline constexpr char kDownloadFailed[] = "펌웨어 다운로드에 실패하였습니다.";
inline constexpr char kTransferFailed[] = "펌웨어를 공유기로 전송하는데 실패하였습니다.";
inline constexpr char kConnectionLost[] = "펌웨어 업데이트 중 공유기와 연결이 끊어졌습니다.";
inline constexpr char kCheckConnection[] =
    "Ralmek 공유기와의 연결상태나 네트워크 상태를 확인하시기 바랍니다.";
inline constexpr char kNextButton[] = "다음";
inline constexpr char kUpdateCaption[] = "Quarno Server 업데이트";
inline constexpr char kUpdateQuestion[] =
    "현재 버전(%s)을 최신 버전(%s)으로 업데이트 하시겠습니까?";
inline constexpr char kUpdateDownloading[] =
    "업데이트에 필요한 파일을 다운로드 합니다.|잠시만 기다려 주시기 바랍니다.";
inline constexpr char kWaitCheckRouterAccount[] =
    "공유기 관리자 계정을 확인 중입니다.|잠시만 기다려 주시기 바랍니다.";
inline constexpr char kUpdateDownloaded[] =
    "업데이트에 필요한 파일을 다운로드 하였습니다.|프로그램 종료 후 업데이트 설치가 시작됩니다.";
inline constexpr char kUpdateDownloadFailed[] = "업데이트에 필요한 파일 다운로드에 실패하였습니다.";
// The package installer could not be started (the program then goes on).
inline constexpr char kInstallerFailed[] = "업데이트 설치 프로그램을 실행하지 못했습니다.";
}  // namespace init_text

// Where the window's peers are and how it hands over a downloaded package.
struct InitWindowConfig {
  InitPeers peers;
  InitCapabilities caps;
  // The credential the router access keeps for the credentials page; the
  // firmware upload sends it.
  const RouterCredential* credential = nullptr;
  uint16_t router_port = 80;    // the upload goes to this port of the router
  std::string firmware_server;  // "host[:port]" of the firmware web server
  std::string download_folder;  // firmware files (the writable folder)
  update::ProgramUpdateOptions program_update;
};

class CFirmware_Update {
 public:
  CFirmware_Update(View& view, Timers& timers, MessageSink& self,
                   std::shared_ptr<StartupState> state, InitWindowConfig config);
  // Cancels and waits for the window's own workers; the initialization
  // thread is only told that the window is gone.
  ~CFirmware_Update();
  CFirmware_Update(const CFirmware_Update&) = delete;
  CFirmware_Update& operator=(const CFirmware_Update&) = delete;

  // Opacity, title, status line, version; timer 100 and the initialization thread.
  void OnInitDialog();
  // WM_INIT_RESULT, WM_UPGRADE_RESULT, WM_TIMER. GUI thread.
  void OnMessage(const Message& message);
  // Title-bar buttons.
  void OnMinimize();
  void OnClose();

  // CFirmwareIntro.
  void OnIntroNext();
  void OnIntroCancel();
  // CAdminPassword.
  void OnAdminNext();
  void OnAdminBack();
  // CUpgrade: "마침", or "다음" after a successful upgrade.
  void OnUpgradeFinish();

  // Saves the hand-over place, asks about a newer program, and either ends
  // the window with OK or downloads the package, starts the installer and
  // ends the program.
  void OfferProgramUpdate();

  bool UpgradeInProgress() const { return upgrade_in_progress_.load(); }
  bool FirmwareUpdateNeeded() const { return firmware_update_needed_.load(); }
  bool NewerProgram() const { return newer_program_.load(); }
  int UpgradeResult() const { return upgrade_result_; }
  // Blocks until the credential check, the upgrade and the update offer are
  // done (tests, orderly end).
  void WaitForWorkers();

 private:
  void OnInitResult(int code);
  void ShowIntroPage();
  void OnIntroShown();
  void ShowUpgradePage();
  void OnUpgradeResult(int result);
  void OnTimer();
  bool TrayStart() const { return state_->Get().tray_start; }

  View& view_;
  Timers& timers_;
  MessageSink& self_;
  std::shared_ptr<StartupState> state_;
  InitWindowConfig config_;
  WindowAlive alive_ = std::make_shared<std::atomic<bool>>(true);

  int dots_ = 0;
  bool installing_ = false;  // timer 100 animates the install line
  int install_dots_ = 0;
  std::atomic<bool> firmware_update_needed_{false};
  std::atomic<bool> newer_program_{false};
  std::atomic<bool> upgrade_in_progress_{false};
  int upgrade_result_ = -1;

  CancelFlag cancel_;
  std::thread upgrade_worker_;
  WorkflowRunner runner_;  // the credential check and the update offer
};

}  // namespace quarno::ui
