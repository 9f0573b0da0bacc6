#pragma once
// The small waiting window shown over its owner while a long operation runs:
// an animation and two lines of text ("line one|line two"). The user cannot
// close it; its owner finishes it.
#include <QBasicTimer>
#include <QPointer>
#include <QWidget>

namespace quarno::qt {

class CProgressWindow : public QWidget {
  Q_OBJECT
 public:
  CProgressWindow();
  ~CProgressWindow() override;

  // Shows the window over `owner` (nullptr: the middle of the desktop).
  bool Start(QWidget* owner, const QString& text);
  // Ends the window and brings the owner to the front; harmless when repeated.
  bool Finish();
  bool Running() const { return running_; }
  QString Text() const { return text_; }
  int Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QPointer<QWidget> owner_;
  QString text_;
  int frame_ = 0;
  bool running_ = false;
  QBasicTimer timer_;
};

}  // namespace quarno::qt
