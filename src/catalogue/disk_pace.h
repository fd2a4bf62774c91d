// Whether the work of many threads waits for a disk rather than for the cores. While the file
// system answers from memory, a few threads do best, one per core; once it has to go to the
// disk, each more thread keeps one more request in flight, and a disk gives its speed only
// with many at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/files.h"

namespace twinrake {

class DiskPace {
  public:
    // Where the system does not say, time tells: an answer from memory takes microseconds,
    // from a disk a tenth of a millisecond and more.
    static constexpr auto kSlow = std::chrono::microseconds(100);
    // Answers are judged in rounds of this many; a round in which one in four waited says
    // the disk sets the pace (a warm cache that a busy machine delays now and then does not).
    static constexpr uint32_t kRound = 64;

    // One answer of the file system, which waited for the disk or did not.
    void Note(bool waited) {
        if (waited) {
            waited_.fetch_add(1, std::memory_order_relaxed);
        }
        if (answers_.fetch_add(1, std::memory_order_relaxed) % kRound != kRound - 1) {
            return;
        }
        const bool slow = waited_.exchange(0, std::memory_order_relaxed) * 4 >= kRound;
        waitingNow_.store(slow, std::memory_order_relaxed);
        if (slow && !waiting_.exchange(true) && whenWaiting_) {
            whenWaiting_();
        }
    }

    // One answer that took `took` for `units` things it read (the entries of a listing).
    void Note(std::chrono::steady_clock::duration took, uint32_t units) {
        Note(took > kSlow * units);
    }

    // One read of `file` that took `took`: what the system says of it, else its time.
    void Note(const platform::OpenFile* file, std::chrono::steady_clock::duration took) {
        switch (platform::LastReadWaited(file)) {
            case platform::DiskWait::kYes:
                Note(true);
                return;
            case platform::DiskWait::kNo:
                Note(false);
                return;
            case platform::DiskWait::kUnknown:
                break;
        }
        Note(took, 1);
    }

    // Called once, on the thread whose answer tipped the balance, when the disk starts to set
    // the pace. Set before the first Note.
    void WhenWaiting(std::function<void()> call) { whenWaiting_ = std::move(call); }

    // Whether the disk sets the pace; once it did, it does for the rest of the work.
    bool Waiting() const { return waiting_.load(std::memory_order_relaxed); }

    // Whether it did in the last round of answers: only then does asking it ahead pay. Pages
    // that it brought in earlier, or that the cache had all along, would cost a call a file.
    bool WaitingNow() const { return waitingNow_.load(std::memory_order_relaxed); }

  private:
    std::atomic<uint32_t> answers_{0};
    std::atomic<uint32_t> waited_{0};
    std::atomic<bool> waiting_{false};
    std::atomic<bool> waitingNow_{false};
    std::function<void()> whenWaiting_;
};

// Reads from `file` with `read`, and notes in `pace` whether it waited for the disk.
template <typename Read>
platform::Error PacedRead(DiskPace& pace, const platform::OpenFile* file, Read read) {
    auto start = std::chrono::steady_clock::now();
    platform::Error error = read();
    pace.Note(file, std::chrono::steady_clock::now() - start);
    return error;
}

}  // namespace twinrake
