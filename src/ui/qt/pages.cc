#include "ui/qt/pages.h"

#include <QLineEdit>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>

#include "ui/qt/artwork.h"
#include "ui/qt/controls.h"
#include "ui/qt/fonts.h"

namespace quarno::qt {
namespace {

constexpr QSize kPageSize(526, 308);

void DrawAt(QPainter& p, int x, int y, const QString& text) {
  p.drawText(QRect(x, y, kPageSize.width() - x, 16), Qt::AlignLeft | Qt::AlignTop, text);
}

QPushButton* MakeButton(QWidget* page, int id, const QString& text, QRect place) {
  auto* button = new FaceButton(text, page);
  button->setObjectName(QString::number(id));
  button->setGeometry(place);
  return button;
}

QLineEdit* MakeEdit(QWidget* page, int id, QRect place) {
  auto* edit = new QLineEdit(page);
  edit->setObjectName(QString::number(id));
  edit->setGeometry(place);
  edit->setFont(Gulim(12));
  return edit;
}

void PreparePage(QWidget* page) {
  page->setAttribute(Qt::WA_OpaquePaintEvent);
  page->setGeometry(QRect(QPoint(1, 32), kPageSize));
  page->setStyleSheet(ControlStyleSheet());
  page->hide();
}

}  // namespace

CFirmwareIntro::CFirmwareIntro(QWidget* parent) : QWidget(parent) {
  PreparePage(this);
  next_ = MakeButton(this, kIdNext, QStringLiteral("다음"), QRect(373, 278, 70, 25));
  cancel_ = MakeButton(this, kIdCancel, QStringLiteral("취소"), QRect(446, 278, 70, 25));
  connect(next_, &QPushButton::clicked, this, &CFirmwareIntro::NextClicked);
  connect(cancel_, &QPushButton::clicked, this, &CFirmwareIntro::CancelClicked);
}

void CFirmwareIntro::SetVersions(const QString& model, const QString& current,
                                 const QString& latest) {
  model_ = model;
  current_ = current;
  latest_ = latest;
  update();
}

void CFirmwareIntro::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  emit Shown();
}

void CFirmwareIntro::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, art::PageBackground(art::Page::kFirmwareIntro));
  p.setFont(Gulim(12));
  p.setPen(art::kInk);
  DrawAt(p, 16, 70, QStringLiteral("모델명:"));
  DrawAt(p, 62, 70, model_);
  DrawAt(p, 16, 90, QStringLiteral("현재버전:"));
  DrawAt(p, 75, 90, current_);
  DrawAt(p, 16, 110, QStringLiteral("최신버전:"));
  DrawAt(p, 75, 110, latest_);
  DrawAt(p, 15, 139, QStringLiteral("Quarno_Server는 펌웨어 8.34 버전 이상에서 실행됩니다."));
  DrawAt(p, 15, 159, QStringLiteral("지금 업데이트 하시겠습니까?"));
}

CAdminPassword::CAdminPassword(QWidget* parent) : QWidget(parent) {
  PreparePage(this);
  user_ = MakeEdit(this, kIdUser, QRect(96, 70, 141, 20));
  password_ = MakeEdit(this, kIdPassword, QRect(96, 95, 141, 20));
  password_->setEchoMode(QLineEdit::Password);
  back_ = MakeButton(this, kIdBack, QStringLiteral("< 뒤로가기"), QRect(373, 278, 70, 25));
  next_ = MakeButton(this, kIdNext, QStringLiteral("다음"), QRect(446, 278, 70, 25));
  connect(next_, &QPushButton::clicked, this, &CAdminPassword::NextClicked);
  connect(back_, &QPushButton::clicked, this, &CAdminPassword::BackClicked);
}

QString CAdminPassword::NoticeText(int notice) {
  switch (notice) {
    case 1:
      return QStringLiteral("관리자 계정을 입력하세요");
    case 2:
      return QStringLiteral("관리자 암호를 입력하세요");
    case 3:
      return QStringLiteral("인증에 실패하였습니다.");
    case 4:
      return QStringLiteral("Ralmek 공유기와 통신 오류가 발생하였습니다.");
    default:
      return {};
  }
}

void CAdminPassword::SetNotice(int notice) {
  notice_ = (notice >= 0 && notice <= 4) ? notice : 0;
  notice_text_ = NoticeText(notice_);
  update();
}

void CAdminPassword::SetNoticeText(const QString& text) {
  notice_text_ = text;
  notice_ = 0;
  for (int n = 1; n <= 4; ++n) {
    if (NoticeText(n) == text) notice_ = n;
  }
  update();
}

void CAdminPassword::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, art::PageBackground(art::Page::kAdminPassword));
  p.setFont(Gulim(12));
  p.setPen(art::kInk);
  DrawAt(p, 16, 74, QStringLiteral("관리자 계정"));
  DrawAt(p, 16, 99, QStringLiteral("관리자 암호"));
  DrawAt(p, 16, 131, QStringLiteral("Ralmek 공유기에 관리자 계정 및 암호가 설정되어 있습니다."));
  DrawAt(p, 16, 149, QStringLiteral("관리자 계정 및 암호를 입력 후 '다음' 버튼을 클릭합니다."));
  if (!notice_text_.isEmpty()) {
    p.setPen(QColor(196, 72, 52));
    DrawAt(p, 53, 36, notice_text_);
  }
}

