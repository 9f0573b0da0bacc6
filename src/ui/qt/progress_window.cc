#include "ui/qt/progress_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include "ui/qt/artwork.h"
#include "ui/qt/fonts.h"

namespace quarno::qt {

CProgressWindow::CProgressWindow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setFixedSize(421, 89);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle(QStringLiteral("Quarno Server"));
  setWindowIcon(art::AppIcon());
}

CProgressWindow::~CProgressWindow() { timer_.stop(); }

bool CProgressWindow::Start(QWidget* owner, const QString& text) {
  owner_ = owner;
  text_ = text;
  frame_ = 0;
  if (owner && owner->isVisible()) {
    const QRect o = owner->frameGeometry();
    move(o.left() + o.width() / 2 - 210, o.top() + 127);
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect d = screen->geometry();
    move(d.left() + d.width() / 2 - 210, d.top() + d.height() / 2 - 44);
  }
  timer_.start(50, this);
  show();
  raise();
  running_ = true;
  return true;
}

bool CProgressWindow::Finish() {
  if (running_) {
    timer_.stop();
    hide();
    running_ = false;
  }
  if (owner_ && owner_->isVisible()) {
    owner_->raise();
    owner_->activateWindow();
  }
  return true;
}

void CProgressWindow::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) return QWidget::timerEvent(event);
  // Frame 0 shows only until the first tick; the loop then runs 1..11.
  frame_ = frame_ >= art::kWaitFrames - 1 ? 1 : frame_ + 1;
  update(QRect(18, 20, 32, 30));
}

void CProgressWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

void CProgressWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, art::ProgressBackground());
  p.drawPixmap(18, 20, art::WaitFrame(frame_));
  if (text_.isEmpty()) return;
  const QStringList lines = text_.split(QLatin1Char('|'));
  p.setFont(Gulim(12));
  p.setPen(QColor(60, 60, 60));
  p.drawText(QRect(48, 16, 365, 15), Qt::AlignLeft | Qt::AlignTop, lines.value(0));
  if (lines.size() > 1) {
    p.setPen(art::kInk);
    p.drawText(QRect(48, 32, 365, 15), Qt::AlignLeft | Qt::AlignTop, lines.value(1));
  }
}

}  // namespace quarno::qt
