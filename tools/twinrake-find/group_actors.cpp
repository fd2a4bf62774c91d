#include "group_actors.h"

#include <utility>

namespace cli {

GroupActors::GroupActors(const twinrake::EngineState& state, const Options& options, size_t threads)
    : state_(state),
      options_(options),
      pool_(
          twinrake::ReaderCounts{threads, threads}, false, [this] { Work(); }, threads) {
    pool_.StartUpTo(threads);
}

GroupActors::~GroupActors() {
    Halt();
    pool_.Join();
}

void GroupActors::Halt() {
    std::lock_guard lock(mutex_);
    halted_ = true;
    changed_.notify_all();
}

void GroupActors::Work() {
    const size_t groups = state_.groupList.size();
    std::unique_lock lock(mutex_);
    for (;;) {
        // A signal sets stopRequested without a word to anyone: look again now and then.
        while (!Halted() && next_ < groups && next_ >= taken_ + kAhead) {
            changed_.wait_for(lock, twinrake::kWaitStep);
        }
        if (Halted() || next_ >= groups) {
            changed_.notify_all();
            return;
        }
        const size_t index = next_++;
        Slot& slot = slots_[index % kAhead];
        slot.group = index;
        slot.done = false;
        lock.unlock();
        std::vector<MemberOutcome> outcomes;
        ActOnGroup(state_, state_.groupList[index], options_, outcomes);
        lock.lock();
        slot.outcomes = std::move(outcomes);
        slot.done = true;
        changed_.notify_all();
    }
}

bool GroupActors::Take(size_t index, std::vector<MemberOutcome>& outcomes) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[index % kAhead];
    for (;;) {
        if (index < next_ && slot.group == index && slot.done) {
            break;
        }
        if (index >= next_ && Halted()) {
            return false;  // no thread took it, and none will
        }
        changed_.wait_for(lock, twinrake::kWaitStep);
    }
    outcomes = std::move(slot.outcomes);
    slot.outcomes.clear();
    taken_ = index + 1;
    changed_.notify_all();
    return true;
}

}  // namespace cli
