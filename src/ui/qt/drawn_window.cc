#include "ui/qt/drawn_window.h"

#include <QPainter>

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace quarno::qt {

bool KeyGuard::Swallows(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Hangul:
    case Qt::Key_Hangul_Hanja:
    case Qt::Key_Hangul_Start:
    case Qt::Key_Hangul_End:
      return true;
    default:
      return false;
  }
}

void KeyGuard::Install(QWidget* root) {
  auto* guard = new KeyGuard(root);
  root->installEventFilter(guard);
  for (QWidget* child : root->findChildren<QWidget*>()) child->installEventFilter(guard);
}

bool KeyGuard::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
      // Message boxes and popups owned by the window are windows of their own:
      // there Return and Escape keep their usual meaning.
      if (auto* w = qobject_cast<QWidget*>(watched); w && w->window() != root_) break;
      if (Swallows(static_cast<QKeyEvent*>(event)->key())) return true;
      break;
    case QEvent::ChildAdded:
      // Widgets added later (pages, popups of combo boxes) are guarded too.
      if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())) {
        child->installEventFilter(this);
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

DrawnWindow::DrawnWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DrawnWindow::AddHotSpot(int id, QVector<QRect> rects, bool hand_cursor) {
  spots_.push_back({id, std::move(rects), hand_cursor});
}

DrawnWindow::HotState DrawnWindow::StateOf(int id) const {
  for (const HotSpot& s : spots_) {
    if (s.id == id) return s.pressed ? kPressed : s.hovered ? kHovered : kIdle;
  }
  return kIdle;
}

void DrawnWindow::CentreOnDesktop(int half_width, int half_height) {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) {
    move(0, 0);
    return;
  }
  const QRect desk = screen->geometry();
  move(desk.left() + desk.width() / 2 - half_width, desk.top() + desk.height() / 2 - half_height);
}

bool DrawnWindow::HotSpot::Contains(QPoint p) const {
  for (const QRect& r : rects) {
    if (r.contains(p)) return true;
  }
  return false;
}

DrawnWindow::HotSpot* DrawnWindow::At(QPoint p) {
  for (HotSpot& s : spots_) {
    if (HotSpotActive(s.id) && s.Contains(p)) return &s;
  }
  return nullptr;
}

void DrawnWindow::UpdateHover(QPoint p) {
  bool changed = false;
  bool hand = false;
  for (HotSpot& s : spots_) {
    const bool over = HotSpotActive(s.id) && s.Contains(p);
    if (over != s.hovered) {
      s.hovered = over;
      if (!over) s.pressed = false;
      changed = true;
    }
    hand = hand || (over && s.hand_cursor);
  }
  if (hand) {
    setCursor(Qt::PointingHandCursor);
  } else {
    unsetCursor();
  }
  if (changed) update();
}

void DrawnWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (dragging_) {
    move(event->globalPosition().toPoint() - drag_offset_);
    return;
  }
  UpdateHover(p);
}

void DrawnWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPoint p = event->position().toPoint();
  if (HotSpot* s = At(p)) {
    s->pressed = true;
    s->hovered = true;
    update();
    return;
  }
  if (caption_.contains(p)) {
    // The window manager moves the window where it can; elsewhere (no window
    // manager, tests) the window follows the mouse itself.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
}

void DrawnWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  const QPoint p = event->position().toPoint();
  int fired = -1;
  for (HotSpot& s : spots_) {
    if (s.pressed && HotSpotActive(s.id) && s.Contains(p)) fired = s.id;
    s.pressed = false;
  }
  update();
  if (fired >= 0) OnHotSpot(fired);
}

void DrawnWindow::leaveEvent(QEvent* event) {
  for (HotSpot& s : spots_) s.hovered = s.pressed = false;
  unsetCursor();
  update();
  QWidget::leaveEvent(event);
}

Veil::Veil(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("veil"));
  hide();
}

void Veil::Cover(bool on) {
  setGeometry(parentWidget()->rect());
  setVisible(on);
  if (on) raise();
}

void Veil::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(20, 40, 60, 100));
}

}  // namespace quarno::qt
