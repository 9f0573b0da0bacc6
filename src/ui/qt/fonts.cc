#include "ui/qt/fonts.h"

#include <QStringList>

namespace quarno::qt {

void InstallFontSubstitutions() {
  const QStringList korean = {"NanumGothic", "NanumBarunGothic", "Noto Sans CJK KR",
                              "Noto Sans KR", "UnDotum", "Baekmuk Gulim"};
  QFont::insertSubstitutions(QStringLiteral("gulim"), korean);
  QFont::insertSubstitutions(QStringLiteral("굴림"), korean);
}

QFont Gulim(int pixel_height, bool bold) {
  QFont font(QStringLiteral("gulim"));
  font.setPixelSize(pixel_height);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  // Small Korean glyphs stay sharp only when hinted to the pixel grid.
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

}  // namespace quarno::qt
