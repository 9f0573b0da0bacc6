#pragma once
// The help window: a drawn header that drags the window, the help page
// (help_quarno.html beside the executable) in a text browser, and a close button.
#include <QPointer>

#include "ui/qt/drawn_window.h"

class QTextBrowser;
class QPushButton;

namespace quarno::qt {

class CHelpWindow : public DrawnWindow {
  Q_OBJECT
 public:
  enum : int { kIdCloseButton = 1008, kIdBrowser = 1021 };

  // Opens the help window on `html_path`, or brings the open one to the
  // front: there is never more than one.
  static CHelpWindow* Open(const QString& html_path);
  static bool IsOpen() { return !open_.isNull(); }
  static CHelpWindow* Current() { return open_; }

  QTextBrowser* Browser() const { return browser_; }
  QPushButton* CloseButton() const { return close_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void OnHotSpot(int id) override;

 private:
  explicit CHelpWindow(const QString& html_path);
  static inline QPointer<CHelpWindow> open_;
  QTextBrowser* browser_;
  QPushButton* close_;
};

}  // namespace quarno::qt
