// What the scan and the search do when the system has no descriptor left for a listing or a
// file: the refusal says nothing of the folder or file refused, so the attempt is undone and
// made again after a pause, with fewer open at once. Only once nobody has got anywhere for
// kPatience is the refused one passed over, so that a shortage outside the program (another
// program holding every descriptor) cannot hold the command up for ever.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace twinrake {

class DescriptorShortage {
  public:
    static constexpr auto kRetryPause = std::chrono::milliseconds(10);
    static constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(30);

    explicit DescriptorShortage(std::chrono::milliseconds patience = kPatience)
        : patience_(patience) {}

    // Someone got somewhere: the patience starts afresh at the next refusal.
    void Progressed() {
        std::lock_guard lock(mutex_);
        since_.reset();
    }

    // A refusal nobody else's closing can end: true while the patience lasts, and the caller
    // tries again after kRetryPause; false once it has run out.
    bool Patient() {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!since_) {
            since_ = now;
        }
        return now - *since_ < patience_;
    }

    // Whether the patience ran out since the last progress.
    bool GivenUp() const {
        std::lock_guard lock(mutex_);
        return since_ && std::chrono::steady_clock::now() - *since_ >= patience_;
    }

  private:
    const std::chrono::milliseconds patience_;
    mutable std::mutex mutex_;
    std::optional<std::chrono::steady_clock::time_point> since_;
};

}  // namespace twinrake
