#pragma once
// The screen as the workflows see it: a narrow, value-typed interface that the
// Qt widgets implement (src/ui/qt/) and tests fake. Controls are addressed by
// their dialog ids; texts that are drawn rather than held by a control have
// ids of their own from 9000 on. Nothing here includes a toolkit.
//
// Threads: workflows call the view from their worker thread. Every call may
// come from any thread; the implementation carries it to the GUI thread and
// returns once it is done there (message boxes and reads return the answer).
// Window messages (WM_FTP_STATE, WM_TIMER, ...) reach the windows through a
// MessageSink (core/messages.h); timers through a Timers object (below).
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "platform/clock.h"

namespace quarno::ui {

// The windows (and the initialization window's three pages) a call addresses.
enum class Surface {
  kMain,           // CQuarnoUIDlg
  kInit,           // CFirmware_Update, the initialization window
  kFirmwareIntro,  // page 0 of the initialization window
  kAdminPassword,  // page 1
  kUpgrade,        // page 2
};

// Dialog ids of the main window.
namespace ctl {
inline constexpr int kName = 1000;              // edit: address name
inline constexpr int kEmail = 1002;             // edit: e-mail
inline constexpr int kPort = 1009;              // edit (5 chars): FTP port
inline constexpr int kAutoPort = 1017;          // check box "자동할당"
inline constexpr int kRegister = 1010;          // button "Quarno 등록"
inline constexpr int kRegisterToThisPc = 1019;  // button "현재PC로등록"
inline constexpr int kDeleteAccount = 1016;     // button "기존계정삭제"
inline constexpr int kFtpUser = 1004;           // edit: FTP user ID
inline constexpr int kFtpPassword = 1005;       // edit, masked with "*"
inline constexpr int kShowPassword = 1013;      // check box "암호 보이기"
inline constexpr int kSharedFolder = 1007;      // edit: shared folder (chosen, not typed)
inline constexpr int kBrowse = 1008;            // button "..."
inline constexpr int kCharset = 1028;           // drop-down: "EUC-KR (알FTP)", "UTF-8"
inline constexpr int kApply = 1011;             // button "설정저장"
inline constexpr int kAutoRun = 1020;           // check box "시작시 자동실행"
inline constexpr int kTrayStart = 1030;         // check box "트레이아이콘 시작"
inline constexpr int kUsers = 1014;             // list: "No", "IP 주소", "접속시간"
}  // namespace ctl

// Dialog ids of the initialization window's pages (they reuse numbers of the
// main window; the Surface tells them apart).
namespace page_ctl {
inline constexpr int kAdminUser = 1022;      // kAdminPassword: user-name edit
inline constexpr int kAdminPassword = 1002;  // kAdminPassword: password edit
inline constexpr int kAdminNext = 1008;      // kAdminPassword: "다음"
inline constexpr int kAdminBack = 1010;      // kAdminPassword: "< 뒤로가기"
inline constexpr int kIntroNext = 1008;      // kFirmwareIntro: "다음"
inline constexpr int kIntroCancel = 1010;    // kFirmwareIntro: "취소"
inline constexpr int kUpgradeFinish = 1010;  // kUpgrade: "마침" / "다음"
}  // namespace page_ctl

// Drawn texts and drawn numbers (SetText / SetNumber), painted by the view.
namespace drawn {
inline constexpr int kRegistrationStatus = 9001;  // kMain: "미등록", "등록됨", ...
inline constexpr int kPcAddress = 9002;           // kMain: beside "서버 IP 주소"
inline constexpr int kServerStatus = 9003;        // kMain: "서버실행중" / "서버준비중"
inline constexpr int kInitStatus = 9010;          // kInit: the status line
inline constexpr int kInitDots = 9011;            // kInit: " ." pairs, set at a tick (number);
                                                  // only the tick's repaint draws them
inline constexpr int kProgramVersion = 9012;      // kInit: the version behind "버전 : "
inline constexpr int kModelName = 9020;           // kFirmwareIntro
inline constexpr int kFirmwareVersion = 9021;     // kFirmwareIntro
inline constexpr int kLatestFirmware = 9022;      // kFirmwareIntro
inline constexpr int kAdminNotice = 9030;         // kAdminPassword: the notice line
inline constexpr int kUpgradeStep = 9040;         // kUpgrade: 9040..9043 step line texts
inline constexpr int kUpgradeMark = 9050;         // kUpgrade: 9050..9053 step marks (number 0/1)
inline constexpr int kInstallDots = 9060;         // kUpgrade: install animation dots, -1 off
inline constexpr int kUpgradeResult1 = 9061;      // kUpgrade: first result line
inline constexpr int kUpgradeResult2 = 9062;      // kUpgrade: second result line
inline constexpr int kDownloadProgress = 9070;    // any surface: per mille done, -1 hides it
}  // namespace drawn

enum class Icon { kNone, kInformation, kExclamation, kQuestion, kError };
enum class Answer { kOk, kYes, kNo };

// One row of a report list, its cells in column order.
struct ListRow {
  std::vector<std::string> cells;
  bool operator==(const ListRow&) const = default;
};

// A window rectangle in screen pixels (left, top, right, bottom).
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
};

