#pragma once
// Joins the Qt main window and tray to the main window's workflows: clicks,
// edits and window messages go to the CQuarnoUIDlg handlers on the GUI thread.
namespace quarno::ui {
class CQuarnoUIDlg;
}

namespace quarno::qt {

class MainWindow;
class QtView;

void BindMainWindow(MainWindow& window, ui::CQuarnoUIDlg& dialog, QtView& view);

}  // namespace quarno::qt
