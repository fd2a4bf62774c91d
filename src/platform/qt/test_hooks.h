// What the tests may hook into the Qt window, in a build made for them only
// (TWINRAKE_TEST_HOOKS); the program that ships has none of it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace platform::qt {

// The open main window, or nullptr before it is made and after CloseMainWindow.
QWidget* MainWindowWidget();

// The widget of control `identifier`, or nullptr when there is no such control.
QWidget* ControlWidget(int32_t identifier);

// The identifier of the control whose widget is `widget` or holds it; -1 for none.
int32_t IdentifierOf(const QWidget* widget);

}  // namespace platform::qt

namespace platform::test {

// Replaces the folder dialog: gets the title and the initial folder (empty when there is none)
// and returns what the user chose, as the dialog would, or empty text for a cancel. An empty
// function restores the dialog.
using FolderAnswer = std::function<QString(const QString& title, const QString& initialFolder)>;
void SetFolderAnswer(FolderAnswer answer);

// Called at the start of every wait that is about to take events from the window system, so
// that a test can schedule the next thing its user does. An empty function removes it.
void SetBeforeWait(std::function<void()> hook);

}  // namespace platform::test
