#pragma once
// Frameless windows that draw their own caption: a strip that drags the
// window and small drawn buttons with normal, hover and pressed images.
#include <QPoint>
#include <QRect>
#include <QVector>
#include <QWidget>

namespace quarno::qt {

// Plain X servers ignore window opacity, so a dimmed window is veiled instead;
// the veil also catches the mouse.
class Veil : public QWidget {
 public:
  explicit Veil(QWidget* parent);
  // Covers the whole parent, above every control, or goes.
  void Cover(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Return, Escape, the Hangul key and the input method's process key never
// reach a control of the windows: they must neither close a window nor press a
// button. Installed on a window and every widget inside it.
class KeyGuard : public QObject {
  Q_OBJECT
 public:
  explicit KeyGuard(QWidget* root) : QObject(root), root_(root) {}
  static bool Swallows(int key);
  // Guards `root` and every widget below it, now and when added later.
  static void Install(QWidget* root);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* root_;
};

class DrawnWindow : public QWidget {
  Q_OBJECT
 public:
  enum HotState { kIdle, kHovered, kPressed };

  explicit DrawnWindow(QWidget* parent = nullptr);

  // A drawn button: one or more rectangles (client coordinates) that act as one.
  void AddHotSpot(int id, QVector<QRect> rects, bool hand_cursor = false);
  void SetCaption(QRect caption) { caption_ = caption; }
  HotState StateOf(int id) const;
  // Places the window centred on the screen the way the windows expect:
  // left = half the desktop width − half_width, top = half the height − half_height.
  void CentreOnDesktop(int half_width, int half_height);

 signals:
  void HotSpotClicked(int id);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  // Called when a drawn button is released over itself.
  virtual void OnHotSpot(int id) { emit HotSpotClicked(id); }
  // Which hot spots take part right now (e.g. the unfold link only once built).
  virtual bool HotSpotActive(int /*id*/) const { return true; }

 private:
  struct HotSpot {
    int id;
    QVector<QRect> rects;
    bool hand_cursor;
    bool hovered = false;
    bool pressed = false;
    bool Contains(QPoint p) const;
  };
  HotSpot* At(QPoint p);
  void UpdateHover(QPoint p);

  QVector<HotSpot> spots_;
  QRect caption_;
  bool dragging_ = false;
  QPoint drag_offset_;
};

}  // namespace quarno::qt
