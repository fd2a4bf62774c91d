// twinrake-find has no window: every windowing operation does nothing, so the core's search
// runs unchanged and silently.
#include "platform/window.h"

namespace platform {

struct MainWindow {};

MainWindow* CreateMainWindow(int32_t, int32_t, int32_t, uint32_t, bool, const std::string&) {
    return nullptr;
}
bool SetControlParent(MainWindow*) {
    return false;
}
void CreateControl(int32_t, ControlKind, const Box&, const char*, int32_t, int32_t) {}
int32_t WaitForEvent() {
    return kEventClose;
}
int32_t ControlIdentifier() {
    return -1;
}
void AppendLine(int32_t, const std::string&) {}
void AppendLines(int32_t, LineBatch) {}
void ClearLines(int32_t) {}
void RemoveLine(int32_t, int32_t) {}
int32_t CountLines(int32_t) {
    return 0;
}
int32_t SelectedIndex(int32_t) {
    return -1;
}
void SelectLine(int32_t, int32_t) {}
void SetControlText(int32_t, const std::string&) {}
void EnableControl(int32_t, bool) {}
void SetProgress(int32_t, int32_t) {}
std::string PickFolder(const std::string&, const std::string&) {
    return {};
}
void ShowMessageBox(const std::string&, const std::string&, uint32_t) {}
void CloseMainWindow(int32_t) {}

}  // namespace platform
