#pragma once
// The tray icon: tip "Quarno Server", a click or double click opens the main window,
// the menu opens it (32775) or ends the program (32772).
#include <QObject>

class QMenu;
class QSystemTrayIcon;
class QAction;

namespace quarno::qt {

class Tray : public QObject {
  Q_OBJECT
 public:
  enum : int { kCommandOpen = 32775, kCommandExit = 32772, kCommandCopyLink = 32776 };

  explicit Tray(QObject* parent = nullptr);
  ~Tray() override;

  // Adds the icon; false when the desktop has no tray to put it in.
  bool Add();
  void Remove();
  bool Shown() const;
  static bool Available();
  QMenu* Menu() const { return menu_; }
  QAction* OpenAction() const { return open_; }
  QAction* ExitAction() const { return exit_; }

 signals:
  // Menu commands and the click (as command 32775).
  void Command(int id);

 private:
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_;
  QAction* open_;
  QAction* exit_;
};

}  // namespace quarno::qt
