#include "app/window_progress.h"

#include "app/controls.h"
#include "platform/window.h"
#include "results/views.h"

namespace twinrake {

void WindowProgress::Reset() {
    overallShown_ = -1;
    fileShown_ = -1;
}

void WindowProgress::ScanBegins(int64_t) {
    scanBegan_ = Clock::now();
    countShown_ = scanBegan_;
    StillRunning();
}

void WindowProgress::Catalogued(int64_t catalogued) {
    // A short scan shows nothing: its count would only flash before the list shows it.
    Clock::time_point now = Clock::now();
    if (now - scanBegan_ >= kCountAfter && now - countShown_ >= kCountEvery) {
        countShown_ = now;
        platform::SetControlText(
            LblAllFiles, CaptionWithCount(kAllFilesCaption, static_cast<int32_t>(catalogued)));
    }
    StillRunning();
}

void WindowProgress::SearchBegins(int64_t) {
    Reset();
    StillRunning();
}

void WindowProgress::SizesRead(int64_t) {
    StillRunning();
}

void WindowProgress::WholeSearchShare(int32_t percent) {
    Show(PrgOverall, percent, overallShown_);
    StillRunning();
}

void WindowProgress::CurrentSizeShare(int32_t percent) {
    Show(PrgFile, percent, fileShown_);
    StillRunning();
}

void WindowProgress::StillRunning() {
    Clock::time_point now = Clock::now();
    if (now - keptAlive_ >= kAliveEvery) {
        keptAlive_ = now;
        platform::KeepWindowAlive();
    }
}

void WindowProgress::Show(int32_t bar, int32_t percent, int32_t& shown) {
    if (shown != percent) {
        shown = percent;
        platform::SetProgress(bar, percent);
    }
}

}  // namespace twinrake
