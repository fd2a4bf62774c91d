#include "x_user.h"

#include <poll.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qt_test {

XUser::XUser() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    protocols_ = Atom("WM_PROTOCOLS");
    ping_ = Atom("_NET_WM_PING");
    delete_ = Atom("WM_DELETE_WINDOW");
    // A window answers a ping by sending it to the root for these (Qt names the first, the
    // desktop standard the second); a window manager listens so.
    uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    Sync();
}

XUser::~XUser() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

xcb_atom_t XUser::Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

uint8_t XUser::Keycode(uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    uint8_t first = setup->min_keycode;
    uint8_t count = static_cast<uint8_t>(setup->max_keycode - first + 1);
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, first, count), nullptr);
    uint8_t found = 0;
    if (reply != nullptr) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        int per = reply->keysyms_per_keycode;
        for (int code = 0; code < count && found == 0; ++code) {
            for (int k = 0; k < per; ++k) {
                if (syms[code * per + k] == keysym) {
                    found = static_cast<uint8_t>(first + code);
                    break;
                }
            }
        }
    }
    std::free(reply);
    return found;
}

void XUser::Key(uint8_t code, bool press) {
    xcb_test_fake_input(connection_, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code,
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void XUser::Click(QPoint point) {
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_,
                        static_cast<int16_t>(point.x()), static_cast<int16_t>(point.y()), 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    Sync();
}

void XUser::Chord(uint32_t held, uint32_t key) {
    uint8_t heldCode = Keycode(held);
    uint8_t keyCode = Keycode(key);
    Key(heldCode, true);
    Key(keyCode, true);
    Key(keyCode, false);
    Key(heldCode, false);
    Sync();
}

void XUser::ClientMessage(uint32_t window, xcb_atom_t what, uint32_t serial) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols_;
    event.data.data32[0] = what;
    event.data.data32[1] = serial;  // a timestamp to a window manager; only echoed back
    event.data.data32[2] = window;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
}

void XUser::RequestClose(uint32_t window) {
    ClientMessage(window, delete_, XCB_CURRENT_TIME);
    Sync();
}

void XUser::Ping(uint32_t window) {
    ++serial_;
    sent_[serial_] = Clock::now();
    ClientMessage(window, ping_, serial_);
}

void XUser::Pump(std::chrono::milliseconds wait) {
    Clock::time_point end = Clock::now() + wait;
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                uint32_t serial = message->data.data32[1];
                if (message->type == protocols_ && message->data.data32[0] == ping_ &&
                    sent_.count(serial) != 0) {
                    answered_.emplace(serial, Clock::now());
                }
            }
            std::free(event);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd ready{xcb_get_file_descriptor(connection_), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) > 0 &&
            xcb_connection_has_error(connection_) != 0) {
            return;
        }
    }
}

std::vector<std::chrono::milliseconds> XUser::PingTimes() const {
    std::vector<std::chrono::milliseconds> times;
    Clock::time_point now = Clock::now();
    for (const auto& [serial, sent] : sent_) {
        auto answer = answered_.find(serial);
        Clock::time_point end = answer != answered_.end() ? answer->second : now;
        times.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(end - sent));
    }
    return times;
}

bool XUser::AllAnswered() const {
    return answered_.size() == sent_.size();
}

std::vector<uint32_t> XUser::Pixels(uint32_t window, QRect box) {
    std::vector<uint32_t> pixels;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<int16_t>(box.x()),
                      static_cast<int16_t>(box.y()), static_cast<uint16_t>(box.width()),
                      static_cast<uint16_t>(box.height()), ~0u),
        nullptr);
    if (reply == nullptr) {
        return pixels;
    }
    // A 24-bit screen holds 32 bits a pixel, blue first; the rest of a row is padding.
    const uint8_t* data = xcb_get_image_data(reply);
    int length = xcb_get_image_data_length(reply);
    int stride = box.height() > 0 ? length / box.height() : 0;
    if (reply->depth == 24 && stride >= box.width() * 4) {
        for (int y = 0; y < box.height(); ++y) {
            for (int x = 0; x < box.width(); ++x) {
                uint32_t value;
                std::memcpy(&value, data + y * stride + x * 4, sizeof value);
                pixels.push_back(value & 0xFFFFFFu);
            }
        }
    }
    std::free(reply);
    return pixels;
}

void XUser::Sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace qt_test
