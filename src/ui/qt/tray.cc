#include "ui/qt/tray.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "ui/qt/artwork.h"
#include "ui/qt/fonts.h"
#include "ui/texts.h"

namespace quarno::qt {

Tray::Tray(QObject* parent) : QObject(parent), menu_(new QMenu) {
  menu_->setFont(Gulim(12));
  open_ = menu_->addAction(QStringLiteral("Quarno Server 열기(&O)"));
  QAction* link = menu_->addAction(QString::fromUtf8(ui::text::kMenuCopyShareLink));
  link->setObjectName(QString::number(kCommandCopyLink));
  connect(link, &QAction::triggered, this, [this] { emit Command(kCommandCopyLink); },
          Qt::QueuedConnection);
  menu_->addSeparator();
  exit_ = menu_->addAction(QStringLiteral("Quarno Server 종료(&Q)"));
  open_->setObjectName(QString::number(kCommandOpen));
  exit_->setObjectName(QString::number(kCommandExit));
  // Queued: the exit path must not run inside the menu's own event handling.
  connect(open_, &QAction::triggered, this, [this] { emit Command(kCommandOpen); },
          Qt::QueuedConnection);
  connect(exit_, &QAction::triggered, this, [this] { emit Command(kCommandExit); },
          Qt::QueuedConnection);
}

Tray::~Tray() {
  Remove();
  delete menu_;
}

bool Tray::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool Tray::Add() {
  if (!Available()) return false;
  if (!icon_) {
    icon_ = new QSystemTrayIcon(art::AppIcon(), this);
    icon_->setToolTip(QStringLiteral("Quarno Server"));
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      // StatusNotifierItem trays report a click as Trigger and never a
      // double click; XEmbed trays report both.
      if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
        emit Command(kCommandOpen);
    });
  }
  icon_->show();
  return true;
}

void Tray::Remove() {
  if (icon_) icon_->hide();
}

bool Tray::Shown() const { return icon_ && icon_->isVisible(); }

}  // namespace quarno::qt
