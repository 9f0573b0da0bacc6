// quarno-ui-pilot: the real quarno-server (real capabilities, real windows on
// the offscreen platform) with a pilot thread that works its widgets as a
// person would. ui_lab_test.cc starts it in the lab's pc namespace.
//
//   quarno-ui-pilot SCRIPT SHARE_FOLDER
//
// The pilot prints every message box and state it sees. At "PILOT STAGE <name>"
// it waits for the driver to write $QUARNO_PILOT_DIR/<name>.go (the driver
// checks the router, the DDNS server and the internet side meanwhile). It
// ends the program through the tray menu's exit command; any failure prints
// "PILOT FAIL" and ends the process with status 3.
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "ui/qt/app.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/pages.h"

namespace {

using namespace std::chrono_literals;
using quarno::qt::MainWindow;

std::string Now() {
  const auto t = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t).count() % 100000;
  char text[16];
  std::snprintf(text, sizeof text, "%02lld.%03lld", static_cast<long long>(ms / 1000 % 100),
                static_cast<long long>(ms % 1000));
  return text;
}

void Say(const std::string& line) {
  std::printf("PILOT %s %s\n", Now().c_str(), line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  Say("FAIL " + why);
  std::fflush(stdout);
  _exit(3);
}

// Runs `fn` on the GUI thread (also inside a modal box's loop) and returns
// its result; a GUI thread that does not get to it within 20 s is a failure.
template <typename F>
auto OnGui(F fn) -> decltype(fn()) {
  using R = decltype(fn());
  auto promise = std::make_shared<std::promise<R>>();
  auto future = promise->get_future();
  QMetaObject::invokeMethod(
      qApp,
      [promise, fn] {
        if constexpr (std::is_void_v<R>) {
          fn();
          promise->set_value();
        } else {
          promise->set_value(fn());
        }
      },
      Qt::QueuedConnection);
  if (future.wait_for(20s) != std::future_status::ready) Fail("the GUI thread did not answer");
  return future.get();
}

// Fire and forget: for clicks whose handling may open a modal box.
void Post(std::function<void()> fn) { QMetaObject::invokeMethod(qApp, fn, Qt::QueuedConnection); }

// What is on the screen: the visible windows, the modal box, the main
// window's states.
std::string Screen();

void WaitFor(const std::string& what, const std::function<bool()>& condition,
             std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!OnGui(condition)) {
    if (std::chrono::steady_clock::now() > deadline) {
      Fail("timed out waiting for " + what + "; on screen: " + Screen());
    }
    std::this_thread::sleep_for(100ms);
  }
  Say("saw " + what);
}

// GUI thread only.
MainWindow* Main() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* main = qobject_cast<MainWindow*>(w)) return main;
  }
  return nullptr;
}

QMessageBox* Box() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

std::string Screen() {
  return OnGui([] {
    std::string text;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      text += std::string("[") + w->metaObject()->className() + " \"" +
              w->windowTitle().toStdString() + "\"";
      if (auto* box = qobject_cast<QMessageBox*>(w))
        text += " text \"" + box->text().toStdString() + "\"";
      if (auto* main = qobject_cast<MainWindow*>(w)) {
        text += " status \"" + main->RegistrationStatus().toStdString() + "\" server \"" +
                main->ServerStatus().toStdString() + "\"" + (main->Dimmed() ? " dimmed" : "");
      }
      text += "] ";
    }
    return text;
  });
}

std::string Status() {
  return OnGui([] {
    MainWindow* m = Main();
    return m ? m->RegistrationStatus().toStdString() : std::string("(no main window)");
  });
}

// Waits for a modal box, prints its text; it must contain `expected`; then
// clicks the button labelled `button`.
void Answer(const std::string& expected, const std::string& button,
            std::chrono::seconds limit = 60s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::string text = OnGui([] {
      QMessageBox* box = Box();
      return box ? box->text().toStdString() : std::string();
    });
    if (!text.empty()) {
      Say("box \"" + text + "\" -> " + button);
      if (text.find(expected) == std::string::npos)
        Fail("expected a box with \"" + expected + "\"");
      const bool clicked = OnGui([button] {
        QMessageBox* box = Box();
        if (!box) return false;
        for (QAbstractButton* b : box->buttons()) {
          if (b->text() == QString::fromStdString(button)) {
            QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
            return true;
          }
        }
        return false;
      });
      if (!clicked) Fail("the box has no button " + button);
      // Until the box is gone.
      WaitFor(
          "the box closed", [] { return Box() == nullptr; }, 10s);
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Fail("no box with \"" + expected + "\" (status " + Status() + ")");
    }
    std::this_thread::sleep_for(100ms);
  }
}

