// How far a long command has got, told to whoever watches it: the window (its two bars, a
// running count in a caption, and moments in which it keeps itself alive), the progress line
// of twinrake-find on a terminal, or a test. The scan, the search and the deletions call it
// from the thread that runs the command, and often: never more than a few milliseconds of
// work apart. Calls are cheap; the watcher decides what is worth showing, and when.
#pragma once

#include <cstdint>

namespace twinrake {

class Progress {
  public:
    virtual ~Progress() = default;

    // A scan begins; the catalogue already holds `catalogued` entries.
    virtual void ScanBegins(int64_t /*catalogued*/) {}
    // The catalogue holds `catalogued` entries now.
    virtual void Catalogued(int64_t /*catalogued*/) {}

    // A search begins; it has the files of `sizes` sizes to read.
    virtual void SearchBegins(int64_t /*sizes*/) {}
    // The files of `sizes` of those sizes have been read.
    virtual void SizesRead(int64_t /*sizes*/) {}
    // How far the search has got, in whole percent: through the whole search (the share of
    // catalogued files whose turn has come), and through the current size (the reading of
    // the size under way).
    virtual void WholeSearchShare(int32_t /*percent*/) {}
    virtual void CurrentSizeShare(int32_t /*percent*/) {}

    // Nothing new to tell, but the command still runs.
    virtual void StillRunning() {}
};

// The watcher of commands nobody watches: it does nothing.
inline Progress& Unwatched() {
    static Progress nobody;
    return nobody;
}

}  // namespace twinrake
