// Takes Tab, Shift+Tab and Alt+F4 addressed to the main window before any control sees them:
// the focus walks the enabled buttons and lists in creation order, and Alt+F4 is a close
// request like the close box.
#pragma once

#include <QObject>

namespace platform::qt {

class KeyFilter final : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static bool InMainWindow(const QObject* watched);
};

}  // namespace platform::qt
