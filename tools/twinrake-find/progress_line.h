// The line twinrake-find keeps rewriting on standard error while it scans and compares, only
// when standard error is a terminal (never in a pipe or a file), and clears at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "catalogue/progress.h"

namespace cli {

class ProgressLine final : public twinrake::Progress {
  public:
    // Shows nothing unless `wanted` and standard error is a terminal.
    explicit ProgressLine(bool wanted);
    ~ProgressLine() override { Clear(); }

    void Catalogued(int64_t catalogued) override;
    void SearchBegins(int64_t sizes) override;
    void SizesRead(int64_t sizes) override;

    // Takes the line away, so that what comes next starts at the left edge.
    void Clear();

  private:
    using Clock = std::chrono::steady_clock;
    // Quick runs show nothing; a shown line changes at most this often.
    static constexpr auto kFirstAfter = std::chrono::milliseconds(200);
    static constexpr auto kEvery = std::chrono::milliseconds(100);

    void Show(const std::string& text);

    const bool shown_;
    const Clock::time_point began_ = Clock::now();
    Clock::time_point lastShown_{};
    size_t width_ = 0;  // of the line on the terminal now
    int64_t sizes_ = 0;
};

}  // namespace cli
