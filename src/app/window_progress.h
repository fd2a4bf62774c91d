// What the window shows of a long command, and how it stays alive meanwhile: the two progress
// bars, the running count of a scan in the caption of LblAllFiles, and, every few
// milliseconds, a moment for the window to repaint and answer the desktop.
#pragma once

#include <chrono>
#include <cstdint>

#include "catalogue/progress.h"

namespace twinrake {

class WindowProgress final : public Progress {
  public:
    // How long a scan runs before its count shows, and how often the count is redrawn.
    static constexpr auto kCountAfter = std::chrono::milliseconds(300);
    static constexpr auto kCountEvery = std::chrono::milliseconds(100);
    // How long a command may keep the window from the desktop at most.
    static constexpr auto kAliveEvery = std::chrono::milliseconds(20);

    // A new window: its bars stand at 0 and nothing has been shown yet.
    void Reset();

    void ScanBegins(int64_t catalogued) override;
    void Catalogued(int64_t catalogued) override;
    void SearchBegins(int64_t sizes) override;
    void SizesRead(int64_t sizes) override;
    void WholeSearchShare(int32_t percent) override;
    void CurrentSizeShare(int32_t percent) override;
    void StillRunning() override;

  private:
    using Clock = std::chrono::steady_clock;

    // Sets a bar only when its value changes; each costs a paint.
    void Show(int32_t bar, int32_t percent, int32_t& shown);

    int32_t overallShown_ = -1;
    int32_t fileShown_ = -1;
    Clock::time_point scanBegan_{};
    Clock::time_point countShown_{};
    Clock::time_point keptAlive_{};
};

}  // namespace twinrake
