// The drawn windows on the offscreen platform: drawn buttons, fold, keys,
// input method, dimming, the waiting window, the view across threads, the
// folder chooser, the hand-over place and the status dots.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <memory>
#include <thread>

#include "qt_env.h"
#include "ui/app_start.h"
#include "ui/init_window.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/fonts.h"
#include "ui/qt/help_window.h"
#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_event.h"
#include "ui/qt/pages.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_view.h"
#include "ui/startup.h"
#include "ui/timers.h"

using namespace quarno;
using namespace quarno::qt;
using ui::Surface;

namespace {

void Commit(QWidget* target, const QString& text) {
  target->setFocus();
  QInputMethodEvent event;
  event.setCommitString(text);
  QApplication::sendEvent(target, &event);
}

// QTest cannot click keys outside ASCII (the Hangul key): send the events.
void PressKey(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

// Answers the next modal box with the button whose text is `button`.
void AnswerNextBox(const QString& button, QString* seen_text = nullptr) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, button, seen_text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (seen_text) *seen_text = box->text();
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == button) {
        b->click();
        poll->deleteLater();
        return;
      }
    }
  });
  poll->start(20);
}

// What the chooser showed before it was cancelled.
struct ChooserSeen {
  bool shown = false;
  QString title, folder, accept, cancel, look_in;
};

// Cancels the next folder chooser once it is on screen, noting what it showed.
void CancelNextChooser(ChooserSeen* seen) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, seen] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(top);
      if (!dialog || !dialog->isVisible()) continue;
      seen->shown = true;
      seen->title = dialog->windowTitle();
      seen->folder = dialog->directory().absolutePath();
      if (auto* box = dialog->findChild<QDialogButtonBox*>()) {
        for (QAbstractButton* b : box->buttons()) {
          if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) seen->accept = b->text();
          if (box->buttonRole(b) == QDialogButtonBox::RejectRole) seen->cancel = b->text();
        }
      }
      if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel")))
        seen->look_in = label->text();
      dialog->reject();
      poll->deleteLater();
      return;
    }
  });
  poll->start(20);
}

// Delivers what is queued (status texts, update requests) and paints it.
void Settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QApplication::processEvents();
  }
}

