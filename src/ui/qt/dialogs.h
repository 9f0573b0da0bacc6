#pragma once
// Plain message boxes and the folder chooser, owned by a window.
#include <QString>
#include <functional>

class QWidget;

namespace quarno::qt {

enum class BoxKind { kOk, kYesNo };
enum class BoxIcon { kNone, kInformation, kWarning, kError };
enum class BoxAnswer { kOk, kYes, kNo };

// Modal box; texts may use "\r\n" line breaks. An empty caption means the
// program's title "Quarno Server".
BoxAnswer ShowMessageBox(QWidget* owner, const QString& text, const QString& caption = {},
                         BoxKind kind = BoxKind::kOk, BoxIcon icon = BoxIcon::kNone);

// Asks for a folder (title "[FTP] 공개할 폴더를 선택하세요." unless given),
// opening at `start`; empty when cancelled. Where the desktop has a folder
// chooser of its own (a portal or the platform theme), that one is shown.
QString ChooseFolder(QWidget* owner, const QString& start = {}, const QString& title = {});
// Where the chooser opens: `current` when it names an existing folder by an
// absolute path, else the user's home folder (never the working directory,
// which is wherever the program happened to be started).
QString FolderChooserStart(const QString& current);

// Loads Qt's own Korean texts (buttons and labels of the folder chooser and
// of the message boxes) from Qt's translations folder. The program speaks
// Korean whatever the desktop's language, so the catalog does not follow the
// locale. Call once after the QApplication exists; false when the catalog is
// not installed (the chooser then stays English).
bool InstallQtKoreanTexts();
// Tests replace the chooser; an empty function restores the real one.
void SetFolderChooserForTesting(std::function<QString(QWidget*)> chooser);

}  // namespace quarno::qt
