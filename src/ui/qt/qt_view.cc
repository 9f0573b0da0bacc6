#include "ui/qt/qt_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidget>

#include "ui/qt/dialogs.h"
#include "ui/qt/fonts.h"
#include "ui/qt/help_window.h"
#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/pages.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/tray.h"

namespace quarno::qt {

using ui::Surface;

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }
}  // namespace

QtView::QtView(QObject* parent) : QObject(parent) {}

QtView::~QtView() = default;

void QtView::SetMainWindow(MainWindow* window) { main_ = window; }

template <typename R, typename F>
R QtView::OnGui(R fallback, F f) {
  if (QThread::currentThread() == thread()) return f();
  if (closing_) return fallback;
  R result = fallback;
  QMetaObject::invokeMethod(
      this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
  return result;
}

template <typename F>
void QtView::OnGui(F f) {
  if (QThread::currentThread() == thread()) return f();
  if (closing_) return;
  QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

QWidget* QtView::Window(Surface surface) const {
  switch (surface) {
    case Surface::kMain:
      return main_;
    case Surface::kInit:
      return init_;
    case Surface::kFirmwareIntro:
      return init_ ? init_->Intro() : nullptr;
    case Surface::kAdminPassword:
      return init_ ? init_->Admin() : nullptr;
    case Surface::kUpgrade:
      return init_ ? init_->Upgrade() : nullptr;
  }
  return nullptr;
}

QWidget* QtView::Find(Surface surface, int id) const {
  if (surface == Surface::kMain) return main_ ? main_->Control(id) : nullptr;
  QWidget* window = Window(surface);
  return window ? window->findChild<QWidget*>(QString::number(id)) : nullptr;
}

void QtView::SetText(Surface surface, int id, const std::string& text) {
  OnGui([&] {
    const QString t = Q(text);
    switch (id) {
      case ui::drawn::kRegistrationStatus:
        if (main_) main_->SetRegistrationStatus(t);
        return;
      case ui::drawn::kPcAddress:
        if (main_) main_->SetPcAddress(t);
        return;
      case ui::drawn::kServerStatus:
        if (main_) main_->SetServerStatus(t);
        return;
      case ui::drawn::kInitStatus:
        if (init_) init_->SetStatus(t);
        return;
      case ui::drawn::kProgramVersion:
        return;  // the window shows the program's own version
      case ui::drawn::kModelName:
        if (init_) init_->Intro()->SetModel(t);
        return;
      case ui::drawn::kFirmwareVersion:
        if (init_) init_->Intro()->SetCurrent(t);
        return;
      case ui::drawn::kLatestFirmware:
        if (init_) init_->Intro()->SetLatest(t);
        return;
      case ui::drawn::kAdminNotice:
        if (init_) init_->Admin()->SetNoticeText(t);
        return;
      case ui::drawn::kUpgradeResult1:
      case ui::drawn::kUpgradeResult2:
        if (init_) init_->Upgrade()->SetResultLine(id - ui::drawn::kUpgradeResult1, t);
        return;
      default:
        break;
    }
    if (id >= ui::drawn::kUpgradeStep && id < ui::drawn::kUpgradeStep + 4) {
      if (init_) init_->Upgrade()->SetStepText(id - ui::drawn::kUpgradeStep, t);
      return;
    }
    QWidget* w = Find(surface, id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      button->setText(t);
    }
  });
}

std::string QtView::Text(Surface surface, int id) {
  return OnGui(std::string(), [&] {
    QWidget* w = Find(surface, id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return S(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return S(button->text());
    if (auto* box = qobject_cast<QComboBox*>(w)) return S(box->currentText());
    return std::string();
  });
}

void QtView::SetNumber(Surface surface, int id, int value) {
  OnGui([&] {
    if (!init_) return;
    if (id == ui::drawn::kInitDots) {
      init_->SetShownDots(value);
    } else if (id == ui::drawn::kInstallDots) {
      init_->Upgrade()->SetInstallDots(value);
    } else if (id >= ui::drawn::kUpgradeMark && id < ui::drawn::kUpgradeMark + 4) {
      init_->Upgrade()->SetMark(id - ui::drawn::kUpgradeMark, value != 0);
    } else if (id == ui::drawn::kDownloadProgress) {
      if (surface == Surface::kInit) {
        init_->SetProgress(value);
      } else {
        init_->Upgrade()->SetProgress(value);
      }
    }
  });
}

void QtView::SetChecked(Surface surface, int id, bool checked) {
  OnGui([&] {
    if (auto* box = qobject_cast<QAbstractButton*>(Find(surface, id))) box->setChecked(checked);
  });
}

bool QtView::Checked(Surface surface, int id) {
  return OnGui(false, [&] {
    auto* box = qobject_cast<QAbstractButton*>(Find(surface, id));
    return box && box->isChecked();
  });
}

void QtView::Select(Surface surface, int id, int index) {
  OnGui([&] {
    if (auto* box = qobject_cast<QComboBox*>(Find(surface, id))) box->setCurrentIndex(index);
  });
}

int QtView::Selection(Surface surface, int id) {
  return OnGui(-1, [&] {
    auto* box = qobject_cast<QComboBox*>(Find(surface, id));
    return box ? box->currentIndex() : -1;
  });
}

void QtView::Enable(Surface surface, int id, bool enabled) {
  OnGui([&] {
    if (QWidget* w = Find(surface, id)) w->setEnabled(enabled);
  });
}

void QtView::ShowControl(Surface surface, int id, bool shown) {
  OnGui([&] {
    if (QWidget* w = Find(surface, id)) {
      // The users list follows the fold of the window, not this call.
      if (surface == Surface::kMain && id == ui::ctl::kUsers) return;
      w->setVisible(shown);
    }
  });
}

void QtView::Focus(Surface surface, int id) {
  OnGui([&] {
    if (QWidget* w = Find(surface, id)) w->setFocus(Qt::OtherFocusReason);
  });
}

void QtView::SetMasked(Surface surface, int id, bool masked) {
  OnGui([&] {
    if (auto* edit = qobject_cast<QLineEdit*>(Find(surface, id))) {
      edit->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
      edit->update();
    }
  });
}

void QtView::SetRows(Surface surface, int id, const std::vector<ui::ListRow>& rows) {
  OnGui([&] {
    if (surface != Surface::kMain || id != ui::ctl::kUsers || !main_) return;
    QVector<QStringList> table;
    for (const ui::ListRow& row : rows) {
      QStringList cells;
      for (const std::string& cell : row.cells) cells << Q(cell);
      table << cells;
    }
    main_->SetUsers(table);
    if (auto* list = main_->ControlAs<QTableWidget>(ui::ctl::kUsers)) {
      list->scrollToBottom();
      list->viewport()->update();
    }
  });
}

void QtView::Repaint(Surface surface) {
  OnGui([&] {
    if (QWidget* w = Window(surface)) w->update();
  });
}

void QtView::ShowWindow(Surface surface, bool shown) {
  OnGui([&] {
    if (surface == Surface::kMain) {
      if (!main_) return;
      if (shown) {
        main_->ShowFromTray();
      } else {
        main_->HideToTray();
      }
      return;
    }
    if (surface == Surface::kInit && init_) {
      init_->SetOpaque(shown);
      if (shown) {
        init_->show();
        init_->raise();
      } else {
        init_->hide();
      }
    }
  });
}

bool QtView::IsVisible(Surface surface) {
  return OnGui(false, [&] {
    QWidget* w = Window(surface);
    return w && w->isVisible();
  });
}

void QtView::SetOpacity(Surface surface, int alpha) {
  OnGui([&] {
    // Plain X servers ignore window opacity: transparent means out of sight,
    // half-transparent means the veil.
    if (surface == Surface::kInit && init_) {
      init_->SetOpaque(alpha > 0);
    } else if (surface == Surface::kMain && main_ && alpha >= 255) {
      main_->SetDimmed(false);
    }
  });
}

void QtView::SetDimmed(Surface surface, bool dimmed) {
  OnGui([&] {
    if (surface == Surface::kMain && main_) main_->SetDimmed(dimmed);
    else if (surface != Surface::kMain && init_) init_->SetDimmed(dimmed);  // the pages' window
  });
}

std::optional<ui::Rect> QtView::WindowRect(Surface surface) {
  return OnGui(std::optional<ui::Rect>(), [&]() -> std::optional<ui::Rect> {
    QWidget* w = Window(surface);
    if (!w) return std::nullopt;
    const QRect r = surface == Surface::kInit && init_ ? init_->HandOverRect()
                    : w->isMinimized()                ? w->normalGeometry()
                                                      : w->geometry();
    return ui::Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  });
}

void QtView::MoveWindow(Surface surface, const ui::Rect& rect) {
  OnGui([&] {
    if (QWidget* w = Window(surface)) w->move(rect.left, rect.top);
  });
}

void QtView::ShowPage(int page) {
  OnGui([&] {
    if (init_) init_->ShowPage(page);
  });
}

void QtView::EndInit(bool ok) {
  OnGui([&] {
    if (init_) init_->End(ok ? CFirmware_Update::kOk : CFirmware_Update::kCancel);
  });
}

void QtView::SetTrayIcon(bool present) {
  OnGui([&] {
    if (!present) {
      if (tray_) tray_->Remove();
      return;
    }
    if (!tray_) {
      tray_ = std::make_unique<Tray>();
      emit TrayAdded(tray_.get());
    }
    const bool added = tray_->Add();
    if (main_) main_->SetTrayAvailable(added);
    if (!added) {
      // No tray: the close button minimizes, so the window stays reachable.
      if (main_ && main_->HiddenToTray()) main_->ShowFromTray();
      emit TrayMissing();
      if (!tray_notice_shown_ && main_) {
        tray_notice_shown_ = true;
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Quarno Server"),
                                    QStringLiteral("알림 영역(트레이)을 찾을 수 없습니다.\n"
                                                   "창을 닫으면 최소화되며, 제목 줄을 오른쪽 "
                                                   "단추로 클릭하면 열기와 종료 메뉴가 "
                                                   "나타납니다."),
                                    QMessageBox::Ok, main_);
        box->setObjectName(QStringLiteral("tray-notice"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setFont(Gulim(12));
        box->setModal(false);
        box->show();
      }
    }
  });
}

void QtView::OpenHelp(const std::string& html_path) {
  OnGui([&] { CHelpWindow::Open(Q(html_path)); });
}

void QtView::CopyText(const std::string& text) {
  OnGui([&] { QGuiApplication::clipboard()->setText(Q(text)); });
}

void QtView::EndProgram(int exit_code) {
  OnGui([&] {
    exit_code_ = exit_code;
    closing_ = true;
    if (waiting_) waiting_->Finish();
    if (tray_) tray_->Remove();
    QCoreApplication::exit(exit_code);
  });
}

void QtView::MessageBox(Surface owner, const std::string& text) {
  OnGui([&] { ShowMessageBox(Window(owner), Q(text)); });
}

ui::Answer QtView::AskYesNo(Surface owner, const std::string& text, const std::string& caption,
                            ui::Icon icon) {
  return OnGui(ui::Answer::kNo, [&] {
    BoxIcon shown = BoxIcon::kNone;
    switch (icon) {
      case ui::Icon::kInformation:
        shown = BoxIcon::kInformation;
        break;
      case ui::Icon::kExclamation:
      case ui::Icon::kQuestion:
        shown = BoxIcon::kWarning;
        break;
      case ui::Icon::kError:
        shown = BoxIcon::kError;
        break;
      case ui::Icon::kNone:
        break;
    }
    return ShowMessageBox(Window(owner), Q(text), Q(caption), BoxKind::kYesNo, shown) ==
                   BoxAnswer::kYes
               ? ui::Answer::kYes
               : ui::Answer::kNo;
  });
}

std::optional<std::string> QtView::ChooseFolder(Surface owner, const std::string& title,
                                                const std::string& start) {
  return OnGui(std::optional<std::string>(), [&]() -> std::optional<std::string> {
    const QString folder = qt::ChooseFolder(Window(owner), FolderChooserStart(Q(start)), Q(title));
    if (folder.isEmpty()) return std::nullopt;
    return S(folder);
  });
}

void QtView::StartWaiting(Surface owner, const std::string& text) {
  OnGui([&] {
    if (!waiting_) waiting_ = std::make_unique<CProgressWindow>();
    QWidget* w = Window(owner);
    waiting_->Start(w && w->isVisible() ? w : nullptr, Q(text));
  });
}

void QtView::FinishWaiting() {
  OnGui([&] {
    if (waiting_) waiting_->Finish();
  });
}

}  // namespace quarno::qt