// Replaces an edit's text the way an input method commits it.
void Type(int id, const std::string& text) {
  const bool ok = OnGui([id, text] {
    auto* edit = Main() ? Main()->ControlAs<QLineEdit>(id) : nullptr;
    if (!edit || !edit->isEnabled()) return false;
    edit->setFocus();
    edit->selectAll();
    QInputMethodEvent event;
    event.setCommitString(QString::fromStdString(text));
    QApplication::sendEvent(edit, &event);
    return edit->text() == QString::fromStdString(text);
  });
  if (!ok) Fail("could not type into control " + std::to_string(id));
  Say("typed " + std::to_string(id) + " = " + text);
}

void Click(int id) {
  WaitFor(
      "control " + std::to_string(id) + " enabled and shown",
      [id] {
        // A dimmed window still runs the last workflow and drops clicks, as
        // its veil does for a person.
        auto* b = Main() ? Main()->ControlAs<QAbstractButton>(id) : nullptr;
        return b && b->isEnabled() && b->isVisible() && !Main()->Dimmed();
      },
      30s);
  Post([id] { Main()->ControlAs<QAbstractButton>(id)->click(); });
  Say("clicked " + std::to_string(id));
}

void WaitStatus(const std::string& status, std::chrono::seconds limit = 90s) {
  WaitFor(
      "status " + status,
      [status] {
        MainWindow* m = Main();
        return m && m->RegistrationStatus().toStdString() == status && !m->Dimmed();
      },
      limit);
}

// The driver's turn: it checks what it checks, then lets the pilot go on.
void Stage(const std::string& name) {
  const char* dir = std::getenv("QUARNO_PILOT_DIR");
  if (!dir) Fail("no QUARNO_PILOT_DIR");
  const std::string go = std::string(dir) + "/" + name + ".go";
  Say("STAGE " + name);
  const auto deadline = std::chrono::steady_clock::now() + 240s;
  while (!std::filesystem::exists(go)) {
    if (std::chrono::steady_clock::now() > deadline) Fail("the driver never released " + name);
    std::this_thread::sleep_for(100ms);
  }
}

void ExitFromTray() {
  const bool triggered = OnGui([] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* menu = qobject_cast<QMenu*>(w);
      if (!menu) continue;
      if (auto* exit = menu->findChild<QAction*>(QStringLiteral("32772"))) {
        exit->trigger();
        return true;
      }
    }
    return false;
  });
  if (!triggered) Fail("no tray menu with the exit command");
  Say("triggered the tray menu's exit command");
  std::this_thread::sleep_for(30s);
  Fail("the program did not end after the exit command");
}

// Text constants as the windows show them.
const char kRegistered[] = "등록됨";
const char kNotRegistered[] = "미등록";
const char kOtherPc[] = "다른 PC에서 등록됨";
const char kOk[] = "확인";

void FillAccount(const std::string& user, const std::string& password) {
  Type(MainWindow::kFtpUser, user);
  Type(MainWindow::kFtpPassword, password);
}

// First registration with an automatic port, the FTP account, then an
// account change while somebody is connected.
void FirstRegistration() {
  WaitStatus(kNotRegistered);
  Type(MainWindow::kName, "home");
  Type(MainWindow::kEmail, "me@example.org");
  Click(MainWindow::kAutoPort);
  Click(MainWindow::kRegister);
  Answer("Quarno 계정이 등록되었습니다.", kOk, 90s);
  WaitStatus(kRegistered);
  FillAccount("joe", "s3cret");
  Click(MainWindow::kBrowse);
  Click(MainWindow::kApply);
  Answer("사용자 설정을 저장하였습니다.", kOk);
  Stage("registered");

  // The driver keeps an FTP user connected from the internet now.
  FillAccount("ann", "n3wpass");
  WaitFor(
      "the connected user in the list", [] { return !Main()->Users().isEmpty(); }, 30s);
  Click(MainWindow::kApply);
  Answer("명의 사용자가 접속 중입니다.", "아니요(&N)");
  Click(MainWindow::kApply);
  Answer("명의 사용자가 접속 중입니다.", "예(&Y)");
  Answer("사용자 설정을 저장하였습니다.", kOk);
  Stage("account-changed");

  // A new name on the port the (offline) FTP server holds.
  Type(MainWindow::kName, "home2");
  Click(MainWindow::kAutoPort);
  Click(MainWindow::kRegister);
  Answer("Quarno 계정이 등록되었습니다.", kOk, 90s);
  WaitStatus(kRegistered);
  Stage("re-registered");
}

