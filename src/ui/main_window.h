#pragma once
// CQuarnoUIDlg without its toolkit: the main window's state, its message
// handling (second start-up stage, admin notices, timers, tray, exit) and the
// registration and account workflows. The Qt window calls the On* handlers on
// the GUI thread and delivers the messages posted to Sink() through
// OnMessage; long workflows run on the WorkflowRunner's thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "platform/clock.h"
#include "platform/netinfo.h"
#include "registration/mapping_healer.h"
#include "registration/renew_registration.h"
#include "ui/autostart.h"
#include "ui/capabilities.h"
#include "ui/view.h"
#include "ui/workflow_runner.h"

namespace quarno::ui {

inline constexpr unsigned kTimerStartServices = 1200;  // 20 ms, once
inline constexpr unsigned kTimerKeepAlive = 5001;      // 10 000 ms
inline constexpr unsigned kCmdTrayOpen = 32775;        // "Quarno Server 열기(&O)"
inline constexpr unsigned kCmdTrayExit = 32772;        // "Quarno Server 종료(&Q)"
inline constexpr unsigned kCmdCopyShareLink = 32776;   // "공유 링크 복사(&L)"
inline constexpr std::intptr_t kTrayDoubleClick = 0x0203;
inline constexpr std::intptr_t kTrayRightUp = 0x0205;

inline constexpr uint16_t kPortLow = 35001;
inline constexpr uint16_t kPortHigh = 65535;  // excluded
inline constexpr int kRegisterAttempts = 5;

// The FTP account as applied or stored.
struct FtpAccount {
  std::string user, password, charset, folder;
};

// Start-up values that the initialization sequence hands over.
struct StartupFacts {
  std::string gateway;              // router address
  std::string local_address;        // this PC's address on the router's network
  platform::MacAddress mac{};       // router MAC: the key of the DDNS record
  bool ftp_server_running = false;  // taken over from a running boot-up service
  int admin_port = 0;
  bool tray_start = false;
  std::optional<Rect> init_rect;  // the initialization window's rectangle to take over
  std::string program_folder;     // help page, HTTP start flag
};

class CQuarnoUIDlg {
 public:
  CQuarnoUIDlg(View& view, Timers& timers, MessageSink& self, Capabilities caps,
               AutoStart& autostart);
  ~CQuarnoUIDlg();
  CQuarnoUIDlg(const CQuarnoUIDlg&) = delete;
  CQuarnoUIDlg& operator=(const CQuarnoUIDlg&) = delete;

  // Filled by the initialization sequence before OnInitDialog.
  StartupFacts& Facts() { return facts_; }

  // --- window life ---
  // Sets up the controls and arms timer 1200 (the second start-up stage).
  void OnInitDialog();
  // Every message posted to Sink(): WM_TIMER, WM_FTP_STATE, WM_FTP_CONNECTIONS,
  // WM_FATAL_START_ERROR, WM_START_SERVICES, the help request, WM_AUTOSTART_DONE,
  // WM_TRAY_NOTIFY. GUI thread.
  void OnMessage(const Message& message);
  void OnCommand(unsigned command);  // tray menu
  // The window's close button: hide to the tray.
  void OnCloseToTray();
  // The help button.
  void OnHelpClicked();
  // Unfold or fold the connected-users section.
  void OnUnfoldClicked();

  // --- controls (GUI thread; ignored while a workflow runs) ---
  void OnRegisterClicked();
  void OnRegisterToThisPcClicked();
  void OnDeleteAccountClicked();
  void OnApplyClicked();
  void OnBrowseClicked();
  void OnShowPasswordToggled();
  void OnCharsetChanged();
  void OnAutoPortToggled();
  void OnAutoRunClicked();
  void OnTrayStartClicked();
  // A user edit of ctl::kName, kEmail, kPort, kFtpUser, kFtpPassword or kSharedFolder.
  void OnEditChanged(int id);

  // --- the workflows (worker thread; public for tests) ---
  void StartServices(const CancelFlag& cancel);
  void SwitchServers(const std::string* ftp_port_text, bool on, bool start_http,
                     const std::string& http_port_text);
  // mode: nullptr interactive; *mode == 1 unattended, set to 3 on success.
  // At start-up (`at_start_up`) a success shows no box: the status line says
  // it, and a box would hold the stored account's restore until clicked.
  void RegisterAddress(int* mode, const CancelFlag& cancel, bool at_start_up = false);
  int CheckStoredAccount(const std::optional<DdnsRecord>& record, int verdict, int* result);
  int ReRegisterAfterPortConflict(const CancelFlag& cancel);
  void DeleteExistingAccount();
  void RegisterToThisPc(const CancelFlag& cancel);
  // `record`: what the DDNS server holds for the router's MAC.
  void StartupDecision(const std::optional<DdnsRecord>& record, const CancelFlag& cancel);
  // account: nullptr interactive (from the edits), else start-up mode.
  void ApplyFtpAccount(const FtpAccount* account);
  void ExitPath();

