#include "ui/qt/controls.h"

#include <QPainter>

#include "ui/qt/artwork.h"
#include "ui/qt/fonts.h"

namespace quarno::qt {

FaceButton::FaceButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFont(Gulim(12));
  setAttribute(Qt::WA_Hover);
  // Buttons act on a click only; Return must not press them.
  setAutoDefault(false);
  setDefault(false);
  setCursor(Qt::PointingHandCursor);
}

void FaceButton::paintEvent(QPaintEvent*) {
  using art::ButtonState;
  ButtonState state = ButtonState::kNormal;
  if (!isEnabled()) {
    state = ButtonState::kDisabled;
  } else if (isDown()) {
    state = ButtonState::kPressed;
  } else if (underMouse()) {
    state = ButtonState::kHover;
  }
  QPainter p(this);
  p.drawPixmap(0, 0, art::ButtonFace(size(), state));
  p.setFont(font());
  p.setPen(state == ButtonState::kDisabled ? QColor(160, 164, 168) : QColor(40, 56, 70));
  QRect r = rect();
  if (state == ButtonState::kPressed) r.translate(0, 1);
  p.drawText(r, Qt::AlignCenter, text());
  if (hasFocus() && state != ButtonState::kDisabled) {
    p.setPen(QPen(QColor(74, 128, 168, 140), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(3, 3, -4, -4));
  }
}

QString ControlStyleSheet() {
  return QStringLiteral(R"(
QLineEdit, QComboBox {
  font-family: gulim; font-size: 12px; color: #333;
  background: white; border: 1px solid #a9b6c2; border-radius: 2px; padding: 0px 3px;
  selection-background-color: #3a7bb0; lineedit-password-character: 42;
}
QLineEdit:focus, QComboBox:focus { border: 1px solid #3a7bb0; }
QLineEdit:disabled, QComboBox:disabled { background: #f0f0f0; color: #999; }
QComboBox::drop-down { width: 16px; border-left: 1px solid #d0d8e0; }
QComboBox QAbstractItemView { font-family: gulim; font-size: 12px; }
QCheckBox { spacing: 0px; background: rgb(241, 241, 241); }
QCheckBox::indicator { width: 11px; height: 11px; border: 1px solid #8fa2b4; background: white; border-radius: 2px; }
QCheckBox::indicator:hover { border: 1px solid #3a7bb0; }
QCheckBox::indicator:checked { background: #3a7bb0; border: 1px solid #2a5f8a; image: none; }
QCheckBox::indicator:disabled { background: #e6e6e6; border: 1px solid #c0c0c0; }
QTableWidget {
  font-family: gulim; font-size: 12px; background: white; gridline-color: #dde3e8;
  border: 1px solid #a9b6c2; selection-background-color: #cfe0ee; selection-color: #222;
}
QHeaderView::section {
  font-family: gulim; font-size: 12px; color: #555; background: #eef2f5;
  border: none; border-right: 1px solid #d4dbe1; border-bottom: 1px solid #d4dbe1; padding: 1px 4px;
}
)");
}

}  // namespace quarno::qt
