#pragma once
// Every picture the windows show is drawn here in code, so the look stays one
// piece and no image file ships with the program. Pictures are cached: the
// painters ask for them on every repaint.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace quarno::qt::art {

// The palette shared by all windows.
inline const QColor kInk{100, 100, 100};       // drawn labels
inline const QColor kTitleInk{38, 84, 118};    // section titles
inline const QColor kFace{241, 241, 241};      // window body, check-box boxes
inline const QColor kCaptionTop{52, 104, 140};
inline const QColor kCaptionBottom{34, 78, 110};
inline const QColor kBorder{150, 166, 180};

enum class ButtonState { kNormal, kHover, kPressed, kDisabled };
enum class TitleButton { kHelp, kMinimize, kClose };
enum class Page { kFirmwareIntro, kAdminPassword, kUpgrade };

// Window backgrounds, each the full size of its window or page.
QPixmap InitBackground();                // 529 x 342
QPixmap MainBackground(bool unfolded);   // 529 x 342, or 529 x 430 unfolded
QPixmap PageBackground(Page page);       // 526 x 308
QPixmap ProgressBackground();            // 421 x 89
QPixmap HelpHeader(int width);           // width x 39

// 12 x 12 caption buttons, drawn over the caption strip.
QPixmap TitleButtonImage(TitleButton which, ButtonState state);
// 9 x 9 arrow beside "서버 접속자 보기/닫기": points down while folded.
QPixmap UnfoldArrow(bool unfolded, ButtonState state);
// Push-button face of the given size (text is drawn over it).
QPixmap ButtonFace(QSize size, ButtonState state);
// 19 x 19 waiting animation, frames 0..11.
QPixmap WaitFrame(int index);
inline constexpr int kWaitFrames = 12;
// 12 x 12 check mark of the firmware upgrade steps.
QPixmap CheckMark();

// The program's icon at the usual sizes (window, tray, task bar).
QIcon AppIcon();
QPixmap AppIconPixmap(int size);

}  // namespace quarno::qt::art
