#include "ui/qt/init_window.h"

#include <QCloseEvent>
#include <QPaintEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>

#include "ui/qt/artwork.h"
#include "ui/qt/controls.h"
#include "ui/qt/fonts.h"
#include "ui/qt/message_event.h"
#include "ui/qt/pages.h"

namespace quarno::qt {
namespace {
const QRect kMinimizeRect(495, 12, 12, 12);
const QRect kCloseRect(509, 12, 12, 12);
const QRect kStatusLine(1, 312, 440, 28);

art::ButtonState ImageState(DrawnWindow::HotState s) {
  switch (s) {
    case DrawnWindow::kHovered:
      return art::ButtonState::kHover;
    case DrawnWindow::kPressed:
      return art::ButtonState::kPressed;
    default:
      return art::ButtonState::kNormal;
  }
}
}  // namespace

CFirmware_Update::CFirmware_Update(bool transparent) : opaque_(!transparent) {
  setWindowTitle(QStringLiteral("Quarno Server"));
  // Both big windows share the title; the role tells them apart on X11.
  setWindowRole(QStringLiteral("quarno-init"));
  setWindowIcon(art::AppIcon());
  setFixedSize(529, 342);
  CentreOnDesktop(264, 171);
  SetCaption(QRect(1, 2, 526, 28));
  AddHotSpot(kMinimize, {kMinimizeRect});
  AddHotSpot(kClose, {kCloseRect});
  status_ = QStringLiteral("Quarno Server 초기화를 시작합니다 ");
  intro_ = new CFirmwareIntro(this);
  admin_ = new CAdminPassword(this);
  upgrade_ = new CUpgrade(this);
  veil_ = new Veil(this);
  KeyGuard::Install(this);
  dots_ = 1;
  dot_timer_.start(200, this);
}

int CFirmware_Update::Exec() {
  if (ended_) return result_;
  if (opaque_) show();
  QEventLoop loop;
  loop_ = &loop;
  loop.exec(QEventLoop::DialogExec);
  loop_ = nullptr;
  hide();
  return result_;
}

void CFirmware_Update::End(int result) {
  if (result == kOk) SaveRect();
  result_ = result;
  ended_ = true;
  dot_timer_.stop();
  if (loop_) loop_->exit(result);
}

void CFirmware_Update::SetStatus(const QString& text) {
  {
    QMutexLocker lock(&status_mutex_);
    status_ = text;
  }
  QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

QString CFirmware_Update::Status() const {
  QMutexLocker lock(&status_mutex_);
  return status_;
}

void CFirmware_Update::StopDots() {
  dot_timer_.stop();
  shown_dots_ = 0;
  dots_due_ = false;
  update();
}

bool CFirmware_Update::event(QEvent* event) {
  if (auto* message = event->type() >= QEvent::User ? dynamic_cast<MessageEvent*>(event) : nullptr) {
    emit MessageArrived(message->Id(), message->WParam(), message->LParam());
    return true;
  }
  return DrawnWindow::event(event);
}

void CFirmware_Update::SetShownDots(int dots) {
  dot_timer_.stop();
  shown_dots_ = std::max(0, dots);
  dots_due_ = true;
  update(kStatusLine);
}

void CFirmware_Update::SetProgress(int per_mille) {
  progress_ = std::min(per_mille, 1000);
  update();
}

void CFirmware_Update::SetDimmed(bool dimmed) {
  dimmed_ = dimmed;
  veil_->Cover(dimmed);
}

void CFirmware_Update::SetOpaque(bool opaque) {
  if (opaque_ == opaque) return;
  opaque_ = opaque;
  // Without a compositor a fully transparent window is simply not shown.
  if (loop_ && !ended_) setVisible(opaque);
}

void CFirmware_Update::ShowPage(int index) {
  QWidget* pages[] = {intro_, admin_, upgrade_};
  for (int i = 0; i < 3; ++i) {
    if (i != index) pages[i]->hide();
  }
  page_ = (index >= 0 && index < 3) ? index : -1;
  if (page_ >= 0) {
    pages[page_]->show();
    pages[page_]->setFocus();
  }
}

void CFirmware_Update::SaveRect() {
  const QRect r = isMinimized() ? normalGeometry() : geometry();
  if (r.right() > 0 && r.bottom() > 0) saved_rect_ = r;
}

QRect CFirmware_Update::HandOverRect() const {
  if (isMinimized()) return saved_rect_.isValid() ? saved_rect_ : normalGeometry();
  return geometry();
}

void CFirmware_Update::OnHotSpot(int id) {
  if (id == kMinimize) {
    emit MinimizeClicked();
    SaveRect();
    showMinimized();
  } else if (id == kClose) {
    close();
  }
}

void CFirmware_Update::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (bound_) {
    emit CloseClicked();
    return;
  }
  if (upgrade_in_progress_ || ended_) return;
  emit CloseRequested();
  End(kCancel);
}

void CFirmware_Update::timerEvent(QTimerEvent* event) {
  if (event->timerId() != dot_timer_.timerId()) return DrawnWindow::timerEvent(event);
  shown_dots_ = dots_;
  dots_ = dots_ >= 5 ? 0 : dots_ + 1;
  dots_due_ = true;
  update(kStatusLine);
}

void CFirmware_Update::paintEvent(QPaintEvent* event) {
  // A paint that leaves the status line alone (a title button's hover) must
  // not use up the tick's dots.
  if (event->region().intersects(kStatusLine)) {
    painted_dots_ = dots_due_ ? shown_dots_ : 0;
    dots_due_ = false;
  }
  QPainter p(this);
  p.drawPixmap(0, 0, art::InitBackground());
  p.drawPixmap(kMinimizeRect.topLeft(),
               art::TitleButtonImage(art::TitleButton::kMinimize, ImageState(StateOf(kMinimize))));
  p.drawPixmap(kCloseRect.topLeft(),
               art::TitleButtonImage(art::TitleButton::kClose, ImageState(StateOf(kClose))));
  p.setFont(Gulim(12));
  p.setPen(art::kInk);
  p.drawText(QRect(19, 319, 430, 16), Qt::AlignLeft | Qt::AlignTop,
             Status() + QStringLiteral(" .").repeated(painted_dots_));
  if (progress_ >= 0) {
    p.fillRect(QRect(1, 310, 527, 2), QColor(214, 222, 230));
    p.fillRect(QRect(1, 310, 527 * progress_ / 1000, 2), art::kCaptionTop);
  }
  p.drawText(QRect(458, 318, 70, 16), Qt::AlignLeft | Qt::AlignTop,
             QStringLiteral("버전 : %1").arg(QLatin1String(kProgramVersion)));
}

}  // namespace quarno::qt
