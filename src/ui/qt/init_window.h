#pragma once
// The initialization window: a drawn 529 x 342 window whose status line
// animates with dots while the start-up checks run, and which then hosts the
// firmware pages. It runs modally and ends with OK (1) or Cancel (2).
#include <QBasicTimer>
#include <QEventLoop>
#include <QMutex>
#include <QPointer>

#include "ui/qt/drawn_window.h"

namespace quarno::qt {

class CFirmwareIntro;
class CAdminPassword;
class CUpgrade;

class CFirmware_Update : public DrawnWindow {
  Q_OBJECT
 public:
  enum Result { kOk = 1, kCancel = 2 };
  enum HotSpotId { kMinimize = 1, kClose = 2 };

  // `transparent`: started into the tray; the window stays out of sight until
  // SetOpaque(true) (a network wait or a failure must be seen).
  explicit CFirmware_Update(bool transparent = false);

  // Shows the window (unless transparent) and waits until End(); returns the result.
  int Exec();
  void End(int result);
  bool Ended() const { return ended_; }
  int ResultCode() const { return result_; }

  // Thread-safe: the start-up checks report their progress from a worker.
  void SetStatus(const QString& text);
  QString Status() const;
  int DotCount() const { return dots_; }
  // The dots as the start-up sequence counts them at a tick of its timer;
  // the window's own 200 ms animation stops once the count comes from outside.
  // Only the repaint that follows a tick draws them: any other repaint (an
  // expose, a new status text) shows the status line bare.
  void SetShownDots(int dots);
  int ShownDots() const { return shown_dots_; }
  // Download progress in per mille along the status bar; -1 hides it.
  void SetProgress(int per_mille);
  // Stops the dots (a result arrived).
  void StopDots();

  void SetOpaque(bool opaque);
  bool Opaque() const { return opaque_; }
  // Dimmed while a page's exchange runs: veiled, and no click reaches a page.
  void SetDimmed(bool dimmed);
  bool Dimmed() const { return dimmed_; }

  // Shows page 0, 1 or 2 and hides the others; -1 hides all.
  void ShowPage(int index);
  int CurrentPage() const { return page_; }
  CFirmwareIntro* Intro() const { return intro_; }
  CAdminPassword* Admin() const { return admin_; }
  CUpgrade* Upgrade() const { return upgrade_; }

  // Bound to the start-up flow: the close button asks it instead of closing.
  void SetBound(bool bound) { bound_ = bound; }
  // While set, neither the close button nor an error closes the window.
  void SetUpgradeInProgress(bool on) { upgrade_in_progress_ = on; }
  bool UpgradeInProgress() const { return upgrade_in_progress_; }

  // The normal rectangle saved on minimize and when the window ends
  // normally; invalid when none was saved.
  QRect SavedRect() const { return saved_rect_; }
  void SaveRect();
  // The rectangle the main window takes over: while minimized the one saved
  // at the minimize (a minimized window's own geometry is not its place),
  // else where the window is now, wherever it was moved after a restore.
  QRect HandOverRect() const;

 signals:
  // The user asked to close (close button while no upgrade runs).
  void CloseRequested();
  // Bound: the title buttons report here and the start-up flow decides.
  void MinimizeClicked();
  void CloseClicked();
  // A window message arrived (WM_INIT_RESULT, WM_UPGRADE_RESULT).
  void MessageArrived(unsigned id, quintptr wparam, qintptr lparam);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void OnHotSpot(int id) override;

 private:
  mutable QMutex status_mutex_;
  QString status_;
  int dots_ = 1;
  int shown_dots_ = 0;
  bool dots_due_ = false;  // set by a tick, consumed by the paint that draws them
  int painted_dots_ = 0;   // what that paint drew, kept for the rest of its region
  int progress_ = -1;
  QBasicTimer dot_timer_;
  bool opaque_ = true;
  bool dimmed_ = false;
  Veil* veil_ = nullptr;
  bool upgrade_in_progress_ = false;
  bool bound_ = false;
  bool ended_ = false;
  int result_ = kCancel;
  int page_ = -1;
  QRect saved_rect_;
  QEventLoop* loop_ = nullptr;
  CFirmwareIntro* intro_;
  CAdminPassword* admin_;
  CUpgrade* upgrade_;
};

}  // namespace quarno::qt
