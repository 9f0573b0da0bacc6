#pragma once
// The standard controls, dressed to match the drawn windows.
#include <QPushButton>

namespace quarno::qt {

// The program's version as the windows show it.
inline constexpr char kProgramVersion[] = "1.06";

// A push button painted from the drawn button faces (normal, hover, pressed,
// disabled) with its text centred in the "gulim" face.
class FaceButton : public QPushButton {
  Q_OBJECT
 public:
  FaceButton(const QString& text, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Style sheet for edits, check boxes, drop-down lists and the users list, in
// the windows' palette and font.
QString ControlStyleSheet();

}  // namespace quarno::qt
