// The cleanup on a few threads: each takes the next group and acts on its members in order,
// while the caller takes the groups' outcomes back in the groups' order, so that the output is
// the one a single thread gives. The files of two groups are never one file (their contents
// differ), so what one thread does to its group cannot meet what another does to its own.
// The threads keep at most kAhead groups ahead of the caller; on a stop they take no new group,
// and every group one of them took is finished (up to the member in hand) and handed back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "actions.h"
#include "catalogue/engine_state.h"
#include "catalogue/reader_pool.h"
#include "options.h"

namespace cli {

class GroupActors {
  public:
    GroupActors(const twinrake::EngineState& state, const Options& options, size_t threads);
    ~GroupActors();
    GroupActors(const GroupActors&) = delete;
    GroupActors& operator=(const GroupActors&) = delete;

    // The outcomes of the group at `index` (the next one after those already taken), once it
    // is done; false when no thread took it or will: a stop was asked for, or Halt().
    bool Take(size_t index, std::vector<MemberOutcome>& outcomes);
    // No thread takes a group it does not hold yet.
    void Halt();

  private:
    static constexpr size_t kAhead = 64;
    struct Slot {
        size_t group = 0;
        bool done = false;
        std::vector<MemberOutcome> outcomes;
    };

    void Work();
    bool Halted() const { return halted_ || stopRequested != 0; }

    const twinrake::EngineState& state_;
    const Options& options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_{kAhead};
    size_t next_ = 0;   // the first group no thread has taken
    size_t taken_ = 0;  // the first group the caller has not taken back
    bool halted_ = false;
    twinrake::ReaderPool pool_;
};

}  // namespace cli