CUpgrade::CUpgrade(QWidget* parent) : QWidget(parent) {
  PreparePage(this);
  finish_ = MakeButton(this, kIdFinish, QStringLiteral("마침"), QRect(446, 278, 70, 25));
  finish_->setEnabled(false);
  connect(finish_, &QPushButton::clicked, this, &CUpgrade::FinishClicked);
}

QString CUpgrade::StepText(int step) const {
  if (step >= 0 && step < 4 && !step_texts_[step].isEmpty()) return step_texts_[step];
  switch (step) {
    case kStarted:
      return QStringLiteral("펌웨어 업데이트를 시작합니다.");
    case kDownloaded:
      return marks_[1] ? QStringLiteral("펌웨어 다운로드를 완료하였습니다.")
                       : QStringLiteral("최신 펌웨어 파일을 다운로드 합니다.");
    case kTransferred:
      return marks_[2] ? QStringLiteral("Ralmek 공유기로 펌웨어 전송을 완료하였습니다.")
                       : QStringLiteral("펌웨어를 공유기로 전송합니다.");
    case kInstalling:
      return QStringLiteral("펌웨어 설치가 시작되었습니다.");
    default:
      return {};
  }
}

void CUpgrade::SetMark(int step, bool marked) {
  if (step < 0 || step >= 4) return;
  marks_[step] = marked;
  update();
}

void CUpgrade::StartInstallAnimation() {
  if (timer_.isActive() || result_ != -1) return;
  dots_ = 0;
  timer_.start(200, this);
}

void CUpgrade::SetInstallDots(int dots) {
  timer_.stop();
  shown_dots_ = dots;
  update(QRect(30, 176, 480, 20));
}

void CUpgrade::SetStepText(int step, const QString& text) {
  if (step < 0 || step >= 4) return;
  step_texts_[step] = text;
  update();
}

void CUpgrade::SetResultLine(int line, const QString& text) {
  result_lines_[line & 1] = text;
  if (result_ == -1 && !text.isEmpty()) {
    // Result lines replace the installing dots, as a result does.
    timer_.stop();
    shown_dots_ = -1;
    result_ = 0;
  }
  update();
}

void CUpgrade::SetProgress(int per_mille) {
  progress_ = std::min(per_mille, 1000);
  update();
}

void CUpgrade::SetResult(int result) {
  timer_.stop();
  shown_dots_ = -1;
  result_ = result;
  finish_->setEnabled(true);
  const QString check_line =
      QStringLiteral("Ralmek 공유기와의 연결상태나 네트워크 상태를 확인하시기 바랍니다.");
  switch (result) {
    case 0:
      result_lines_[0] = QStringLiteral("펌웨어 업데이트를 완료하였습니다.");
      result_lines_[1] = QStringLiteral("[다음] 버튼을 클릭 후 계속 진행하시기 바랍니다.");
      finish_->setText(QStringLiteral("다음"));
      break;
    case 1:
      result_lines_[0] = QStringLiteral("펌웨어 다운로드에 실패하였습니다.");
      result_lines_[1] = check_line;
      break;
    case 2:
      result_lines_[0] = QStringLiteral("펌웨어를 공유기로 전송하는데 실패하였습니다.");
      result_lines_[1] = check_line;
      break;
    case 3:
      result_lines_[0] = QStringLiteral("펌웨어 업데이트 중 공유기와 연결이 끊어졌습니다.");
      result_lines_[1] = check_line;
      break;
    default:
      result_lines_[0].clear();
      result_lines_[1].clear();
      break;
  }
  update();
}

void CUpgrade::Reset() {
  timer_.stop();
  marks_ = {};
  step_texts_ = {};
  progress_ = -1;
  result_ = -1;
  shown_dots_ = -1;
  result_lines_[0].clear();
  result_lines_[1].clear();
  finish_->setText(QStringLiteral("마침"));
  finish_->setEnabled(false);
  update();
}

void CUpgrade::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  emit Shown();
}

void CUpgrade::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) return QWidget::timerEvent(event);
  shown_dots_ = dots_;
  dots_ = dots_ >= 15 ? 0 : dots_ + 1;
  update(QRect(30, 176, 480, 20));
}

void CUpgrade::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, art::PageBackground(art::Page::kUpgrade));
  p.setFont(Gulim(12));
  for (int step = 0; step < 4; ++step) {
    const int y = 28 + 26 * step;
    if (marks_[step]) p.drawPixmap(24, y - 2, art::CheckMark());
    p.setPen(marks_[step] ? QColor(Qt::black) : art::kInk);
    DrawAt(p, 40, y, StepText(step));
  }
  if (progress_ >= 0) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 222, 230));
    p.drawRoundedRect(QRect(40, 144, 440, 6), 3, 3);
    p.setBrush(art::kCaptionTop);
    p.drawRoundedRect(QRect(40, 144, 440 * progress_ / 1000, 6), 3, 3);
  }
  p.setPen(art::kInk);
  if (result_ != -1) {
    DrawAt(p, 37, 180, result_lines_[0]);
    DrawAt(p, 37, 201, result_lines_[1]);
  } else if (shown_dots_ >= 0) {
    DrawAt(p, 37, 180, QStringLiteral("펌웨어를 설치 중입니다") + QStringLiteral(" .").repeated(shown_dots_));
  }
}

}  // namespace quarno::qt
