#include "ui/qt/help_window.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTextBrowser>
#include <QUrl>

#include "ui/qt/artwork.h"
#include "ui/qt/controls.h"
#include "ui/qt/fonts.h"

namespace quarno::qt {
namespace {
constexpr int kWidth = 700;
constexpr int kHeight = 540;
constexpr int kHeaderClose = 1;
}  // namespace

CHelpWindow* CHelpWindow::Open(const QString& html_path) {
  if (open_) {
    open_->showNormal();
    open_->raise();
    open_->activateWindow();
    return open_;
  }
  auto* window = new CHelpWindow(html_path);
  open_ = window;
  window->show();
  return window;
}

CHelpWindow::CHelpWindow(const QString& path) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Quarno Server 도움말"));
  setWindowIcon(art::AppIcon());
  setFixedSize(kWidth, kHeight);
  CentreOnDesktop(kWidth / 2, kHeight / 2);
  SetCaption(QRect(1, 1, kWidth - 1, 38));
  AddHotSpot(kHeaderClose, {QRect(kWidth - 23, 14, 12, 12)});
  setStyleSheet(ControlStyleSheet());

  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("1021"));
  browser_->setGeometry(12, 52, kWidth - 24, kHeight - 52 - 48);
  browser_->setOpenExternalLinks(false);
  browser_->setStyleSheet(QStringLiteral("QTextBrowser { border: 1px solid #c8d0d8; background: white; }"));
  if (QFileInfo::exists(path)) {
    browser_->setSource(QUrl::fromLocalFile(path));
  } else {
    browser_->setHtml(QStringLiteral("<p style='color:#666'>help_quarno.html: %1</p>")
                          .arg(path.toHtmlEscaped()));
  }

  close_ = new FaceButton(QStringLiteral("도움말 닫기"), this);
  close_->setObjectName(QStringLiteral("1008"));
  close_->setGeometry(kWidth - 12 - 96, kHeight - 37, 96, 25);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  KeyGuard::Install(this);
}

void CHelpWindow::OnHotSpot(int id) {
  if (id == kHeaderClose) close();
}

void CHelpWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), art::kFace);
  p.setPen(QColor(210, 210, 210));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.drawPixmap(1, 1, art::HelpHeader(width() - 2));
  p.setFont(Gulim(12));
  p.setPen(Qt::white);
  const QString title = QStringLiteral("Quarno Server 도움말");
  p.drawText(QRect(32, 13, 300, 15), Qt::AlignLeft | Qt::AlignTop, title);
  p.drawText(QRect(33, 13, 300, 15), Qt::AlignLeft | Qt::AlignTop, title);
  p.setPen(QColor(200, 218, 232));
  p.drawText(QRect(632, 13, 40, 15), Qt::AlignLeft | Qt::AlignTop,
             QStringLiteral("v%1").arg(QLatin1String(kProgramVersion)));
  const auto state = StateOf(kHeaderClose);
  p.drawPixmap(kWidth - 23, 14,
               art::TitleButtonImage(art::TitleButton::kClose,
                                     state == kPressed   ? art::ButtonState::kPressed
                                     : state == kHovered ? art::ButtonState::kHover
                                                         : art::ButtonState::kNormal));
}

}  // namespace quarno::qt
