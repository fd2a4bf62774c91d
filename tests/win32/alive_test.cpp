// A long search in the real program, slowed down by a pause after every read: meanwhile the
// window answers what another thread sends it and repaints, and clicks made during the search
// are taken only after it, in their order.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "platform/win32/win32_backend.h"
#include "platform/window.h"
#include "test_support.h"

namespace {

using namespace twinrake;
using wintest::Control;

// Two files of this size are read in several blocks each; with a pause after every read the
// search runs for about a second.
constexpr size_t kFileSize = 384 * 1024;
constexpr DWORD kReadPause = 70;

std::atomic<int> reads{0};

// The buttons whose release (which makes the press) the loop took, each with the number of
// reads done by then.
using Taken = std::pair<int32_t, int>;
std::vector<Taken>* taken = nullptr;

LRESULT CALLBACK NoteReleases(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_LBUTTONUP) {
        taken->emplace_back(GetDlgCtrlID(message->hwnd), reads.load());
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Click(int32_t identifier) {
    wintest::PostClick(Control(identifier), 10, 8);
}

// Another thread, from the search's first read until told to stop, every 50 ms: sends the
// main window a message as a desktop asks whether a window lives, checks during the search
// that the list it invalidated the time before has been painted, and once, early, clicks
// Reset and then Add.
struct Watcher {
    std::atomic<bool> searchOver{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    int answeredDuringSearch = 0;
    int answered = 0;
    int unanswered = 0;
    int painted = 0;
    int unpainted = 0;
    int readsAtClicks = -1;

    void Watch() {
        while (reads == 0 && !stop) {
            Sleep(1);
        }
        HWND main = wintest::MainWindow();
        HWND list = Control(LstAllFiles);
        bool invalidatedDuringSearch = false;
        while (!stop) {
            DWORD_PTR result = 0;
            bool searching = !searchOver;
            if (SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 250, &result) != 0) {
                ++answered;
                answeredDuringSearch += searching ? 1 : 0;
            } else {
                ++unanswered;
            }
            // After the search the loop takes the clicks first, and paints only once idle.
            if (invalidatedDuringSearch && !searchOver) {
                ++(GetUpdateRect(list, nullptr, FALSE) ? unpainted : painted);
            }
            InvalidateRect(list, nullptr, TRUE);
            invalidatedDuringSearch = searching;
            if (answered + unanswered == 3) {
                readsAtClicks = reads;
                Click(BtnReset);
                Click(BtnAddFolder);
            }
            Sleep(50);
        }
        done = true;
    }
};

TEST(AliveTest, ALongSearchAnswersSentMessagesRepaintsAndLeavesClicksForAfterIt) {
    wintest::ScratchFolder scratch;
    std::string same = wintest::Pattern(kFileSize, 5);
    wintest::WriteBytes(scratch / "x1.bin", same);
    wintest::WriteBytes(scratch / "x2.bin", same);
    int picks = 0;
    platform::win32::SetPickerAnswer([&](const std::string&, const char*, std::string& converted) {
        ++picks;
        converted = scratch.Path();
        return true;
    });
    reads = 0;
    platform::win32::SetAfterRead([] {
        ++reads;
        Sleep(kReadPause);
    });
    std::vector<Taken> clicks;
    taken = &clicks;
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, NoteReleases, nullptr, GetCurrentThreadId());

    Watcher watcher;
    std::thread watching;
    wintest::Script script;
    script.Then([] { Click(BtnAddFolder); });
    script.Then([&] {
        EXPECT_EQ(platform::CountLines(LstAllFiles), 2);
        watching = std::thread([&] { watcher.Watch(); });
        Click(BtnSearch);
    });
    script.Then([&] {
        watcher.searchOver = true;
        EXPECT_EQ(platform::CountLines(LstGroups), 1);  // the search has ended and shows
    });
    script.Then([] {
        // Reset, then a scan of the same folder again: in the other order the scan would
        // have seen the folder it had scanned last and done nothing.
        EXPECT_EQ(platform::CountLines(LstGroups), 0);
        EXPECT_EQ(platform::CountLines(LstAllFiles), 2);
        PostMessageA(wintest::MainWindow(), WM_CLOSE, 0, 0);
    });
    AppState state;
    bool started = StartUp(state);
    EXPECT_TRUE(started);
    if (started) {
        script.Start();
        RunLoop(state);
    }
    watcher.stop = true;
    if (watching.joinable()) {
        MSG message;  // answers the watcher's last message, if one is on its way
        while (!watcher.done) {
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            Sleep(1);
        }
        watching.join();
    }
    UnhookWindowsHookEx(hook);
    platform::win32::SetAfterRead(nullptr);
    platform::win32::SetPickerAnswer(nullptr);
    platform::CloseMainWindow(kMainWindowNumber);

    EXPECT_TRUE(script.Done());
    EXPECT_EQ(picks, 2);
    EXPECT_GE(watcher.answeredDuringSearch, 10);
    EXPECT_EQ(watcher.unanswered, 0);
    EXPECT_GE(watcher.painted, 10);
    EXPECT_EQ(watcher.unpainted, 0);
    // The clicks made while the search read were taken after its last read, in their order.
    int total = reads;
    EXPECT_GT(watcher.readsAtClicks, 0);
    EXPECT_LT(watcher.readsAtClicks, total);
    EXPECT_EQ(clicks,
              (std::vector<Taken>{
                  {BtnAddFolder, 0}, {BtnSearch, 0}, {BtnReset, total}, {BtnAddFolder, total}}));
}

}  // namespace
