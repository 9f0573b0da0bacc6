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

// Asks for a folder (title "[FTP] 공개할 폴더를 선택하세요." unless given);
// empty when cancelled.
QString ChooseFolder(QWidget* owner, const QString& start = {}, const QString& title = {});
// Tests replace the chooser; an empty function restores the real one.
void SetFolderChooserForTesting(std::function<QString(QWidget*)> chooser);

}  // namespace quarno::qt
