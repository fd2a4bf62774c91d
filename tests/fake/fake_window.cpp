#include "fake_window.h"

#include <algorithm>

namespace fake {

namespace {
Recorder recorder;
constexpr int32_t kMouseMove = 0x200;  // any value that is no event
}  // namespace

Recorder& State() {
    return recorder;
}
void Reset() {
    recorder = Recorder();
}

Control* Recorder::Find(int32_t identifier) {
    auto it = controls.find(identifier);
    return it == controls.end() ? nullptr : &it->second;
}

namespace {
int32_t RaiseFrom(int32_t control) {
    Control* c = recorder.Find(control);
    if (c == nullptr || c->disabled || !recorder.windowOpen) {
        return kMouseMove;
    }
    recorder.latestControl = control;
    return platform::kEventControl;
}
}  // namespace

// A user's pointer moves before it clicks: one message that is no event, as on a screen,
// which also brings the enabled states up to date before the click.
void Click(int32_t control) {
    Idle();
    recorder.script.push_back([control] { return RaiseFrom(control); });
}

void SelectByUser(int32_t list, int32_t index) {
    Idle();
    recorder.script.push_back([list, index] {
        Control* c = recorder.Find(list);
        if (c == nullptr || c->disabled || index < 0 ||
            index >= static_cast<int32_t>(c->lines.size())) {
            return kMouseMove;
        }
        c->selected = index;
        return RaiseFrom(list);
    });
}

void DoubleClick(int32_t list) {
    Idle();
    recorder.script.push_back([list] { return RaiseFrom(list); });
}

void Idle() {
    recorder.script.push_back([] { return kMouseMove; });
}

void Do(std::function<void()> action) {
    recorder.script.push_back([action = std::move(action)] {
        action();
        return kMouseMove;
    });
}

void CloseWindow() {
    recorder.script.push_back([] { return platform::kEventClose; });
}

void AnswerPicker(const std::string& folder) {
    recorder.pickerAnswers.push_back(folder);
}

}  // namespace fake

namespace platform {

struct MainWindow {};

namespace {
MainWindow theWindow;
fake::Control* ListOrNull(int32_t list) {
    fake::Control* c = fake::State().Find(list);
    return c != nullptr && c->kind == ControlKind::List ? c : nullptr;
}
}  // namespace

MainWindow* CreateMainWindow(int32_t number, int32_t clientWidth, int32_t clientHeight,
                             uint32_t style, bool centred, const std::string& title) {
    fake::Recorder& r = fake::State();
    if (r.failCreateWindow) {
        return nullptr;
    }
    r.windowCreated = true;
    r.windowOpen = true;
    r.windowNumber = number;
    r.clientWidth = clientWidth;
    r.clientHeight = clientHeight;
    r.style = style;
    r.centred = centred;
    r.title = title;
    return &theWindow;
}

bool SetControlParent(MainWindow* window) {
    return window != nullptr && !fake::State().failSetParent;
}

void CreateControl(int32_t identifier, ControlKind kind, const Box& box, const char* caption,
                   int32_t rangeMin, int32_t rangeMax) {
    fake::Recorder& r = fake::State();
    if (std::find(r.failControls.begin(), r.failControls.end(), identifier) !=
        r.failControls.end()) {
        return;
    }
    fake::Control c;
    c.identifier = identifier;
    c.kind = kind;
    c.box = box;
    c.caption = caption != nullptr ? caption : "";
    c.rangeMin = rangeMin;
    c.rangeMax = rangeMax;
    c.progress = rangeMin;
    r.controls[identifier] = c;
    r.creationOrder.push_back(identifier);
}

int32_t WaitForEvent() {
    fake::Recorder& r = fake::State();
    r.waits += 1;
    if (r.script.empty()) {
        return kEventClose;  // a script that ran out ends the session
    }
    fake::Step step = std::move(r.script.front());
    r.script.pop_front();
    return step();
}

int32_t ControlIdentifier() {
    return fake::State().latestControl;
}

void AppendLine(int32_t list, const std::string& text) {
    if (fake::Control* c = ListOrNull(list)) {
        c->lines.push_back(text);
    }
}

void AppendLines(int32_t list, LineBatch lines) {
    if (fake::Control* c = ListOrNull(list)) {
        lines.ForEach([c](std::string_view line) { c->lines.emplace_back(line); });
        c->batches += 1;
    }
}

void ClearLines(int32_t list) {
    if (fake::Control* c = ListOrNull(list)) {
        c->lines.clear();
        c->selected = -1;
    }
}

void RemoveLine(int32_t list, int32_t index) {
    fake::Control* c = ListOrNull(list);
    if (c == nullptr || index < 0 || index >= static_cast<int32_t>(c->lines.size())) {
        return;
    }
    c->lines.erase(c->lines.begin() + index);
    // As a list box does: the selection follows its line, and goes with it.
    if (c->selected == index) {
        c->selected = -1;
    } else if (c->selected > index) {
        c->selected -= 1;
    }
}

int32_t CountLines(int32_t list) {
    fake::Control* c = ListOrNull(list);
    return c != nullptr ? static_cast<int32_t>(c->lines.size()) : 0;
}

int32_t SelectedIndex(int32_t list) {
    fake::Control* c = ListOrNull(list);
    return c != nullptr ? c->selected : -1;
}

void SelectLine(int32_t list, int32_t index) {
    fake::Control* c = ListOrNull(list);
    if (c == nullptr) {
        return;
    }
    c->selected = index >= 0 && index < static_cast<int32_t>(c->lines.size()) ? index : -1;
}

void SetControlText(int32_t control, const std::string& text) {
    if (fake::Control* c = fake::State().Find(control)) {
        c->caption = text;
        c->captionHistory.push_back(text);
    }
}

void EnableControl(int32_t control, bool disabled) {
    if (fake::Control* c = fake::State().Find(control)) {
        c->disabled = disabled;
    }
}

void SetProgress(int32_t bar, int32_t percent) {
    fake::Control* c = fake::State().Find(bar);
    if (c != nullptr && c->kind == ControlKind::ProgressBar) {
        c->progress = std::clamp(percent, c->rangeMin, c->rangeMax);
        c->progressHistory.push_back(percent);
    }
}

void KeepWindowAlive() {
    fake::State().keptAlive += 1;
}

std::string PickFolder(const std::string& title, const std::string& initialFolder) {
    fake::Recorder& r = fake::State();
    r.pickerCalls.emplace_back(title, initialFolder);
    if (r.pickerAnswers.empty()) {
        return {};
    }
    std::string answer = r.pickerAnswers.front();
    r.pickerAnswers.pop_front();
    return answer;
}

void ShowMessageBox(const std::string& caption, const std::string& text, uint32_t type) {
    fake::Recorder& r = fake::State();
    r.messageBoxes.push_back({caption, text, type, r.windowOpen});
}

void CloseMainWindow(int32_t number) {
    fake::Recorder& r = fake::State();
    if (r.windowOpen && number == r.windowNumber) {
        r.windowOpen = false;
    }
}

}  // namespace platform
