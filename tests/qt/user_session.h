// A scripted user in front of the real window: every step is taken by the program's own wait,
// one pass of the loop at a time, through the same widget events a mouse and a keyboard make.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QWidget;
class QTimer;

namespace qt_test {

// What the credits box showed when it was found open.
struct CreditsBox {
    bool seen = false;
    QString caption;
    QString text;
    int buttons = 0;
    bool okButton = false;
    bool mainWindowGone = false;
};

class UserSession {
  public:
    UserSession();
    ~UserSession();
    UserSession(const UserSession&) = delete;
    UserSession& operator=(const UserSession&) = delete;

    // The user's next act, taken in a pass of its own after a pass in which the mouse only
    // moves over the window (as a hand does on its way), so that the loop has brought the
    // enabled states up to date by then.
    void Then(std::function<void()> act);
    // Looks at the window between two passes, after such a mouse move, without acting.
    void Check(std::function<void()> check);

    // The user closes the window `how` (by default with the close box); the credits box that
    // follows is read and dismissed with its OK button.
    void Close(std::function<void()> how);
    void Close();

    // What the folder picker answers next, as the dialog would give it (no trailing '/').
    void Answer(const QString& folder) { answers_.push_back(folder); }
    const std::vector<std::pair<QString, QString>>& PickerCalls() const { return pickerCalls_; }

    // Runs the whole program until the window has been closed; a script that ends without
    // closing it closes it with the close box. Returns the program's exit code.
    int Run();

    int32_t Passes() const { return passes_; }
    const CreditsBox& Credits() const { return credits_; }

  private:
    void OnWait();
    void WatchForCreditsBox();

    std::deque<std::function<void()>> steps_;
    std::deque<QString> answers_;
    std::vector<std::pair<QString, QString>> pickerCalls_;
    CreditsBox credits_;
    int32_t passes_ = 0;
    int32_t closeRequests_ = 0;
    QTimer* watcher_ = nullptr;
};

// Acts of the user. Positions are taken from the widgets, the events go to the main
// window's native window as the window system would deliver them.
QWidget* Widget(int32_t control);
void MoveMouseAway();
void Click(int32_t control);
void ClickLine(int32_t list, int row);
void DoubleClickLine(int32_t list, int row);
void Press(int key, int modifiers = 0);
void CloseBox();

// Reading the window.
std::vector<std::string> Lines(int32_t list);
std::string Caption(int32_t control);
bool Enabled(int32_t control);
int32_t FocusedControl();  // -1 when no control has the focus

// A temporary folder tree.
class Tree {
  public:
    Tree();
    // Writes `content` to `relative`, making the folders on the way.
    void Write(const QString& relative, const QByteArray& content) const;
    bool Exists(const QString& relative) const;
    QString Path(const QString& relative) const { return dir_.path() + "/" + relative; }
    std::string Bytes(const QString& relative) const { return Path(relative).toStdString(); }

  private:
    QTemporaryDir dir_;
};

}  // namespace qt_test
