// Renders every window and page state of the desktop program to PNG files, so
// a reviewer sees them without running the program:
//   ui_gallery <folder>            (ctest writes to <build>/ui-gallery)
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QPainter>
#include <QTextBrowser>
#include <cstdio>

#include "qt_env.h"
#include "ui/init_sequence.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/fonts.h"
#include "ui/qt/help_window.h"
#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/pages.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_view.h"

using namespace quarno;
using namespace quarno::qt;
using ui::Surface;

namespace {

QString out_dir;
int written = 0;

void Save(const QPixmap& picture, const QString& name) {
  const QString path = QDir(out_dir).filePath(name + ".png");
  if (!picture.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
  ++written;
}

void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// A window with a box (message box, waiting window) placed over it as the
// screen would show them.
QPixmap Over(QWidget* window, QWidget* top, QPoint at) {
  Settle();
  QPixmap base = window->grab();
  QPainter p(&base);
  p.drawPixmap(at, top->grab());
  return base;
}

QPixmap WithBox(QWidget* window, const QString& text, QMessageBox::StandardButtons buttons =
                                                          QMessageBox::Ok) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quarno Server"),
                  QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), buttons,
                  window);
  box.setFont(Gulim(12));
  if (buttons & QMessageBox::Ok) box.button(QMessageBox::Ok)->setText(QStringLiteral("확인"));
  box.show();
  Settle();
  QPixmap framed(box.size() + QSize(2, 2));
  framed.fill(QColor(90, 100, 110));
  {
    QPainter p(&framed);
    p.drawPixmap(1, 1, box.grab());
  }
  const QPoint at((window->width() - framed.width()) / 2, (window->height() - framed.height()) / 2);
  QPixmap base = window->grab();
  QPainter p(&base);
  p.drawPixmap(at, framed);
  box.hide();
  return base;
}

