// A user's session against the fake window: start-up, a script of events, the loop.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "detect/compare.h"
#include "fake_window.h"

namespace twinrake {

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::Reset(); }
    // Starts the program and runs the scripted events until the script closes the window
    // (an exhausted script closes it too).
    void Run() {
        ASSERT_TRUE(StartUp(state));
        RunLoop(state);
    }
    const fake::Control& Control(int32_t identifier) const { return fake::State().At(identifier); }
    const std::vector<std::string>& Lines(int32_t list) const { return Control(list).lines; }
    int32_t Selected(int32_t list) const { return Control(list).selected; }
    bool Enabled(int32_t identifier) const { return !Control(identifier).disabled; }
    const std::string& Caption(int32_t identifier) const { return Control(identifier).caption; }
    void AddFolder(const std::string& folder) {
        fake::AnswerPicker(folder);
        fake::Click(BtnAddFolder);
    }

    AppState state;
};

}  // namespace twinrake
