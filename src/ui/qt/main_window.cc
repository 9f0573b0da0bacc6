#include "ui/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>

#include "ui/qt/artwork.h"
#include "ui/qt/controls.h"
#include "ui/qt/fonts.h"
#include "ui/qt/message_event.h"
#include "ui/texts.h"

namespace quarno::qt {
namespace {

constexpr int kWidth = 529;
constexpr int kFoldedHeight = 342;
constexpr int kUnfoldedHeight = 430;
const QRect kHelpRect(481, 12, 12, 12);
const QRect kMinimizeRect(495, 12, 12, 12);
const QRect kCloseRect(509, 12, 12, 12);

art::ButtonState ImageState(DrawnWindow::HotState s) {
  return s == DrawnWindow::kPressed   ? art::ButtonState::kPressed
         : s == DrawnWindow::kHovered ? art::ButtonState::kHover
                                      : art::ButtonState::kNormal;
}

void DrawAt(QPainter& p, int x, int y, const QString& text) {
  p.drawText(QRect(x, y, kWidth - x, 16), Qt::AlignLeft | Qt::AlignTop, text);
}

// Section titles are drawn twice, one pixel apart, for a bold look.
void DrawTitle(QPainter& p, int x, int y, const QString& text) {
  DrawAt(p, x, y, text);
  DrawAt(p, x + 1, y, text);
}

bool IsFolderEditKey(int key) {
  switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      return true;
    default:
      return false;
  }
}

}  // namespace

MainWindow::MainWindow() {
  setWindowTitle(QStringLiteral("Quarno Server"));
  // Both big windows share the title; the role tells them apart on X11.
  setWindowRole(QStringLiteral("quarno-main"));
  setWindowIcon(art::AppIcon());
  setFixedSize(kWidth, kFoldedHeight);
  CentreOnDesktop(264, 171);
  SetCaption(QRect(1, 2, 526, 28));
  AddHotSpot(kHelp, {kHelpRect});
  AddHotSpot(kMinimize, {kMinimizeRect});
  AddHotSpot(kClose, {kCloseRect});
  AddHotSpot(kUnfold, {QRect(408, 328, 9, 31), QRect(420, 327, 92, 11)}, true);
  setStyleSheet(ControlStyleSheet());
  setFont(Gulim(12));

  AddEdit(kName, QRect(153, 82, 133, 18));
  AddEdit(kEmail, QRect(153, 104, 133, 18));
  AddEdit(kPort, QRect(153, 126, 64, 18))->setMaxLength(5);
  AddCheck(kAutoPort, QPoint(222, 127));
  AddButton(kRegister, QStringLiteral("Quarno 등록"), QRect(431, 124, 86, 25));
  AddButton(kRegisterHere, QStringLiteral("현재PC로등록"), QRect(431, 124, 86, 25))->hide();
  AddButton(kDeleteAccount, QStringLiteral("기존계정삭제"), QRect(339, 124, 86, 25));

  AddEdit(kFtpUser, QRect(154, 208, 133, 18));
  QLineEdit* password = AddEdit(kFtpPassword, QRect(154, 230, 133, 18));
  password->setEchoMode(QLineEdit::Password);
  // The host name, e-mail, port and FTP user take Latin text only: the input
  // method starts (and stays) in its Latin mode there, not in Hangul.
  const Qt::InputMethodHints latin = Qt::ImhLatinOnly | Qt::ImhPreferLatin |
                                     Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText;
  for (int id : {kName, kEmail, kFtpUser}) ControlAs<QLineEdit>(id)->setInputMethodHints(latin);
  ControlAs<QLineEdit>(kPort)->setInputMethodHints(latin | Qt::ImhDigitsOnly);
  AddCheck(kShowPassword, QPoint(294, 233));
  QLineEdit* folder = AddEdit(kFolder, QRect(154, 253, 225, 18));
  // The folder is chosen, never typed.
  folder->setReadOnly(true);
  folder->setAttribute(Qt::WA_InputMethodEnabled, false);
  folder->setContextMenuPolicy(Qt::NoContextMenu);
  folder->setStyleSheet(QStringLiteral("QLineEdit { background: white; }"));
  folder->setCursor(Qt::PointingHandCursor);
  AddButton(kBrowse, QStringLiteral("..."), QRect(382, 251, 25, 23));

  auto* charset = new QComboBox(this);
  charset->setObjectName(QString::number(kCharset));
  charset->setGeometry(154, 275, 133, 18);
  charset->setFont(Gulim(12));
  charset->addItems({QStringLiteral("EUC-KR (알FTP)"), QStringLiteral("UTF-8")});
  charset->setCurrentIndex(0);
  controls_.insert(kCharset, charset);
  connect(charset, &QComboBox::activated, this,
          [this](int index) { emit SelectionChanged(kCharset, index); });

  AddButton(kApply, QStringLiteral("설정저장"), QRect(431, 289, 86, 25));
  AddCheck(kAutoRun, QPoint(154, 300));
  AddCheck(kTrayStart, QPoint(294, 300));

  users_ = new QTableWidget(0, 3, this);
  users_->setObjectName(QString::number(kUsers));
  users_->setGeometry(13, 354, 428, 62);
  users_->setHorizontalHeaderLabels(
      {QStringLiteral("No"), QStringLiteral("IP 주소"), QStringLiteral("접속시간")});
  users_->verticalHeader()->hide();
  users_->verticalHeader()->setDefaultSectionSize(17);
  users_->horizontalHeader()->setFixedHeight(19);
  users_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  users_->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignCenter);
  users_->horizontalHeader()->setHighlightSections(false);
  users_->setSelectionBehavior(QAbstractItemView::SelectRows);
  users_->setSelectionMode(QAbstractItemView::SingleSelection);
  users_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  users_->setShowGrid(true);
  users_->setWordWrap(false);
  users_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  users_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const int scroll = users_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  users_->setColumnWidth(0, 50);
  users_->setColumnWidth(1, 150);
  users_->setColumnWidth(2, 428 - 2 - 50 - 150 - scroll);
  users_->hide();
  controls_.insert(kUsers, users_);

  veil_ = new Veil(this);

  for (QWidget* w : controls_) w->installEventFilter(this);
  KeyGuard::Install(this);
}

