// A user and a desktop on the X server, on a connection of their own: real pointer and key
// events through XTEST, close requests and _NET_WM_PING as a window manager sends them, and
// the pixels the server shows. Meant for a thread beside the program's, which never touches
// this connection.
#pragma once

#include <xcb/xcb.h>

#include <QPoint>
#include <QRect>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

namespace qt_test {

class XUser {
  public:
    using Clock = std::chrono::steady_clock;

    XUser();  // connects to $DISPLAY; Connected() tells whether that worked
    ~XUser();
    XUser(const XUser&) = delete;
    XUser& operator=(const XUser&) = delete;

    bool Connected() const { return connection_ != nullptr; }

    // A left click at `point` of the screen: the pointer moves there, presses and releases.
    void Click(QPoint point);
    // Presses `key` while `held` is down (keysyms, as X11/keysym.h names them).
    void Chord(uint32_t held, uint32_t key);
    // The close box of a window manager: WM_DELETE_WINDOW to `window`.
    void RequestClose(uint32_t window);

    // Sends _NET_WM_PING to `window`; the window answers by sending it back to the root.
    void Ping(uint32_t window);
    // Takes what comes from the server for `wait` (and what is queued already).
    void Pump(std::chrono::milliseconds wait);
    // How long each ping sent so far took to be answered, in the order sent; a ping not
    // answered yet counts with the time it has waited so far.
    std::vector<std::chrono::milliseconds> PingTimes() const;
    // Whether every ping sent has been answered.
    bool AllAnswered() const;

    // The pixels of `box` of `window` as the server shows them, 0xRRGGBB each, row by row.
    std::vector<uint32_t> Pixels(uint32_t window, QRect box);

    // Waits until the server has taken every request sent so far.
    void Sync();

  private:
    xcb_atom_t Atom(const char* name);
    uint8_t Keycode(uint32_t keysym);
    void Key(uint8_t code, bool press);
    void ClientMessage(uint32_t window, xcb_atom_t what, uint32_t serial);

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t protocols_ = 0;
    xcb_atom_t ping_ = 0;
    xcb_atom_t delete_ = 0;
    uint32_t serial_ = 0;
    std::map<uint32_t, Clock::time_point> sent_;      // serial -> when sent
    std::map<uint32_t, Clock::time_point> answered_;  // serial -> when answered
};

}  // namespace qt_test
