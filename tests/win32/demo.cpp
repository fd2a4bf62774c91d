// Not a test: the program on the folder named by TWINRAKE_DEMO_FOLDER, added, searched and
// with its first group selected, then left open for a screenshot until it is closed.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/app.h"
#include "app/controls.h"
#include "platform/win32/win32_backend.h"
#include "test_support.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* folder = std::getenv("TWINRAKE_DEMO_FOLDER");
    if (folder == nullptr) {
        return 1;
    }
    std::string answer = folder;
    platform::win32::SetPickerAnswer([&](const std::string&, const char*, std::string& converted) {
        converted = answer;
        return true;
    });
    wintest::Script script;
    script.Then([] { wintest::PostClick(wintest::Control(twinrake::BtnAddFolder), 10, 8); });
    script.Then([] { wintest::PostClick(wintest::Control(twinrake::BtnSearch), 10, 8); });
    script.Then([] { wintest::PostListClick(wintest::Control(twinrake::LstGroups), 0); });
    script.Then([] { SetFocus(wintest::Control(twinrake::LstMembers)); });
    script.Start();
    return twinrake::RunTwinrake();
}
