// A scripted stand-in for the window system: replays a user's events and picker answers and
// records what every control shows, so that tests read like a user's session.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/window.h"

namespace fake {

struct Control {
    int32_t identifier = 0;
    platform::ControlKind kind = platform::ControlKind::Label;
    platform::Box box;
    std::string caption;
    bool disabled = false;
    std::vector<std::string> lines;
    int32_t batches = 0;  // AppendLines calls
    int32_t selected = -1;
    int32_t progress = 0;
    int32_t rangeMin = 0;
    int32_t rangeMax = 0;
    std::vector<int32_t> progressHistory;     // every position set, in order
    std::vector<std::string> captionHistory;  // every caption set, in order
};

struct MessageBoxCall {
    std::string caption;
    std::string text;
    uint32_t type = 0;
    bool windowExisted = false;
};

// One step of a user's session. A step runs its action and then gives the event value the
// wait returns; clicks on a disabled or missing control raise nothing, as on a real screen.
using Step = std::function<int32_t()>;

struct Recorder {
    // Set before start-up to make the window (or taking controls) fail.
    bool failCreateWindow = false;
    bool failSetParent = false;
    // Identifiers whose creation fails.
    std::vector<int32_t> failControls;

    bool windowCreated = false;
    bool windowOpen = false;
    int32_t windowNumber = -1;
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    uint32_t style = 0;
    bool centred = false;
    std::string title;
    std::vector<int32_t> creationOrder;
    std::map<int32_t, Control> controls;
    int32_t latestControl = -1;
    int32_t waits = 0;
    int32_t keptAlive = 0;  // KeepWindowAlive calls

    std::deque<Step> script;
    std::deque<std::string> pickerAnswers;
    std::vector<std::pair<std::string, std::string>> pickerCalls;  // title, initial folder
    std::vector<MessageBoxCall> messageBoxes;

    Control* Find(int32_t identifier);
    const Control& At(int32_t identifier) const { return controls.at(identifier); }
};

// The one recorder the backend works on; Reset() starts a new session.
Recorder& State();
void Reset();

// Steps a test adds to the script. Clicks, selections and double clicks come after one
// message that is no event (the pointer moving there).
void Click(int32_t control);                     // the user presses a button
void SelectByUser(int32_t list, int32_t index);  // the user clicks a list line
void DoubleClick(int32_t list);                  // the user double-clicks the selected line
void Idle();                                     // a message that is no event (a mouse move)
void Do(std::function<void()> action);           // test code between two messages, then no event
void CloseWindow();                              // the user closes the window
void AnswerPicker(const std::string& folder);    // the next picker call returns this

}  // namespace fake
