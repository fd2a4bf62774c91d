// The program's one top-level window: it centres itself once the window manager's frame is
// known, turns a close request into an event for the wait, and leaves the focus to the Tab
// rule of this backend.
#pragma once

#include <QMargins>
#include <QWidget>
#include <cstdint>

namespace platform {

struct MainWindow final : QWidget {
    MainWindow(int32_t windowNumber, bool centreOnScreen);

    // Puts the frame's top-left corner where the window sits centred on the primary screen,
    // with the frame margins known now.
    void Centre();

    const int32_t number;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool event(QEvent* event) override;

  private:
    bool centred;
    QMargins placedWithFrame;
};

}  // namespace platform