void Hover(QWidget* window, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, QPointF(at), window->mapToGlobal(QPointF(at)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(window, &move);
}

void InitStates(QtView& view) {
  CFirmware_Update init;
  view.SetInitWindow(&init);
  init.show();
  view.SetText(Surface::kInit, ui::drawn::kInitStatus, "Ralmek 공유기와의 연결상태 조사합니다 ");
  Settle();
  // Only the paint that follows a tick draws the dots: grabbed right after one.
  view.SetNumber(Surface::kInit, ui::drawn::kInitDots, 3);
  Save(init.grab(), "init-running");

  const char* status_before[] = {"네트워크 연결이 되어있지 않아 연결될 때까지 3분간 대기합니다 ",
                                 "Ralmek 공유기와의 연결상태 조사합니다 ",
                                 "Ralmek 공유기와의 연결상태 조사합니다 ",
                                 "FTP 서버를 시작합니다 ",
                                 "FTP 서버를 시작합니다 ",
                                 "FTP 서버를 시작합니다 "};
  for (int i = 0; i < 6; ++i) {
    view.SetText(Surface::kInit, ui::drawn::kInitStatus, status_before[i]);
    init.StopDots();
    const int code = ui::INIT_ERR_NETWORK + i;
    Save(WithBox(&init, QString::fromUtf8(ui::InitResultMessage(code))),
         QStringLiteral("init-error-%1").arg(code));
  }

  view.SetText(Surface::kFirmwareIntro, ui::drawn::kModelName, "zq300");
  view.SetText(Surface::kFirmwareIntro, ui::drawn::kFirmwareVersion, "8.12");
  view.SetText(Surface::kFirmwareIntro, ui::drawn::kLatestFirmware, "9.12");
  view.ShowPage(0);
  Settle();
  Save(init.grab(), "page-firmware-intro");

  view.ShowPage(1);
  view.SetText(Surface::kAdminPassword, ui::page_ctl::kAdminUser, "admin");
  view.SetText(Surface::kAdminPassword, ui::page_ctl::kAdminPassword, "secret");
  Settle();
  Save(init.grab(), "page-admin-password");
  view.SetText(Surface::kAdminPassword, ui::drawn::kAdminNotice, "인증에 실패하였습니다.");
  Settle();
  Save(init.grab(), "page-admin-password-refused");

  view.ShowPage(2);
  view.SetNumber(Surface::kUpgrade, ui::drawn::kUpgradeMark + 0, 1);
  view.SetNumber(Surface::kUpgrade, ui::drawn::kDownloadProgress, 420);
  Settle();
  Save(init.grab(), "page-upgrade-downloading");
  view.SetNumber(Surface::kUpgrade, ui::drawn::kDownloadProgress, -1);
  for (int step = 1; step < 4; ++step) view.SetNumber(Surface::kUpgrade, ui::drawn::kUpgradeMark + step, 1);
  view.SetNumber(Surface::kUpgrade, ui::drawn::kInstallDots, 6);
  Settle();
  Save(init.grab(), "page-upgrade-installing");
  init.Upgrade()->SetResult(0);
  Settle();
  Save(init.grab(), "page-upgrade-done");
  init.Upgrade()->Reset();
  init.Upgrade()->SetMark(0);
  init.Upgrade()->SetResult(2);
  Settle();
  Save(init.grab(), "page-upgrade-failed");
  init.hide();
  view.SetInitWindow(nullptr);
}

void MainStates(QtView& view) {
  MainWindow main;
  view.SetMainWindow(&main);
  main.show();
  view.SetText(Surface::kMain, ui::drawn::kRegistrationStatus, "미등록");
  view.SetText(Surface::kMain, ui::drawn::kPcAddress, "192.168.10.23");
  view.SetText(Surface::kMain, ui::drawn::kServerStatus, "서버준비중");
  view.ShowControl(Surface::kMain, ui::ctl::kDeleteAccount, false);
  view.SetMasked(Surface::kMain, ui::ctl::kFtpPassword, true);
  view.Enable(Surface::kMain, ui::ctl::kApply, false);
  Settle();
  Save(main.grab(), "main-unregistered");

  view.SetText(Surface::kMain, ui::drawn::kRegistrationStatus, "등록됨");
  view.SetText(Surface::kMain, ui::drawn::kServerStatus, "서버실행중");
  view.SetText(Surface::kMain, ui::ctl::kName, "haneul");
  view.SetText(Surface::kMain, ui::ctl::kEmail, "haneul@example.com");
  view.SetText(Surface::kMain, ui::ctl::kPort, "35021");
  view.Enable(Surface::kMain, ui::ctl::kName, false);
  view.SetText(Surface::kMain, ui::ctl::kFtpUser, "하늘");
  view.SetText(Surface::kMain, ui::ctl::kFtpPassword, "sky2026");
  view.SetText(Surface::kMain, ui::ctl::kSharedFolder, "/home/haneul/공유");
  view.Select(Surface::kMain, ui::ctl::kCharset, 1);
  view.SetChecked(Surface::kMain, ui::ctl::kAutoRun, true);
  view.Enable(Surface::kMain, ui::ctl::kApply, true);
  Settle();
  Save(main.grab(), "main-registered");

  Hover(&main, QPoint(515, 18));
  Settle();
  Save(main.grab(), "main-hover-close");
  Hover(&main, QPoint(460, 332));
  Settle();
  Save(main.grab(), "main-hover-unfold");
  Hover(&main, QPoint(200, 200));

  main.SetUnfolded(true);
  view.SetRows(Surface::kMain, ui::ctl::kUsers,
               {{{" 1", "211.234.10.8", "2026-12-09 18:02:11"}},
                {{" 2", "175.223.41.90", "2026-12-09 18:10:47"}},
                {{" 3", "61.43.12.201", "2026-12-09 18:11:05"}}});
  Settle();
  Save(main.grab(), "main-unfolded-users");
  main.SetUnfolded(false);

  view.SetText(Surface::kMain, ui::drawn::kRegistrationStatus, "다른 PC에서 등록됨");
  view.ShowControl(Surface::kMain, ui::ctl::kRegister, false);
  view.ShowControl(Surface::kMain, ui::ctl::kRegisterToThisPc, true);
  view.ShowControl(Surface::kMain, ui::ctl::kDeleteAccount, true);
  view.Enable(Surface::kMain, ui::ctl::kApply, false);
  Settle();
  Save(main.grab(), "main-registered-elsewhere");

  view.SetDimmed(Surface::kMain, true);
  view.StartWaiting(Surface::kMain, "Quarno 계정을 등록중 입니다.|잠시만 기다려 주시기 바랍니다.");
  Settle();
  CProgressWindow* waiting = view.Waiting();
  Save(Over(&main, waiting, QPoint(main.width() / 2 - 210, 127)), "main-dimmed-waiting");
  Save(waiting->grab(), "waiting-window");
  view.FinishWaiting();
  view.SetDimmed(Surface::kMain, false);

  Save(WithBox(&main,
               QStringLiteral("현재 2명의 사용자가 접속 중입니다.\r\n설정을 변경하면 기존 연결이 "
                              "끊어집니다.\r\n\r\n ☞ 계속하시겠습니까?"),
               QMessageBox::Yes | QMessageBox::No),
       "main-ask-connected-users");
  main.hide();
  view.SetMainWindow(nullptr);
}

// The browse button's chooser, opened through the view at a share with a few
// folders in it, grabbed once its listing is in, then cancelled.
void FolderChooserState(QtView& view) {
  QTemporaryDir root;
  const QString share = QDir(root.path()).filePath(QStringLiteral("haneul/공유"));
  for (const char* sub : {"문서", "사진", "음악", "동영상"})
    QDir().mkpath(QDir(share).filePath(QString::fromUtf8(sub)));
  MainWindow main;
  view.SetMainWindow(&main);
  main.show();
  Settle();
  int polls = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(top);
      if (!dialog || !dialog->isVisible()) continue;
      if (++polls < 20) return;  // the folder model lists on a thread of its own
      poll.stop();
      Save(dialog->grab(), "folder-chooser-korean");
      dialog->reject();
      return;
    }
  });
  poll.start(25);
  view.ChooseFolder(Surface::kMain, "[FTP] 공개할 폴더를 선택하세요.", share.toStdString());
  main.hide();
  view.SetMainWindow(nullptr);
}

void HelpState() {
  CHelpWindow* help = CHelpWindow::Open(QStringLiteral(QUARNO_HELP_PAGE));
  Settle();
  Save(help->grab(), "help-window");
  help->close();
  Settle();
}

}  // namespace

int main(int argc, char** argv) {
  test::PrepareQtEnvironment();
  QApplication app(argc, argv);
  InstallFontSubstitutions();
  InstallQtKoreanTexts();
  out_dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("ui-gallery");
  QDir().mkpath(out_dir);
  QtView view;
  InitStates(view);
  MainStates(view);
  FolderChooserState(view);
  HelpState();
  std::printf("%d pictures in %s\n", written, qPrintable(QDir(out_dir).absolutePath()));
  return 0;
}
