#pragma once
// The view of the workflows, on the Qt windows. Every call may come from a
// worker thread: it is carried to the GUI thread and returns when done there.
#include <QObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <memory>

#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/view.h"

namespace quarno::qt {

class CProgressWindow;
class Tray;

class QtView final : public QObject, public ui::View {
  Q_OBJECT
 public:
  explicit QtView(QObject* parent = nullptr);
  ~QtView() override;

  void SetInitWindow(CFirmware_Update* window) { init_ = window; }
  void SetMainWindow(MainWindow* window);
  MainWindow* Main() const { return main_; }
  CFirmware_Update* Init() const { return init_; }
  Tray* TrayIcon() const { return tray_.get(); }
  CProgressWindow* Waiting() const { return waiting_.get(); }
  // Set once the program is ending: calls from workers return at once, so no
  // worker waits on a GUI loop that has stopped.
  bool Closing() const { return closing_; }
  int ExitCode() const { return exit_code_; }

  void SetText(ui::Surface surface, int id, const std::string& text) override;
  std::string Text(ui::Surface surface, int id) override;
  void SetNumber(ui::Surface surface, int id, int value) override;
  void SetChecked(ui::Surface surface, int id, bool checked) override;
  bool Checked(ui::Surface surface, int id) override;
  void Select(ui::Surface surface, int id, int index) override;
  int Selection(ui::Surface surface, int id) override;
  void Enable(ui::Surface surface, int id, bool enabled) override;
  void ShowControl(ui::Surface surface, int id, bool shown) override;
  void Focus(ui::Surface surface, int id) override;
  void SetMasked(ui::Surface surface, int id, bool masked) override;
  void SetRows(ui::Surface surface, int id, const std::vector<ui::ListRow>& rows) override;
  void Repaint(ui::Surface surface) override;

  void ShowWindow(ui::Surface surface, bool shown) override;
  bool IsVisible(ui::Surface surface) override;
  void SetOpacity(ui::Surface surface, int alpha) override;
  void SetDimmed(ui::Surface surface, bool dimmed) override;
  std::optional<ui::Rect> WindowRect(ui::Surface surface) override;
  void MoveWindow(ui::Surface surface, const ui::Rect& rect) override;
  void ShowPage(int page) override;
  void EndInit(bool ok) override;
  void SetTrayIcon(bool present) override;
  void OpenHelp(const std::string& html_path) override;
  void CopyText(const std::string& text) override;
  void EndProgram(int exit_code) override;

  void MessageBox(ui::Surface owner, const std::string& text) override;
  ui::Answer AskYesNo(ui::Surface owner, const std::string& text, const std::string& caption,
                      ui::Icon icon) override;
  std::optional<std::string> ChooseFolder(ui::Surface owner, const std::string& title,
                                          const std::string& start) override;

  void StartWaiting(ui::Surface owner, const std::string& text) override;
  void FinishWaiting() override;

 signals:
  // The tray could not be added: the window stays reachable without it.
  void TrayMissing();
  // The tray icon was made (once); its commands are to be bound.
  void TrayAdded(Tray* tray);

 private:
  // Runs `f` on the GUI thread and returns its result (`fallback` once closing).
  template <typename R, typename F>
  R OnGui(R fallback, F f);
  template <typename F>
  void OnGui(F f);
  QWidget* Window(ui::Surface surface) const;
  QWidget* Find(ui::Surface surface, int id) const;

  QPointer<CFirmware_Update> init_;
  QPointer<MainWindow> main_;
  std::unique_ptr<Tray> tray_;
  std::unique_ptr<CProgressWindow> waiting_;
  std::atomic<bool> closing_{false};
  int exit_code_ = 0;
  bool tray_notice_shown_ = false;
};

}  // namespace quarno::qt