void OtherPc(bool move_here) {
  WaitStatus(kOtherPc);
  const std::string name =
      OnGui([] { return Main()->ControlAs<QLineEdit>(MainWindow::kName)->text().toStdString(); });
  Say("the address shown: " + name);
  Type(MainWindow::kEmail, "me@example.org");
  if (move_here) {
    Click(MainWindow::kRegisterHere);
    // The registration's own box first, then the move's.
    Answer("Quarno 계정이 등록되었습니다.", kOk, 120s);
    Answer("현재PC등록에 성공했습니다", kOk);
    WaitStatus(kRegistered);
  } else {
    Click(MainWindow::kDeleteAccount);
    Answer("기존계정 삭제에 성공했습니다", kOk);
    WaitStatus(kNotRegistered);
  }
  Stage("done");
}

// The boot-up service served the registration until the program started.
void Takeover() {
  WaitStatus(kRegistered);
  Say("on screen: " + Screen());
  Stage("taken-over");
}

quarno::qt::CFirmware_Update* InitWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<quarno::qt::CFirmware_Update*>(w)) return window;
  }
  return nullptr;
}

// The router's firmware is older than the latest one: the initialization
// window's firmware page, the upgrade against the router, then the program
// goes on to its main window.
void Firmware() {
  WaitFor(
      "the firmware page",
      [] {
        auto* w = InitWindow();
        return w && w->isVisible() && w->CurrentPage() == 0 && w->Intro()->isVisible() &&
               !w->Intro()->Current().isEmpty();
      },
      60s);
  Say("firmware page: " + OnGui([] {
        auto* intro = InitWindow()->Intro();
        return (intro->Model() + " " + intro->Current() + " -> " + intro->Latest()).toStdString();
      }));
  Post([] { InitWindow()->Intro()->NextButton()->click(); });
  WaitFor(
      "the upgrade page", [] { return InitWindow()->CurrentPage() == 2; }, 10s);
  WaitFor(
      "the upgrade's end",
      [] {
        auto* page = InitWindow()->Upgrade();
        return !page->ResultLine(0).isEmpty() && page->FinishButton()->isEnabled();
      },
      120s);
  Say("upgrade page: " + OnGui([] {
        auto* page = InitWindow()->Upgrade();
        QString steps;
        for (int i = 0; i < 4; ++i) steps += page->StepText(i) + " | ";
        return (steps + page->ResultLine(0) + " / " + page->ResultLine(1) + " [" +
                page->FinishButton()->text() + "]")
            .toStdString();
      }));
  Post([] { InitWindow()->Upgrade()->FinishButton()->click(); });
  WaitStatus(kNotRegistered);
  Stage("carried-on");
}

// A newer program on the download server: the offer, answered yes; the
// program downloads it, starts the installer on it and ends.
void ProgramUpdate() {
  Answer("최신 버전(1.07)으로 업데이트 하시겠습니까?", "예(&Y)", 90s);
  std::this_thread::sleep_for(60s);
  Fail("the program did not end for the installer; on screen: " + Screen());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: quarno-ui-pilot "
                 "first-registration|move-here|delete|takeover|firmware|update SHARE\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string script = argv[1], share = argv[2];
  quarno::qt::SetFolderChooserForTesting(
      [share](QWidget*) { return QString::fromStdString(share); });

  std::thread([script] {
    while (QCoreApplication::instance() == nullptr) std::this_thread::sleep_for(50ms);
    Say("script " + script);
    if (script == "first-registration") {
      FirstRegistration();
    } else if (script == "move-here") {
      OtherPc(true);
    } else if (script == "firmware") {
      Firmware();
    } else if (script == "update") {
      ProgramUpdate();
    } else if (script == "takeover") {
      Takeover();
    } else if (script == "delete") {
      OtherPc(false);
    } else {
      Fail("unknown script " + script);
    }
    ExitFromTray();
  }).detach();

  char* program_only[] = {argv[0], nullptr};
  int program_argc = 1;
  return quarno::qt::RunQuarnoServer(program_argc, program_only);
}
