#pragma once
// The main window: a drawn 529 x 342 window (430 unfolded) with the address
// registration and server settings, the connected-users list, and life in the
// tray while hidden. Controls carry the dialog ids as object names; every
// label is drawn.
#include <QHash>
#include <QStringList>
#include <QVector>

#include "ui/qt/drawn_window.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace quarno::qt {

class MainWindow : public DrawnWindow {
  Q_OBJECT
 public:
  enum ControlId : int {
    kName = 1000,
    kEmail = 1002,
    kPort = 1009,
    kAutoPort = 1017,
    kRegister = 1010,
    kRegisterHere = 1019,
    kDeleteAccount = 1016,
    kFtpUser = 1004,
    kFtpPassword = 1005,
    kShowPassword = 1013,
    kFolder = 1007,
    kBrowse = 1008,
    kCharset = 1028,
    kApply = 1011,
    kAutoRun = 1020,
    kTrayStart = 1030,
    kUsers = 1014,
  };
  enum HotSpotId { kHelp = 1, kMinimize = 2, kClose = 3, kUnfold = 4 };

  MainWindow();

  QWidget* Control(int id) const { return controls_.value(id); }
  template <typename T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  QList<int> ControlIds() const { return controls_.keys(); }

  void SetRegistrationStatus(const QString& text);
  QString RegistrationStatus() const { return registration_status_; }
  void SetPcAddress(const QString& text);
  void SetServerStatus(const QString& text);
  QString ServerStatus() const { return server_status_; }

  void SetUnfolded(bool unfolded);
  bool Unfolded() const { return unfolded_; }

  // Rows of the connected-users list: number text, address, connection time.
  void SetUsers(const QVector<QStringList>& rows);
  QVector<QStringList> Users() const;

  // Dimmed: a veil over the window and no input reaches it, while a long
  // operation runs and the waiting window shows.
  void SetDimmed(bool dimmed);
  bool Dimmed() const { return dimmed_; }

  // Without a tray the close button minimizes and the caption's context menu
  // carries the tray commands.
  void SetTrayAvailable(bool available) { tray_available_ = available; }
  bool TrayAvailable() const { return tray_available_; }
  bool HiddenToTray() const { return hidden_to_tray_; }
  void SetHiddenToTray(bool hidden) { hidden_to_tray_ = hidden; }
  // The close button's action: into the tray, or minimized without one.
  void HideToTray();
  // Bound to the workflows: the close button and the fold link report to them
  // (CloseClicked, UnfoldToggled) and the workflows decide.
  void SetBound(bool bound) { bound_ = bound; }
  // Tray double click and "Quarno Server 열기(&O)".
  void ShowFromTray();

 signals:
  void ButtonClicked(int id);
  void CheckClicked(int id, bool checked);
  void SelectionChanged(int id, int index);
  void TextEdited(int id, const QString& text);
  void FolderBrowseRequested();
  void HelpRequested();
  void CloseClicked();
  void UnfoldToggled(bool unfolded);
  void OpenRequested();
  void ExitRequested();
  void CopyLinkRequested();
  // A window message arrived (custom event of the message's number).
  void MessageArrived(unsigned id, quintptr wparam, qintptr lparam);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void OnHotSpot(int id) override;

 private:
  QLineEdit* AddEdit(int id, QRect place);
  QPushButton* AddButton(int id, const QString& text, QRect place);
  QCheckBox* AddCheck(int id, QPoint at);

  QHash<int, QWidget*> controls_;
  QTableWidget* users_ = nullptr;
  Veil* veil_ = nullptr;
  QString registration_status_;
  QString pc_address_;
  QString server_status_;
  bool unfolded_ = false;
  bool dimmed_ = false;
  bool tray_available_ = true;
  bool hidden_to_tray_ = false;
  bool bound_ = false;
};

}  // namespace quarno::qt
