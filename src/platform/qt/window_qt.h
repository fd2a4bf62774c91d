// What the Qt backend of platform/window.h offers beyond that header: access to its widgets and
// two hooks through which tests drive the real event loop and answer the folder picker. The
// program itself never sets a hook.
#pragma once

#include <cstdint>
#include <functional>

#include <QPoint>
#include <QSize>
#include <QString>

class QWidget;

namespace platform::qt {

// The open main window, or nullptr before it is made and after CloseMainWindow.
QWidget* MainWindowWidget();

// The widget of control `identifier`, or nullptr when there is no such control.
QWidget* ControlWidget(int32_t identifier);

// The identifier of the control whose widget is `widget` or holds it; -1 for none.
int32_t IdentifierOf(const QWidget* widget);

// The top-left corner of a window of `outer` size centred on a screen of `screen` size, every
// halving rounded down as an arithmetic shift does.
QPoint CentredOrigin(QSize screen, QSize outer);

// Replaces the folder dialog: gets the title and the initial folder (empty when there is none)
// and returns what the user chose, as the dialog would, or empty text for a cancel. An empty
// function restores the dialog.
using FolderAnswer = std::function<QString(const QString& title, const QString& initialFolder)>;
void SetFolderAnswerForTests(FolderAnswer answer);

// Called at the start of every wait that is about to take events from the window system, so
// that a test can schedule the next thing its user does. An empty function removes it.
void SetWaitHookForTests(std::function<void()> hook);

}  // namespace platform::qt
