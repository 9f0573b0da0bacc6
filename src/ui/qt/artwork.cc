#include "ui/qt/artwork.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

#include "ui/qt/fonts.h"

namespace quarno::qt::art {
namespace {

// Pictures are drawn once per process and then reused by every repaint.
template <typename Draw>
QPixmap Cached(const QString& key, QSize size, Draw draw) {
  static QHash<QString, QPixmap> cache;
  auto it = cache.find(key);
  if (it != cache.end()) return *it;
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  {
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
  }
  cache.insert(key, pixmap);
  return pixmap;
}

// The mark of the program: a rounded tile with a ring (the "Q") whose tail is a
// small green lamp, the server being online. Drawn on a 64-unit grid.
void DrawMark(QPainter& p, const QRectF& box) {
  p.save();
  p.translate(box.topLeft());
  p.scale(box.width() / 64.0, box.height() / 64.0);
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0, QColor(70, 134, 176));
  tile.setColorAt(1, QColor(30, 72, 104));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
  QPen ring(Qt::white, 7.5, Qt::SolidLine, Qt::RoundCap);
  p.setPen(ring);
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(14, 13, 34, 34), 0, 360 * 16);
  p.drawLine(QPointF(38, 38), QPointF(47, 47));
  p.setPen(Qt::NoPen);
  QRadialGradient lamp(QPointF(49, 49), 7);
  lamp.setColorAt(0, QColor(170, 240, 170));
  lamp.setColorAt(1, QColor(60, 170, 90));
  p.setBrush(lamp);
  p.drawEllipse(QPointF(49, 49), 6.5, 6.5);
  p.restore();
}

