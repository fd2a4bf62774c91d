// Whether the work of many threads waits for a disk rather than for the cores: told from how
// long the file system takes to answer. While it answers from memory, a few threads do best,
// one per core; once it has to go to the disk, each more thread keeps one more request in
// flight, and a disk gives its speed only with many at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace twinrake {

class DiskPace {
  public:
    // An answer from memory takes microseconds; from a disk, a tenth of a millisecond and more.
    static constexpr auto kSlow = std::chrono::microseconds(100);
    // Answers are judged in rounds of this many; a round in which one in four was slow says
    // the disk sets the pace (a warm cache that a busy machine delays now and then does not).
    static constexpr uint32_t kRound = 64;

    // One call to the file system took `took`, for `units` things it read (entries of a
    // listing, a block).
    void Note(std::chrono::steady_clock::duration took, uint32_t units = 1) {
        if (waiting_.load(std::memory_order_relaxed)) {
            return;
        }
        if (took > kSlow * units) {
            slow_.fetch_add(1, std::memory_order_relaxed);
        }
        if (calls_.fetch_add(1, std::memory_order_relaxed) % kRound == kRound - 1 &&
            slow_.exchange(0, std::memory_order_relaxed) * 4 >= kRound &&
            !waiting_.exchange(true) && whenWaiting_) {
            whenWaiting_();
        }
    }

    // Called once, on the thread whose call tipped the balance, when the disk starts to set
    // the pace. Set before the first Note.
    void WhenWaiting(std::function<void()> call) { whenWaiting_ = std::move(call); }

    // Whether the disk sets the pace; once it did, it does for the rest of the work.
    bool Waiting() const { return waiting_.load(std::memory_order_relaxed); }

  private:
    std::atomic<uint32_t> calls_{0};
    std::atomic<uint32_t> slow_{0};
    std::atomic<bool> waiting_{false};
    std::function<void()> whenWaiting_;
};

// The time `call` takes, noted in `pace`.
template <typename Call>
auto Timed(DiskPace& pace, Call call, uint32_t units = 1) {
    auto start = std::chrono::steady_clock::now();
    auto result = call();
    pace.Note(std::chrono::steady_clock::now() - start, units);
    return result;
}

}  // namespace twinrake