class View {
 public:
  virtual ~View() = default;

  // --- controls ---
  // Replaces the text of an edit or button, or a drawn text (drawn::).
  virtual void SetText(Surface surface, int id, const std::string& text) = 0;
  // The current text of an edit (empty for unknown ids).
  virtual std::string Text(Surface surface, int id) = 0;
  // Sets a drawn number (drawn::kInitDots, kUpgradeMark + i, ...).
  virtual void SetNumber(Surface surface, int id, int value) = 0;
  // Checks or clears a check box.
  virtual void SetChecked(Surface surface, int id, bool checked) = 0;
  // Whether a check box is checked.
  virtual bool Checked(Surface surface, int id) = 0;
  // Selects entry `index` of a drop-down list.
  virtual void Select(Surface surface, int id, int index) = 0;
  // The selected entry of a drop-down list, -1 when none.
  virtual int Selection(Surface surface, int id) = 0;
  // Enables or disables a control (disabled controls take no input).
  virtual void Enable(Surface surface, int id, bool enabled) = 0;
  // Shows or hides a control.
  virtual void ShowControl(Surface surface, int id, bool shown) = 0;
  // Gives a control the keyboard focus.
  virtual void Focus(Surface surface, int id) = 0;
  // Shows a password edit in clear (false) or masked with "*" (true).
  virtual void SetMasked(Surface surface, int id, bool masked) = 0;
  // Replaces every row of a report list (ctl::kUsers) and scrolls to its end.
  virtual void SetRows(Surface surface, int id, const std::vector<ListRow>& rows) = 0;
  // Paints the surface again from the values set so far.
  virtual void Repaint(Surface surface) = 0;

  // --- windows ---
  // Shows (and brings to the front) or hides a window; kMain hidden = in the tray.
  virtual void ShowWindow(Surface surface, bool shown) = 0;
  // Whether the window is on screen (not hidden in the tray).
  virtual bool IsVisible(Surface surface) = 0;
  // Layered opacity, 0 (transparent) to 255 (opaque).
  virtual void SetOpacity(Surface surface, int alpha) = 0;
  // Dims the window (alpha 100) and stops its input, or undims it (alpha 255, input back).
  virtual void SetDimmed(Surface surface, bool dimmed) = 0;
  // The window's screen rectangle; nullopt when it has none yet.
  virtual std::optional<Rect> WindowRect(Surface surface) = 0;
  // Places the window at `rect` (position and size).
  virtual void MoveWindow(Surface surface, const Rect& rect) = 0;
  // Shows page 0, 1 or 2 of the initialization window and hides the others.
  virtual void ShowPage(int page) = 0;
  // Ends the initialization window: OK leads on to the main window, else the program ends.
  virtual void EndInit(bool ok) = 0;
  // Adds (true) or removes (false) the tray icon, tip "Quarno Server".
  virtual void SetTrayIcon(bool present) = 0;
  // Opens the help window on `html_path` (a second call while it is open does nothing).
  virtual void OpenHelp(const std::string& html_path) = 0;
  // Puts `text` on the desktop's clipboard.
  virtual void CopyText(const std::string& text) = 0;
  // Leaves the toolkit's loop; the process then ends with `exit_code`.
  virtual void EndProgram(int exit_code) = 0;

  // --- dialogs (synchronous) ---
  // OK message box with the application's title, owned by `owner`.
  virtual void MessageBox(Surface owner, const std::string& text) = 0;
  // Yes/No box with caption and icon; kYes or kNo.
  virtual Answer AskYesNo(Surface owner, const std::string& text, const std::string& caption,
                          Icon icon) = 0;
  // Folder chooser titled `title`, opening at `start` (the folder shared so
  // far) when that is a folder, else in the user's home folder; nullopt when
  // cancelled or nothing was chosen.
  virtual std::optional<std::string> ChooseFolder(Surface owner, const std::string& title,
                                                  const std::string& start) = 0;

  // --- the waiting window (one at a time) ---
  // Shows the waiting window over `owner` with "line1|line2".
  virtual void StartWaiting(Surface owner, const std::string& text) = 0;
  // Ends the waiting window (a second call does nothing) and brings the owner to the front.
  virtual void FinishWaiting() = 0;
};

// WM_TIMER as the timers post it: wParam is the timer id.
inline constexpr unsigned WM_TIMER = 0x0113;

// Timers and time, injectable: the program uses ThreadTimers (timers.h),
// tests a clock they advance by hand. Sleep and Now come from platform::Clock.
class Timers : public platform::Clock {
 public:
  // Posts WM_TIMER(id) to `target` every `period` until Kill(id); restarts a running id.
  virtual void Start(unsigned id, std::chrono::milliseconds period, MessageSink* target) = 0;
  // Stops timer `id`; no-op when it does not run.
  virtual void Kill(unsigned id) = 0;
};

}  // namespace quarno::ui