// Outer border, caption strip with the mark and the program's name, and the
// body in the face colour. Shared by the two big windows.
void DrawFrame(QPainter& p, QSize size) {
  p.fillRect(QRect(QPoint(0, 0), size), kFace);
  QLinearGradient caption(0, 1, 0, 31);
  caption.setColorAt(0, kCaptionTop);
  caption.setColorAt(1, kCaptionBottom);
  p.fillRect(QRect(1, 1, size.width() - 2, 30), caption);
  p.fillRect(QRect(1, 31, size.width() - 2, 1), QColor(24, 58, 84));
  DrawMark(p, QRectF(9, 7, 18, 18));
  p.setPen(Qt::white);
  p.setFont(Gulim(12, true));
  p.drawText(QRect(33, 8, 200, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Quarno Server"));
  p.setPen(kBorder);
  p.setBrush(Qt::NoBrush);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.drawRect(QRect(0, 0, size.width() - 1, size.height() - 1));
  p.setRenderHint(QPainter::Antialiasing, true);
}

void SectionRule(QPainter& p, int y, int x0 = 11, int x1 = 517) {
  QLinearGradient rule(x0, 0, x1, 0);
  rule.setColorAt(0, QColor(120, 160, 190));
  rule.setColorAt(1, QColor(120, 160, 190, 0));
  p.fillRect(QRect(x0, y, x1 - x0, 1), rule);
}

void DrawGlyphBadge(QPainter& p, Page page, QPointF at) {
  p.save();
  p.translate(at);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(52, 104, 140, 30));
  p.drawEllipse(QRectF(0, 0, 22, 22));
  QPen pen(kCaptionTop, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (page) {
    case Page::kFirmwareIntro:  // a router: box with two antennas
      p.drawRoundedRect(QRectF(5, 11, 12, 6), 1.5, 1.5);
      p.drawLine(QPointF(8, 11), QPointF(7, 5));
      p.drawLine(QPointF(14, 11), QPointF(15, 5));
      break;
    case Page::kAdminPassword:  // a padlock
      p.drawRoundedRect(QRectF(6, 10, 10, 7), 1.5, 1.5);
      p.drawArc(QRectF(8, 5, 6, 9), 0, 180 * 16);
      break;
    case Page::kUpgrade:  // an arrow into a tray
      p.drawLine(QPointF(11, 4), QPointF(11, 13));
      p.drawLine(QPointF(7.5, 9.5), QPointF(11, 13));
      p.drawLine(QPointF(14.5, 9.5), QPointF(11, 13));
      p.drawPolyline(QPolygonF({QPointF(5, 14), QPointF(5, 17), QPointF(17, 17), QPointF(17, 14)}));
      break;
  }
  p.restore();
}

}  // namespace

QPixmap InitBackground() {
  return Cached("init", QSize(529, 342), [](QPainter& p) {
    DrawFrame(p, QSize(529, 342));
    // A calm field with the mark in its middle while the checks run.
    QLinearGradient field(0, 32, 0, 310);
    field.setColorAt(0, QColor(250, 251, 252));
    field.setColorAt(1, QColor(233, 238, 242));
    p.fillRect(QRect(1, 32, 527, 278), field);
    DrawMark(p, QRectF(232, 92, 64, 64));
    p.setPen(QColor(38, 84, 118));
    QFont big = Gulim(20, true);
    p.setFont(big);
    p.drawText(QRect(1, 168, 527, 28), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Quarno Server"));
    p.setPen(QColor(120, 140, 156));
    p.setFont(Gulim(11));
    p.drawText(QRect(1, 196, 527, 18), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("personal disk server"));
    // Status bar along the bottom.
    p.fillRect(QRect(1, 310, 527, 1), QColor(200, 210, 218));
    p.fillRect(QRect(1, 311, 527, 30), QColor(236, 239, 242));
  });
}

QPixmap MainBackground(bool unfolded) {
  const QSize size(529, unfolded ? 430 : 342);
  return Cached(unfolded ? "main-unfolded" : "main-folded", size, [size, unfolded](QPainter& p) {
    DrawFrame(p, size);
    // Section title rules (the titles themselves are drawn by the window).
    SectionRule(p, 53);
    SectionRule(p, 178);
    // The label column of the two sections.
    p.fillRect(QRect(11, 59, 130, 88), QColor(232, 236, 240));
    p.fillRect(QRect(11, 184, 130, 132), QColor(232, 236, 240));
    // Foot strip with the fold link.
    p.fillRect(QRect(1, 321, 527, 1), QColor(210, 216, 222));
    if (unfolded) SectionRule(p, 343, 11, 400);
  });
}

QPixmap PageBackground(Page page) {
  const QString key = QStringLiteral("page-%1").arg(static_cast<int>(page));
  return Cached(key, QSize(526, 308), [page](QPainter& p) {
    QLinearGradient field(0, 0, 0, 308);
    field.setColorAt(0, QColor(252, 253, 253));
    field.setColorAt(1, QColor(238, 242, 245));
    p.fillRect(QRect(0, 0, 526, 308), field);
    switch (page) {
      case Page::kFirmwareIntro:
        DrawGlyphBadge(p, page, QPointF(14, 34));
        SectionRule(p, 62, 14, 510);
        p.fillRect(QRect(12, 132, 500, 1), QColor(220, 226, 232));
        break;
      case Page::kAdminPassword:
        DrawGlyphBadge(p, page, QPointF(14, 30));
        SectionRule(p, 60, 14, 510);
        p.fillRect(QRect(12, 124, 500, 1), QColor(220, 226, 232));
        break;
      case Page::kUpgrade: {
        p.setPen(QColor(214, 222, 230));
        p.setBrush(QColor(255, 255, 255, 190));
        p.drawRoundedRect(QRectF(12.5, 16.5, 500, 112), 5, 5);
        p.drawRoundedRect(QRectF(24.5, 168.5, 476, 56), 5, 5);
        break;
      }
    }
    // Button row.
    p.fillRect(QRect(0, 266, 526, 1), QColor(210, 216, 222));
    p.fillRect(QRect(0, 267, 526, 41), QColor(236, 239, 242));
  });
}

QPixmap ProgressBackground() {
  return Cached("progress", QSize(421, 89), [](QPainter& p) {
    QLinearGradient field(0, 0, 0, 89);
    field.setColorAt(0, QColor(255, 255, 255));
    field.setColorAt(1, QColor(234, 239, 243));
    p.fillRect(QRect(0, 0, 421, 89), field);
    p.fillRect(QRect(0, 0, 4, 89), kCaptionTop);
    p.fillRect(QRect(4, 64, 416, 1), QColor(214, 222, 230));
    DrawMark(p, QRectF(396, 68, 16, 16));
    p.setPen(QColor(130, 146, 160));
    p.setFont(Gulim(11));
    p.drawText(QRect(200, 68, 190, 16), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Quarno Server"));
    p.setPen(kBorder);
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawRect(QRect(0, 0, 420, 88));
  });
}

QPixmap HelpHeader(int width) {
  return Cached(QStringLiteral("help-%1").arg(width), QSize(width, 39), [width](QPainter& p) {
    QLinearGradient caption(0, 0, 0, 39);
    caption.setColorAt(0, kCaptionTop);
    caption.setColorAt(1, kCaptionBottom);
    p.fillRect(QRect(0, 0, width, 39), caption);
    p.fillRect(QRect(0, 38, width, 1), QColor(24, 58, 84));
    DrawMark(p, QRectF(8, 10, 18, 18));
  });
}

QPixmap TitleButtonImage(TitleButton which, ButtonState state) {
  const QString key = QStringLiteral("title-%1-%2").arg(int(which)).arg(int(state));
  return Cached(key, QSize(12, 12), [which, state](QPainter& p) {
    if (state == ButtonState::kHover) {
      p.setPen(Qt::NoPen);
      p.setBrush(which == TitleButton::kClose ? QColor(214, 80, 70) : QColor(255, 255, 255, 80));
      p.drawRoundedRect(QRectF(0, 0, 12, 12), 2.5, 2.5);
    } else if (state == ButtonState::kPressed) {
      p.setPen(Qt::NoPen);
      p.setBrush(which == TitleButton::kClose ? QColor(160, 50, 44) : QColor(0, 0, 0, 70));
      p.drawRoundedRect(QRectF(0, 0, 12, 12), 2.5, 2.5);
    }
    QPen pen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    switch (which) {
      case TitleButton::kHelp: {
        QPainterPath hook;
        hook.moveTo(3.8, 4.3);
        hook.cubicTo(3.8, 1.6, 8.4, 1.6, 8.4, 4.2);
        hook.cubicTo(8.4, 5.9, 6.1, 6.1, 6.1, 7.8);
        p.setBrush(Qt::NoBrush);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(6.1, 9.9), 0.95, 0.95);
        break;
      }
      case TitleButton::kMinimize:
        p.drawLine(QPointF(3, 8.5), QPointF(9, 8.5));
        break;
      case TitleButton::kClose:
        p.drawLine(QPointF(3.2, 3.2), QPointF(8.8, 8.8));
        p.drawLine(QPointF(8.8, 3.2), QPointF(3.2, 8.8));
        break;
    }
  });
}

QPixmap UnfoldArrow(bool unfolded, ButtonState state) {
  const QString key = QStringLiteral("unfold-%1-%2").arg(unfolded).arg(int(state));
  return Cached(key, QSize(9, 9), [unfolded, state](QPainter& p) {
    QColor ink = kTitleInk;
    if (state == ButtonState::kHover) ink = QColor(40, 120, 180);
    if (state == ButtonState::kPressed) ink = QColor(20, 60, 90);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPolygonF tri = unfolded ? QPolygonF({QPointF(0.5, 6.5), QPointF(8.5, 6.5), QPointF(4.5, 2)})
                             : QPolygonF({QPointF(0.5, 2.5), QPointF(8.5, 2.5), QPointF(4.5, 7)});
    p.drawPolygon(tri);
  });
}

QPixmap ButtonFace(QSize size, ButtonState state) {
  const QString key =
      QStringLiteral("face-%1x%2-%3").arg(size.width()).arg(size.height()).arg(int(state));
  return Cached(key, size, [size, state](QPainter& p) {
    QColor top(251, 252, 253), bottom(224, 230, 236), border(148, 164, 178);
    switch (state) {
      case ButtonState::kNormal:
        break;
      case ButtonState::kHover:
        top = QColor(255, 255, 255), bottom = QColor(210, 226, 240), border = QColor(74, 128, 168);
        break;
      case ButtonState::kPressed:
        top = QColor(198, 214, 228), bottom = QColor(222, 231, 239), border = QColor(52, 98, 134);
        break;
      case ButtonState::kDisabled:
        top = bottom = QColor(236, 237, 238), border = QColor(200, 204, 208);
        break;
    }
    QLinearGradient face(0, 0, 0, size.height());
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    p.setPen(border);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 3, 3);
  });
}

QPixmap WaitFrame(int index) {
  index = ((index % kWaitFrames) + kWaitFrames) % kWaitFrames;
  return Cached(QStringLiteral("wait-%1").arg(index), QSize(19, 19), [index](QPainter& p) {
    p.setPen(Qt::NoPen);
    for (int dot = 0; dot < kWaitFrames; ++dot) {
      // The lit dot walks clockwise; the ones behind it fade out.
      const int behind = (index - dot + kWaitFrames) % kWaitFrames;
      const int alpha = std::max(40, 255 - behind * 36);
      QColor ink = kCaptionTop;
      ink.setAlpha(alpha);
      p.setBrush(ink);
      const double angle = dot * 2 * std::numbers::pi / kWaitFrames - std::numbers::pi / 2;
      const QPointF c(9.5 + 7 * std::cos(angle), 9.5 + 7 * std::sin(angle));
      p.drawEllipse(c, 1.7, 1.7);
    }
  });
}

QPixmap CheckMark() {
  return Cached("check", QSize(12, 12), [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(58, 150, 92));
    p.drawEllipse(QRectF(0, 0, 12, 12));
    QPen pen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.drawPolyline(QPolygonF({QPointF(3, 6.3), QPointF(5.2, 8.4), QPointF(9, 3.8)}));
  });
}

QPixmap AppIconPixmap(int size) {
  return Cached(QStringLiteral("icon-%1").arg(size), QSize(size, size),
                [size](QPainter& p) { DrawMark(p, QRectF(0, 0, size, size)); });
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace quarno::qt::art
