#include "ui/qt/dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "ui/qt/artwork.h"
#include "ui/qt/fonts.h"

namespace quarno::qt {
namespace {
std::function<QString(QWidget*)>& TestChooser() {
  static std::function<QString(QWidget*)> chooser;
  return chooser;
}
}  // namespace

BoxAnswer ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxKind kind,
                         BoxIcon icon) {
  QMessageBox box(owner);
  box.setWindowTitle(caption.isEmpty() ? QStringLiteral("Quarno Server") : caption);
  box.setWindowIcon(art::AppIcon());
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box.setText(shown);
  box.setFont(Gulim(12));
  switch (icon) {
    case BoxIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case BoxIcon::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case BoxIcon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case BoxIcon::kNone:
      break;
  }
  if (kind == BoxKind::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("예(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("아니요(&N)"));
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("확인"));
  }
  const int answer = box.exec();
  if (kind == BoxKind::kOk) return BoxAnswer::kOk;
  return answer == QMessageBox::Yes ? BoxAnswer::kYes : BoxAnswer::kNo;
}

QString ChooseFolder(QWidget* owner, const QString& start, const QString& title) {
  if (TestChooser()) return TestChooser()(owner);
  return QFileDialog::getExistingDirectory(
      owner, title.isEmpty() ? QStringLiteral("[FTP] 공개할 폴더를 선택하세요.") : title, start,
      QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

QString FolderChooserStart(const QString& current) {
  if (!current.isEmpty() && QDir::isAbsolutePath(current) && QFileInfo(current).isDir())
    return current;
  return QDir::homePath();
}

bool InstallQtKoreanTexts() {
  static QTranslator* installed = nullptr;
  if (installed) return true;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_ko"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  installed = translator;
  return true;
}

void SetFolderChooserForTesting(std::function<QString(QWidget*)> chooser) {
  TestChooser() = std::move(chooser);
}

}  // namespace quarno::qt