QLineEdit* MainWindow::AddEdit(int id, QRect place) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::number(id));
  edit->setGeometry(place);
  edit->setFont(Gulim(12));
  controls_.insert(id, edit);
  connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& t) { emit TextEdited(id, t); });
  return edit;
}

QPushButton* MainWindow::AddButton(int id, const QString& text, QRect place) {
  auto* button = new FaceButton(text, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(place);
  controls_.insert(id, button);
  connect(button, &QPushButton::clicked, this, [this, id] {
    if (id == kBrowse) {
      emit FolderBrowseRequested();
    } else {
      emit ButtonClicked(id);
    }
  });
  return button;
}

QCheckBox* MainWindow::AddCheck(int id, QPoint at) {
  auto* box = new QCheckBox(this);
  box->setObjectName(QString::number(id));
  box->setGeometry(QRect(at, QSize(13, 13)));
  controls_.insert(id, box);
  connect(box, &QCheckBox::clicked, this, [this, id, box](bool checked) {
    if (id == kShowPassword) {
      ControlAs<QLineEdit>(kFtpPassword)
          ->setEchoMode(checked ? QLineEdit::Normal : QLineEdit::Password);
    }
    (void)box;
    emit CheckClicked(id, checked);
  });
  return box;
}

void MainWindow::SetRegistrationStatus(const QString& text) {
  registration_status_ = text;
  update();
}

void MainWindow::SetPcAddress(const QString& text) {
  pc_address_ = text;
  update();
}

void MainWindow::SetServerStatus(const QString& text) {
  server_status_ = text;
  update();
}

void MainWindow::SetUnfolded(bool unfolded) {
  unfolded_ = unfolded;
  // Position kept, only the height changes.
  setFixedSize(kWidth, unfolded ? kUnfoldedHeight : kFoldedHeight);
  users_->setVisible(unfolded);
  update();
}

void MainWindow::SetUsers(const QVector<QStringList>& rows) {
  users_->setRowCount(0);
  users_->setRowCount(rows.size());
  for (int r = 0; r < rows.size(); ++r) {
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem(rows[r].value(c));
      if (c == 0) item->setTextAlignment(Qt::AlignCenter);
      users_->setItem(r, c, item);
    }
  }
}

QVector<QStringList> MainWindow::Users() const {
  QVector<QStringList> rows;
  for (int r = 0; r < users_->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < 3; ++c) row << (users_->item(r, c) ? users_->item(r, c)->text() : QString());
    rows << row;
  }
  return rows;
}

void MainWindow::SetDimmed(bool dimmed) {
  dimmed_ = dimmed;
  veil_->Cover(dimmed);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  veil_->setGeometry(rect());
  DrawnWindow::resizeEvent(event);
}

void MainWindow::HideToTray() {
  if (tray_available_) {
    hide();
    hidden_to_tray_ = true;
  } else {
    showMinimized();
  }
}

void MainWindow::ShowFromTray() {
  if (hidden_to_tray_) {
    show();
    hidden_to_tray_ = false;
  }
  if (isMinimized()) showNormal();
  if (!isVisible()) show();
  raise();
  activateWindow();
}

