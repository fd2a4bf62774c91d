// The threads that read for the scan (folder listings) and for the search (the files of each
// size), as many as the disk wants: one per core while the reads come from memory, more once
// they wait for a disk that answers many requests at once (DiskPace says when), one alone on
// a disk that turns, which answers best one request at a time. The pool only starts and
// joins them; what they take and in which order is their user's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue/disk_pace.h"

namespace twinrake {

// The machine's cores, at least one.
size_t Cores();

// How many threads read, by what the disk does.
struct ReaderCounts {
    size_t fromMemory = 1;  // while the reads come from memory
    size_t waiting = 1;     // once they wait for the disk
};

class ReaderPool {
  public:
    // Every thread runs `work`, which returns when there is nothing left for it. `fixed`, when
    // not 0, is the one count there is, whatever the disk does.
    ReaderPool(ReaderCounts counts, bool spinning, std::function<void()> work, size_t fixed = 0);
    ~ReaderPool() { Join(); }
    ReaderPool(const ReaderPool&) = delete;
    ReaderPool& operator=(const ReaderPool&) = delete;

    // How many threads the disk wants now.
    size_t Wanted() const;
    // Starts threads until `count` run, but never more than Wanted(); may be called from the
    // threads themselves.
    void StartUpTo(size_t count);
    size_t Started() const;

    // Told of every read; once it says the disk sets the pace, `grow` is called (on the thread
    // whose read tipped the balance) to start what more the disk wants. Set before any read.
    DiskPace& Pace() { return pace_; }
    void WhenWaiting(std::function<void()> grow) { pace_.WhenWaiting(std::move(grow)); }

    // Returns once every thread has returned, those started meanwhile too.
    void Join();

  private:
    const ReaderCounts counts_;
    const bool spinning_;
    const size_t fixed_;
    const std::function<void()> work_;
    DiskPace pace_;
    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    size_t started_ = 0;
};

// How long a thread that waits for another's work waits at most before it tells its watcher
// that it still runs.
inline constexpr auto kWaitStep = std::chrono::milliseconds(20);

// Waits on `changed`, with `lock` held on entry and on return, until `ready()`; every kWaitStep
// meanwhile it calls `tick` with the lock released, so that a window stays alive.
template <typename Ready, typename Tick>
void WaitTelling(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, Ready ready,
                 Tick tick) {
    while (!ready()) {
        if (!changed.wait_for(lock, kWaitStep, ready)) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }
}

}  // namespace twinrake
