#include "ui/qt/binding.h"

#include "ui/main_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_view.h"
#include "ui/qt/tray.h"

namespace quarno::qt {

void BindMainWindow(MainWindow& window, ui::CQuarnoUIDlg& dialog, QtView& view) {
  window.SetBound(true);
  using ui::ctl::kApply;
  QObject::connect(&window, &MainWindow::ButtonClicked, &window, [&dialog](int id) {
    switch (id) {
      case ui::ctl::kRegister:
        dialog.OnRegisterClicked();
        break;
      case ui::ctl::kRegisterToThisPc:
        dialog.OnRegisterToThisPcClicked();
        break;
      case ui::ctl::kDeleteAccount:
        dialog.OnDeleteAccountClicked();
        break;
      case kApply:
        dialog.OnApplyClicked();
        break;
      default:
        break;
    }
  });
  QObject::connect(&window, &MainWindow::CheckClicked, &window, [&dialog](int id, bool) {
    switch (id) {
      case ui::ctl::kShowPassword:
        dialog.OnShowPasswordToggled();
        break;
      case ui::ctl::kAutoPort:
        dialog.OnAutoPortToggled();
        break;
      case ui::ctl::kAutoRun:
        dialog.OnAutoRunClicked();
        break;
      case ui::ctl::kTrayStart:
        dialog.OnTrayStartClicked();
        break;
      default:
        break;
    }
  });
  QObject::connect(&window, &MainWindow::SelectionChanged, &window, [&dialog](int id, int) {
    if (id == ui::ctl::kCharset) dialog.OnCharsetChanged();
  });
  QObject::connect(&window, &MainWindow::TextEdited, &window,
                   [&dialog](int id, const QString&) { dialog.OnEditChanged(id); });
  QObject::connect(&window, &MainWindow::FolderBrowseRequested, &window,
                   [&dialog] { dialog.OnBrowseClicked(); });
  QObject::connect(&window, &MainWindow::HelpRequested, &window,
                   [&dialog] { dialog.OnHelpClicked(); });
  QObject::connect(&window, &MainWindow::UnfoldToggled, &window,
                   [&dialog] { dialog.OnUnfoldClicked(); });
  QObject::connect(&window, &MainWindow::CloseClicked, &window,
                   [&dialog] { dialog.OnCloseToTray(); });
  QObject::connect(&window, &MainWindow::OpenRequested, &window,
                   [&dialog] { dialog.OnCommand(ui::kCmdTrayOpen); });
  QObject::connect(&window, &MainWindow::CopyLinkRequested, &window,
                   [&dialog] { dialog.OnCommand(ui::kCmdCopyShareLink); });
  QObject::connect(&window, &MainWindow::ExitRequested, &window,
                   [&dialog] { dialog.OnCommand(ui::kCmdTrayExit); });
  QObject::connect(&window, &MainWindow::MessageArrived, &window,
                   [&dialog](unsigned id, quintptr wparam, qintptr lparam) {
                     dialog.OnMessage(Message{id, wparam, lparam});
                   });
  // The tray is made when the start-up stage adds it; bind it then.
  QObject::connect(&view, &QtView::TrayAdded, &window, [&dialog](Tray* tray) {
    QObject::connect(tray, &Tray::Command, tray, [&dialog](int command) {
      dialog.OnCommand(static_cast<unsigned>(command));
    });
  });
}

}  // namespace quarno::qt