void MainWindow::OnHotSpot(int id) {
  switch (id) {
    case kHelp:
      update();
      emit HelpRequested();
      break;
    case kMinimize:
      showMinimized();
      break;
    case kClose:
      emit CloseClicked();
      if (!bound_) HideToTray();
      break;
    case kUnfold:
      SetUnfolded(!unfolded_);
      emit UnfoldToggled(unfolded_);
      break;
    default:
      break;
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Only the tray command ends the program; closing hides the window.
  event->ignore();
  emit CloseClicked();
  if (!bound_) HideToTray();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (tray_available_ || !QRect(1, 2, 526, 28).contains(event->pos())) return;
  QMenu menu(this);
  menu.addAction(QStringLiteral("Quarno Server 열기(&O)"), this, &MainWindow::OpenRequested);
  menu.addAction(QString::fromUtf8(ui::text::kMenuCopyShareLink), this,
                 &MainWindow::CopyLinkRequested);
  menu.addSeparator();
  menu.addAction(QStringLiteral("Quarno Server 종료(&Q)"), this, &MainWindow::ExitRequested);
  menu.exec(event->globalPos());
}

bool MainWindow::event(QEvent* event) {
  if (auto* message = event->type() >= QEvent::User ? dynamic_cast<MessageEvent*>(event) : nullptr) {
    emit MessageArrived(message->Id(), message->WParam(), message->LParam());
    return true;
  }
  return DrawnWindow::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (dimmed_) {
    switch (type) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::InputMethod:
        return true;
      default:
        break;
    }
  }
  if (watched == Control(kFolder)) {
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
      if (!IsFolderEditKey(static_cast<QKeyEvent*>(event)->key())) return true;
    } else if (type == QEvent::InputMethod) {
      return true;
    } else if (type == QEvent::MouseButtonPress &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
               ControlAs<QLineEdit>(kFolder)->text().isEmpty()) {
      emit FolderBrowseRequested();
      return true;
    }
  }
  return DrawnWindow::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, art::MainBackground(unfolded_));
  p.drawPixmap(kHelpRect.topLeft(),
               art::TitleButtonImage(art::TitleButton::kHelp, ImageState(StateOf(kHelp))));
  p.drawPixmap(kMinimizeRect.topLeft(),
               art::TitleButtonImage(art::TitleButton::kMinimize, ImageState(StateOf(kMinimize))));
  p.drawPixmap(kCloseRect.topLeft(),
               art::TitleButtonImage(art::TitleButton::kClose, ImageState(StateOf(kClose))));

  p.setFont(Gulim(12));
  p.setPen(art::kTitleInk);
  DrawTitle(p, 11, 36, QStringLiteral("Quarno 주소 관리"));
  DrawTitle(p, 11, 161, QStringLiteral("서버 관리"));
  if (unfolded_) DrawTitle(p, 11, 326, QStringLiteral("사용자접속 상태"));

  p.setPen(QColor(80, 80, 80));
  DrawAt(p, 14, 64, QStringLiteral("Quarno 등록상태"));
  DrawAt(p, 14, 86, QStringLiteral("Quarno 주소"));
  DrawAt(p, 14, 108, QStringLiteral("Quarno 등록이메일"));
  DrawAt(p, 14, 130, QStringLiteral("Quarno 포트"));
  DrawAt(p, 14, 190, QStringLiteral("서버 IP 주소"));
  DrawAt(p, 14, 212, QStringLiteral("사용자 ID"));
  DrawAt(p, 14, 234, QStringLiteral("사용자 암호"));
  DrawAt(p, 14, 256, QStringLiteral("서버폴더지정"));
  DrawAt(p, 14, 278, QStringLiteral("서버(FTP)문자셋"));
  DrawAt(p, 14, 300, QStringLiteral("윈도우 시작옵션"));
  DrawAt(p, 239, 130, QStringLiteral("자동할당"));
  DrawAt(p, 311, 234, QStringLiteral("암호 보이기"));
  DrawAt(p, 171, 301, QStringLiteral("시작시 자동실행"));
  DrawAt(p, 311, 301, QStringLiteral("트레이아이콘 시작"));

  p.setPen(QColor(40, 40, 40));
  DrawAt(p, 153, 64, registration_status_);
  DrawAt(p, 153, 190, pc_address_);
  p.setPen(server_status_ == QStringLiteral("서버실행중") ? QColor(38, 140, 72)
                                                         : QColor(196, 120, 30));
  DrawAt(p, 294, 190, server_status_);

  const HotState unfold = StateOf(kUnfold);
  p.drawPixmap(408, 328, art::UnfoldArrow(unfolded_, ImageState(unfold)));
  p.setPen(unfold == kIdle ? art::kTitleInk : QColor(40, 120, 180));
  DrawAt(p, 420, 327, unfolded_ ? QStringLiteral("서버 접속자 닫기") : QStringLiteral("서버 접속자 보기"));
}

}  // namespace quarno::qt