  // --- state, for the painter and tests ---
  WorkflowRunner& Runner() { return runner_; }
  MessageSink& Sink() { return self_; }
  bool Registered() const { return registered_; }
  std::string StatusText() const;
  std::string ServerStatusText() const;
  const std::string& Name() const { return name_; }
  const std::string& Email() const { return email_; }
  const std::string& FtpPortText() const { return ftp_port_text_; }
  const std::string& HttpPortText() const { return http_port_text_; }
  const FtpAccount& Account() const { return account_; }
  bool AccountApplied() const { return account_applied_; }
  bool SettingsPending() const { return settings_pending_; }
  int FtpCharset() const { return ftp_charset_; }
  bool Unfolded() const { return unfolded_; }
  bool HiddenToTray() const { return hidden_to_tray_; }
  const std::optional<DdnsRecord>& Record() const { return record_; }
  int Verdict() const { return verdict_; }
  const std::string& DdnsServerAddress() const { return ddns_server_address_; }
  bool HttpRunning() const { return http_running_; }
  bool FtpOnline() const { return ftp_online_; }
  MappingHealer& Healer() { return healer_; }

 private:
  // The servers as the register/renew procedure switches them.
  class ProcedureServers final : public RegistrationServers {
   public:
    explicit ProcedureServers(CQuarnoUIDlg& window) : window_(window) {}
    void StopServing() override;
    void StartServing(int ftp_port, int http_port) override;

   private:
    CQuarnoUIDlg& window_;
  };
  // Gives the FTP server the router's new WAN address (the healer's thread).
  class PassiveAddress final : public ExternalAddressListener {
   public:
    explicit PassiveAddress(CQuarnoUIDlg& window) : window_(window) {}
    bool ExternalAddressChanged(const std::string& address) override;

   private:
    CQuarnoUIDlg& window_;
  };
  RenewResult Renew(RenewedMappings mappings, const CancelFlag& cancel);
  uint16_t PickPort(uint16_t excluded);
  // With the passive range of that port and the router's WAN address: the
  // server replaces its whole option set with each one it is sent.
  ftpctl::CGeneralOption FtpSettings(const std::string& ftp_port_text) const;
  void SendFtpSettings(const std::string& ftp_port_text);
  // quarno-ftpd keeps its listener while offline: the port it was given is
  // this program's, not another program's.
  bool PortUsedByAnotherProgram(int port);
  // Asks the router once for its WAN address, which passive answers carry.
  void LearnExternalAddress();
  // Stores the ports the DDNS server and the router agree on, where an
  // interrupted renewal left older ones stored.
  void ReplaceStaleStoredPorts(const DdnsRecord& announced, const ServerMappingReading& reading);
  // The healer keeps these mapped from now on (the caller has just mapped them).
  void KeepMappings(const std::string& ftp_port_text, int http_port);
  void StopHealing();
  void SetStatus(const std::string& text);
  void ShowMessage(const std::string& text);
  bool Visible();
  void BeginWaiting(const char* text);
  void EndWaiting();
  void ReadStoredAccountIntoEdits(bool with_charset);
  bool ValidateEmail();
  void ResetToUnregistered();
  void RefreshUsers();
  void ShowFromTray();
  // The link that opens the share without the password, to the clipboard.
  void CopyShareLink();
  void FatalStartError(std::uintptr_t code);
  void EnableApplyWhenFilled();
  bool RunWorkflow(WorkflowRunner::Work work);

  View& view_;
  Timers& timers_;
  MessageSink& self_;
  Capabilities caps_;
  AutoStart& autostart_;
  StartupFacts facts_;

  // Registration.
  std::string name_, email_, ftp_port_text_, http_port_text_;
  int ftp_port_ = 0;
  int http_port_ = 0;
  bool registered_ = false;
  bool force_enable_ = false;
  std::optional<DdnsRecord> record_;
  int verdict_ = 0;
  UpnpControlPoint control_;  // the gateway's control point the classification found
  std::string ddns_server_address_;

  // Servers.
  bool ftp_online_ = false;
  bool http_running_ = false;
  bool http_handed_over_ = false;  // control 191 sent to the boot-up service's FTP server

  // The mapping healer, on its own thread from the first mappings it keeps.
  platform::SystemClock clock_;
  PassiveAddress passive_address_{*this};
  MappingHealer healer_;
  HealerStop heal_stop_;
  std::thread heal_thread_;
  // The option set the FTP server was last sent, shared with the healer's thread.
  std::mutex ftp_settings_mutex_;
  std::string external_address_;  // the router's WAN address; empty when unknown
  std::string served_ftp_port_text_;
  int ftp_server_port_ = 0;  // what the FTP server listens on, 0 while unknown

  // FTP account.
  FtpAccount account_;
  int charset_index_ = 0;
  int ftp_charset_ = 0;
  bool account_applied_ = false;
  bool settings_pending_ = false;

  // Window.
  bool unfolded_ = false;
  bool hidden_to_tray_ = false;
  bool keep_alive_ = false;
  bool waiting_ = false;
  mutable std::mutex text_mutex_;  // the drawn texts the GUI thread also writes
  std::string status_text_;
  std::string server_status_text_;
  std::mutex users_mutex_;
  std::vector<ftpctl::ConnectionInfo> users_;  // the rows of the users list

  std::thread autorun_thread_;  // ApplyAutoStart, one per click

  WorkflowRunner runner_;
};

}  // namespace quarno::ui