// The initialization window's status line as the screen shows it (the
// backing store), not a fresh render.
QImage StatusLineOnScreen(QWidget* window) {
  return window->screen()
      ->grabWindow(window->winId())
      .toImage()
      .copy(QRect(1, 312, 440, 28))
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class WidgetsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    InstallFontSubstitutions();
    QVERIFY(InstallQtKoreanTexts());
  }

  void gulimIsAKoreanFace() {
    const QFontInfo info(Gulim(12));
    QVERIFY2(info.family().contains(QStringLiteral("Nanum")) ||
                 info.family().contains(QStringLiteral("Noto")),
             qPrintable(info.family()));
    QVERIFY(QFontMetrics(Gulim(12)).inFont(QChar(0xC11C)));  // 서
  }

  void latinOnlyFieldsTellTheInputMethod() {
    MainWindow w;
    for (int id : {MainWindow::kName, MainWindow::kEmail, MainWindow::kPort, MainWindow::kFtpUser}) {
      const Qt::InputMethodHints hints = w.ControlAs<QLineEdit>(id)->inputMethodHints();
      QVERIFY2(hints.testFlag(Qt::ImhLatinOnly) && hints.testFlag(Qt::ImhPreferLatin),
               qPrintable(QString::number(id)));
    }
    QVERIFY(w.ControlAs<QLineEdit>(MainWindow::kPort)->inputMethodHints().testFlag(Qt::ImhDigitsOnly));
    QVERIFY(!w.ControlAs<QLineEdit>(MainWindow::kFtpPassword)->inputMethodHints().testFlag(
        Qt::ImhLatinOnly));
  }

  void titleButtonsHoverPressAndAct() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy closes(&w, &MainWindow::CloseClicked);
    QSignalSpy helps(&w, &MainWindow::HelpRequested);
    QTest::mouseMove(&w, QPoint(515, 18));
    QCOMPARE(w.StateOf(MainWindow::kClose), DrawnWindow::kHovered);
    QCOMPARE(w.StateOf(MainWindow::kHelp), DrawnWindow::kIdle);
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(515, 18));
    QCOMPARE(w.StateOf(MainWindow::kClose), DrawnWindow::kPressed);
    // Released elsewhere: nothing happens and the press is forgotten.
    QTest::mouseMove(&w, QPoint(300, 18));
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(300, 18));
    QCOMPARE(w.StateOf(MainWindow::kClose), DrawnWindow::kIdle);
    QCOMPARE(closes.count(), 0);
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(486, 18));
    QCOMPARE(helps.count(), 1);
    // Close without a tray: the window is minimized, never lost.
    w.SetTrayAvailable(false);
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(515, 18));
    QCOMPARE(closes.count(), 1);
    QVERIFY(!w.HiddenToTray());
    // With a tray it hides, and the tray command brings it back.
    w.showNormal();
    w.SetTrayAvailable(true);
    w.close();
    QVERIFY(!w.isVisible());
    QVERIFY(w.HiddenToTray());
    w.ShowFromTray();
    QVERIFY(w.isVisible());
    QVERIFY(!w.HiddenToTray());
  }

  void unfoldSwitchesHeightAndList() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = w.ControlAs<QTableWidget>(MainWindow::kUsers);
    const QPoint top_left = w.pos();
    QCOMPARE(w.size(), QSize(529, 342));
    QVERIFY(!list->isVisible());
    QTest::mouseMove(&w, QPoint(450, 332));
    QCOMPARE(w.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(450, 332));
    QCOMPARE(w.size(), QSize(529, 430));
    QVERIFY(w.Unfolded());
    QVERIFY(list->isVisible());
    QCOMPARE(w.pos(), top_left);
    // The arrow itself folds it again.
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(412, 332));
    QCOMPARE(w.size(), QSize(529, 342));
    QVERIFY(!list->isVisible());
  }

  void returnAndEscapeNeverCloseOrPress() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy clicks(&w, &MainWindow::ButtonClicked);
    for (int id : {MainWindow::kName, MainWindow::kEmail, MainWindow::kPort, MainWindow::kFtpUser,
                   MainWindow::kFtpPassword, MainWindow::kRegister, MainWindow::kApply}) {
      QWidget* control = w.Control(id);
      control->setFocus();
      for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Hangul}) {
        PressKey(control, key);
      }
    }
    QVERIFY(w.isVisible());
    QCOMPARE(clicks.count(), 0);
    // Space still presses a focused button.
    w.Control(MainWindow::kRegister)->setFocus();
    QTest::keyClick(w.Control(MainWindow::kRegister), Qt::Key_Space);
    QCOMPARE(clicks.count(), 1);
  }

  void koreanInputThroughTheInputMethod() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy edits(&w, &MainWindow::TextEdited);
    auto* user = w.ControlAs<QLineEdit>(MainWindow::kFtpUser);
    Commit(user, QStringLiteral("하늘"));
    QCOMPARE(user->text(), QStringLiteral("하늘"));
    QCOMPARE(edits.count(), 1);
    QCOMPARE(edits.at(0).at(0).toInt(), int(MainWindow::kFtpUser));
    auto* password = w.ControlAs<QLineEdit>(MainWindow::kFtpPassword);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QTest::mouseClick(w.Control(MainWindow::kShowPassword), Qt::LeftButton, {}, QPoint(6, 6));
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
  }

  void folderIsChosenNotTyped() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy browse(&w, &MainWindow::FolderBrowseRequested);
    auto* folder = w.ControlAs<QLineEdit>(MainWindow::kFolder);
    QTest::mouseClick(folder, Qt::LeftButton);
    QCOMPARE(browse.count(), 1);  // empty: the chooser opens
    folder->setText(QStringLiteral("/srv/공유"));
    QTest::mouseClick(folder, Qt::LeftButton);
    QCOMPARE(browse.count(), 1);  // filled: a click only places the cursor
    folder->setFocus();
    QTest::keyClicks(folder, QStringLiteral("abc"));
    QTest::keyClick(folder, Qt::Key_Backspace);
    QTest::keyClick(folder, Qt::Key_V, Qt::ControlModifier);
    Commit(folder, QStringLiteral("가"));
    QCOMPARE(folder->text(), QStringLiteral("/srv/공유"));
    QTest::mouseClick(w.Control(MainWindow::kBrowse), Qt::LeftButton);
    QCOMPARE(browse.count(), 2);
  }

  void dimmedWindowTakesNoInput() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy clicks(&w, &MainWindow::ButtonClicked);
    auto* name = w.ControlAs<QLineEdit>(MainWindow::kName);
    w.SetDimmed(true);
    QTest::mouseClick(w.Control(MainWindow::kRegister), Qt::LeftButton);
    name->setFocus();
    QTest::keyClicks(name, QStringLiteral("abc"));
    Commit(name, QStringLiteral("가"));
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(name->text(), QString());
    // The veil darkens the whole window.
    const QImage dim = w.grab().toImage();
    QVERIFY(qGray(dim.pixel(200, 160)) < 200);
    w.SetDimmed(false);
    QTest::mouseClick(w.Control(MainWindow::kRegister), Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
  }

  void initWindowStatusPagesAndClose() {
    CFirmware_Update init;
    init.show();
    QVERIFY(QTest::qWaitForWindowExposed(&init));
    // The dots run 1..5 and start again at 0, one step per 200 ms.
    QVERIFY(QTest::qWaitFor([&] { return init.ShownDots() == 5; }, 3000));
    QVERIFY(QTest::qWaitFor([&] { return init.ShownDots() == 0; }, 1000));
    init.SetStatus(QStringLiteral("FTP 서버를 시작합니다 "));
    QCOMPARE(init.Status(), QStringLiteral("FTP 서버를 시작합니다 "));
    init.ShowPage(1);
    QVERIFY(init.Admin()->isVisible());
    QVERIFY(!init.Intro()->isVisible() && !init.Upgrade()->isVisible());
    QCOMPARE(init.Admin()->geometry(), QRect(1, 32, 526, 308));
    // Return and Escape inside the page neither close nor press.
    QSignalSpy next(init.Admin(), &CAdminPassword::NextClicked);
    init.Admin()->UserEdit()->setFocus();
    QTest::keyClick(init.Admin()->UserEdit(), Qt::Key_Return);
    QTest::keyClick(init.Admin()->UserEdit(), Qt::Key_Escape);
    QCOMPARE(next.count(), 0);
    QVERIFY(!init.Ended());
    init.Admin()->SetNotice(4);
    QCOMPARE(init.Admin()->ShownNotice(),
             QStringLiteral("Ralmek 공유기와 통신 오류가 발생하였습니다."));
    // While an upgrade runs the close button does nothing.
    init.SetUpgradeInProgress(true);
    QTest::mouseClick(&init, Qt::LeftButton, {}, QPoint(514, 17));
    QVERIFY(!init.Ended());
    init.SetUpgradeInProgress(false);
    QTest::mouseClick(&init, Qt::LeftButton, {}, QPoint(514, 17));
    QVERIFY(init.Ended());
    QCOMPARE(init.ResultCode(), int(CFirmware_Update::kCancel));
  }

  void upgradePageSteps() {
    CFirmware_Update init;
    CUpgrade* page = init.Upgrade();
    QVERIFY(!page->FinishButton()->isEnabled());
    QCOMPARE(page->StepText(1), QStringLiteral("최신 펌웨어 파일을 다운로드 합니다."));
    page->SetMark(CUpgrade::kDownloaded);
    QCOMPARE(page->StepText(1), QStringLiteral("펌웨어 다운로드를 완료하였습니다."));
    page->StartInstallAnimation();
    QVERIFY(page->Animating());
    page->SetResult(0);
    QVERIFY(!page->Animating());
    QVERIFY(page->FinishButton()->isEnabled());
    QCOMPARE(page->FinishButton()->text(), QStringLiteral("다음"));
    QCOMPARE(page->ResultLine(1), QStringLiteral("[다음] 버튼을 클릭 후 계속 진행하시기 바랍니다."));
    page->Reset();
    page->SetResult(1);
    QCOMPARE(page->FinishButton()->text(), QStringLiteral("마침"));
    QCOMPARE(page->ResultLine(0), QStringLiteral("펌웨어 다운로드에 실패하였습니다."));
  }

  void waitingWindowAnimatesAndCannotBeClosed() {
    MainWindow owner;
    owner.move(100, 50);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CProgressWindow waiting;
    QVERIFY(waiting.Start(&owner, QStringLiteral("한 줄|두 줄")));
    QCOMPARE(waiting.size(), QSize(421, 89));
    QCOMPARE(waiting.pos().y(), owner.frameGeometry().top() + 127);
    QCOMPARE(waiting.Frame(), 0);
    bool saw_last = false;
    QVERIFY(QTest::qWaitFor(
        [&] {
          saw_last = saw_last || waiting.Frame() == 11;
          return saw_last && waiting.Frame() == 1;
        },
        3000));
    waiting.close();
    QVERIFY(waiting.isVisible());
    QVERIFY(waiting.Finish());
    QVERIFY(!waiting.isVisible());
    QVERIFY(waiting.Finish());  // twice is harmless
  }

  void helpWindowIsSingle() {
    CHelpWindow* first = CHelpWindow::Open(QStringLiteral(QUARNO_HELP_PAGE));
    QVERIFY(first->Browser()->toPlainText().contains(QStringLiteral("서버 관리")));
    QCOMPARE(CHelpWindow::Open(QStringLiteral(QUARNO_HELP_PAGE)), first);
    QTest::mouseClick(first->CloseButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([] { return !CHelpWindow::IsOpen(); }, 2000));
    // A missing page still opens a window that says which file it wanted.
    CHelpWindow* missing = CHelpWindow::Open(QStringLiteral("/nonexistent/help_quarno.html"));
    QVERIFY(missing->Browser()->toPlainText().contains(QStringLiteral("/nonexistent")));
    missing->close();
  }

  void messagesArriveAsEventsOfTheirNumber() {
    MainWindow w;
    QSignalSpy arrived(&w, &MainWindow::MessageArrived);
    QtMessageSink sink(&w);
    std::thread poster([&] {
      sink.Post(WM_FTP_STATE, 0, 0);
      sink.Post(ui::WM_TIMER, 5001, 0);
    });
    poster.join();
    QVERIFY(QTest::qWaitFor([&] { return arrived.count() == 2; }, 2000));
    QCOMPARE(arrived.at(0).at(0).toUInt(), WM_FTP_STATE);
    QCOMPARE(arrived.at(1).at(0).toUInt(), ui::WM_TIMER);
    QCOMPARE(arrived.at(1).at(1).toULongLong(), 5001ull);
  }

  // The router-credential exchange dims its page: veiled, no click gets through.
  void credentialPageIsDimmedWhileItsExchangeRuns() {
    CFirmware_Update init;
    QtView view;
    view.SetInitWindow(&init);
    init.show();
    init.ShowPage(1);
    QVERIFY(QTest::qWaitForWindowExposed(&init));
    view.SetDimmed(Surface::kAdminPassword, true);
    QVERIFY(init.Dimmed());
    auto* veil = init.findChild<QWidget*>(QStringLiteral("veil"));
    QVERIFY(veil && veil->isVisible() && veil->geometry() == init.rect());
    const QPoint next = init.Admin()->mapTo(&init, init.Admin()->rect().center());
    QCOMPARE(init.childAt(next), veil);
    view.SetDimmed(Surface::kAdminPassword, false);
    QVERIFY(!init.Dimmed() && !veil->isVisible());
  }

  // The browse button's chooser opens where the share is, in Korean.
  void folderChooserOpensAtTheShareInKorean() {
    QTemporaryDir root;
    const QString share = QDir(root.path()).filePath(QStringLiteral("공유"));
    QVERIFY(QDir().mkpath(share));
    MainWindow w;
    QtView view;
    view.SetMainWindow(&w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ChooserSeen seen;
    CancelNextChooser(&seen);
    const auto chosen =
        view.ChooseFolder(Surface::kMain, "[FTP] 공개할 폴더를 선택하세요.", share.toStdString());
    QVERIFY(seen.shown);
    QVERIFY(!chosen);  // cancelled
    QCOMPARE(seen.title, QStringLiteral("[FTP] 공개할 폴더를 선택하세요."));
    QCOMPARE(seen.folder, share);
    QCOMPARE(seen.cancel, QStringLiteral("취소"));
    QCOMPARE(seen.accept, QStringLiteral("선택(&C)"));
    QCOMPARE(seen.look_in, QStringLiteral("다음에서 찾기:"));
  }

  void folderChooserStartFallsBackToHome() {
    QTemporaryDir root;
    const QString share = QDir(root.path()).filePath(QStringLiteral("공유 폴더"));
    QVERIFY(QDir().mkpath(share));
    const QString file = QDir(root.path()).filePath(QStringLiteral("a.txt"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QString home = QDir::homePath();
    const struct {
      QString current, start;
    } cases[] = {
        {share, share},                                    // the share as it is
        {QString(), home},                                 // nothing shared yet
        {QDir(root.path()).filePath("gone"), home},        // removed since
        {file, home},                                      // not a folder
        {QStringLiteral("."), home},                       // relative: never the working folder
        {QStringLiteral("공유 폴더"), home},
    };
    for (const auto& c : cases) QCOMPARE(FolderChooserStart(c.current), c.start);
  }

  // Minimized (the place is saved), restored and moved: the main window opens
  // where the initialization window was last, not where it was minimized.
  void mainWindowTakesTheInitWindowsLastPlace() {
    CFirmware_Update init;
    QtView view;
    view.SetInitWindow(&init);
    auto state = std::make_shared<ui::StartupState>();
    ui::ThreadTimers timers;
    QtMessageSink sink(&init);
    ui::CFirmware_Update flow(view, timers, sink, state, ui::InitWindowConfig{});
    init.SetBound(true);
    QObject::connect(&init, &CFirmware_Update::MinimizeClicked, &init, [&] { flow.OnMinimize(); });
    init.move(40, 30);
    init.show();
    QVERIFY(QTest::qWaitForWindowExposed(&init));
    const QRect at_minimize = init.geometry();
    QTest::mouseClick(&init, Qt::LeftButton, {}, QPoint(500, 17));
    QVERIFY(init.isMinimized());
    const ui::Rect minimized{at_minimize.left(), at_minimize.top(),
                             at_minimize.left() + at_minimize.width(),
                             at_minimize.top() + at_minimize.height()};
    QCOMPARE(view.WindowRect(Surface::kInit), std::optional<ui::Rect>(minimized));
    init.showNormal();
    init.move(300, 210);
    QVERIFY(QTest::qWaitFor([&] { return init.geometry().topLeft() == QPoint(300, 210); }, 2000));
    flow.OfferProgramUpdate();  // no newer program: the window ends with OK
    QVERIFY(init.Ended());
    QCOMPARE(init.ResultCode(), int(CFirmware_Update::kOk));
    ui::StartupFacts facts;
    ui::HandOverToMainWindow(*state, facts);
    QVERIFY(facts.init_rect.has_value());
    MainWindow main;
    view.SetMainWindow(&main);
    view.MoveWindow(Surface::kMain, *facts.init_rect);
    QCOMPARE(main.geometry().topLeft(), QPoint(300, 210));
  }

  // A tick draws the dots; any other repaint shows the status line bare.
  void onlyATickDrawsTheStatusDots() {
    CFirmware_Update init;
    QtView view;
    view.SetInitWindow(&init);
    init.show();
    QVERIFY(QTest::qWaitForWindowExposed(&init));
    view.SetText(Surface::kInit, ui::drawn::kInitStatus, "FTP 서버를 시작합니다 ");
    init.StopDots();
    Settle();
    const QImage bare = StatusLineOnScreen(&init);
    // As the start-up sequence ticks: the count, then a repaint.
    view.SetNumber(Surface::kInit, ui::drawn::kInitDots, 3);
    view.Repaint(Surface::kInit);
    Settle();
    QVERIFY(StatusLineOnScreen(&init) != bare);
    // A new status text repaints: no tick, no dots.
    view.SetText(Surface::kInit, ui::drawn::kInitStatus, "FTP 서버를 시작합니다 ");
    view.Repaint(Surface::kInit);
    Settle();
    QCOMPARE(StatusLineOnScreen(&init), bare);
    // The next tick draws them again; painted afresh after it (an expose), the line is bare.
    view.SetNumber(Surface::kInit, ui::drawn::kInitDots, 4);
    view.Repaint(Surface::kInit);
    Settle();
    QVERIFY(StatusLineOnScreen(&init) != bare);
    QCOMPARE(init.grab().toImage().copy(QRect(1, 312, 440, 28)).convertToFormat(QImage::Format_RGB32),
             bare);
  }

  // Last: it ends the program's loop, after which no modal dialog runs.
  void viewCallsFromAWorkerAndAnsweredBoxes() {
    MainWindow w;
    QtView view;
    view.SetMainWindow(&w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::string read_back;
    ui::Answer answer = ui::Answer::kNo;
    bool done = false;
    QString asked;
    AnswerNextBox(QStringLiteral("예(&Y)"), &asked);
    std::thread worker([&] {
      view.SetText(Surface::kMain, ui::ctl::kFtpUser, "사용자");
      read_back = view.Text(Surface::kMain, ui::ctl::kFtpUser);
      view.Select(Surface::kMain, ui::ctl::kCharset, 1);
      answer = view.AskYesNo(Surface::kMain, "현재 1명의 사용자가 접속 중입니다.\r\n계속?", "알림",
                             ui::Icon::kExclamation);
      view.SetRows(Surface::kMain, ui::ctl::kUsers, {{{" 1", "10.0.0.5", "12:00"}}});
      done = true;
    });
    QVERIFY(QTest::qWaitFor([&] { return done; }, 5000));
    worker.join();
    QCOMPARE(read_back, std::string("사용자"));
    QCOMPARE(answer, ui::Answer::kYes);
    QCOMPARE(asked, QStringLiteral("현재 1명의 사용자가 접속 중입니다.\n계속?"));
    QCOMPARE(w.ControlAs<QComboBox>(MainWindow::kCharset)->currentText(), QStringLiteral("UTF-8"));
    QCOMPARE(w.Users().size(), 1);
    // An OK box on the GUI thread, answered the same way.
    AnswerNextBox(QStringLiteral("확인"));
    view.MessageBox(Surface::kMain, "사용자 설정을 저장하였습니다.");
    // Once the program ends, workers no longer wait for the GUI.
    view.EndProgram(0);
    std::thread late([&] { view.SetText(Surface::kMain, ui::ctl::kName, "x"); });
    late.join();
  }
};

int main(int argc, char** argv) {
  quarno::test::PrepareQtEnvironment();
  QApplication app(argc, argv);
  WidgetsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "widgets_test.moc"
