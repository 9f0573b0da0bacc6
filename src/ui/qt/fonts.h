#pragma once
// The windows name their face "gulim"; Linux desktops rarely carry it, so the
// name is mapped onto an installed Korean face before any window is built.
#include <QFont>

namespace quarno::qt {

// Maps "gulim" and "굴림" onto NanumGothic (then other common Korean faces).
// Call once after the QApplication exists.
void InstallFontSubstitutions();

// "gulim" with the given pixel height; weight 700 when bold.
QFont Gulim(int pixel_height, bool bold = false);

}  // namespace quarno::qt
