// twinrake-find: the command-line companion. Scans the folders it is given, in that order,
// runs the program's own search, prints the groups, and with an action acts on every member of
// a group but the one it keeps.
#include <algorithm>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "actions.h"
#include "catalogue/engine_state.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "group_actors.h"
#include "messages.h"
#include "options.h"
#include "output.h"
#include "platform/files.h"
#include "progress_line.h"
#include "report.h"
#include "summary.h"

namespace {

// `given` made absolute, in order; each that cannot be is named and left out. Relative folders
// are taken from where the user stands, never from anywhere else: all are made absolute before
// the first scan, which makes the program's own folder current.
std::vector<std::string> Absolute(twinrake::EngineState& state,
                                  const std::vector<std::string>& given) {
    std::vector<std::string> folders;
    for (const std::string& folder : given) {
        std::string absolute;
        if (platform::Error error = platform::AbsolutePath(folder, absolute)) {
            state.passedOver(twinrake::PassedOver{
                folder, "cannot form its absolute path: " + platform::ErrorText(error)});
        } else {
            folders.push_back(std::move(absolute));
        }
    }
    return folders;
}

// Scans the reference folders, then every other folder given, each once, in order; gives how
// many of them could be listed. The references of `options` become absolute.
int ScanFolders(twinrake::EngineState& state, cli::Options& options) {
    options.references = Absolute(state, options.references);
    std::vector<std::string> folders = options.references;
    for (std::string& folder : Absolute(state, options.folders)) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    }
    int listed = 0;
    for (const std::string& folder : folders) {
        // A folder that cannot be listed is named by the scan, through state.passedOver.
        if (twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, folder,
                                 state.passedOver, *state.progress, &options.filter)) {
            ++listed;
        }
    }
    return listed;
}

// The signal that asked the cleanup to stop, 0 for none.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void AskToStop(int signal) {
    stopSignal = signal;
    cli::stopRequested = 1;
}

// While a cleanup runs, Ctrl-C, kill and a closed terminal end it after the member in hand,
// so that no temporary name is left and what was done is reported. A reader that goes away
// (a closed pipe) shows as a failed write, which also ends it.
class StopBetweenMembers {
  public:
    explicit StopBetweenMembers(bool acting) : acting_(acting) {
        if (!acting_) {
            return;
        }
        for (int signal : kSignals) {
            std::signal(signal, AskToStop);
        }
#ifdef SIGPIPE
        std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    // Ends the process by the signal that stopped it, as if it had not been caught.
    void EndAsAsked() const {
        if (!acting_ || stopSignal == 0) {
            return;
        }
        const int signal = stopSignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }

  private:
#ifdef SIGHUP
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
    static constexpr int kSignals[] = {SIGINT, SIGTERM};
#endif
    const bool acting_;
};

// Threads for the cleanup: three per core, since a change mostly waits in the kernel (for the
// journal, for an inode to be freed) rather than runs (on tree b of bench/, 2 cores: --link
// 3.5 s with 2 threads, 2.75 s with 4, 2.25 s with 6); a few groups are done before another
// thread would have started.
size_t CleanupThreads(size_t groups) {
    constexpr size_t kGroupsPerThread = 32;
    constexpr size_t kPerCore = 3;
    return std::max<size_t>(
        1, std::min({twinrake::Cores() * kPerCore, size_t{8}, groups / kGroupsPerThread}));
}

// Prints every group, acting on each first with an action; gives what was done.
cli::ActionTally ReportGroups(const twinrake::EngineState& state, const cli::Options& options,
                              cli::Output& out, bool& stopped) {
    std::unique_ptr<cli::Report> report = cli::MakeReport(out, options);
    const bool acting = options.action != cli::Action::kNone;
    cli::ActionTally tally;
    std::vector<cli::MemberOutcome> outcomes;
    stopped = false;
    std::optional<cli::GroupActors> actors;
    if (acting) {
        actors.emplace(state, options, CleanupThreads(state.groupList.size()));
    }
    for (size_t index = 0; index < state.groupList.size(); ++index) {
        const twinrake::DuplicateGroup& group = state.groupList[index];
        if (acting) {
            // A reader that went away learns nothing of what more would be done; what the
            // threads hold already is still counted.
            if (!out.Good()) {
                actors->Halt();
            }
            if (!actors->Take(index, outcomes)) {
                stopped = true;
                break;
            }
            cli::NameLeftMembers(group, options, outcomes);
            for (const cli::MemberOutcome& outcome : outcomes) {
                tally.acted +=
                    outcome.done == cli::Done::kActed || outcome.done == cli::Done::kWouldAct;
                tally.left += outcome.done == cli::Done::kLeft;
                tally.freed += outcome.freed;
            }
        }
        report->Group(group, outcomes);
    }
    stopped = stopped || cli::stopRequested != 0;
    report->Finish(tally.freed, stopped);
    return tally;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // glibc raises the size from which a block gets a mapping of its own each time such a
    // block is freed; after that, the file lists and digests of large sizes, freed on many
    // reader threads, stay in those threads' heaps. A fixed size gives them back.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    cli::Options options;
    if (int status = cli::ParseOptions(argc, argv, options); status >= 0) {
        return status;
    }
    cli::SetMessagesNulEnded(options.format == cli::Format::kNull);
    twinrake::EngineState state;
    (void)platform::ProgramDirectory(state.programDirectory);
    platform::RaiseOpenFileLimit();
    cli::ProgressLine progress(!options.quiet);
    state.progress = &progress;
    bool passedOver = false;
    state.passedOver = [&](const twinrake::PassedOver& item) {
        passedOver = true;
        progress.Clear();
        cli::Complain(item.path, item.reason);
    };
    if (ScanFolders(state, options) == 0) {
        return cli::kNothingListed;
    }
    twinrake::FindDuplicates(state);
    progress.Clear();

    cli::Output out;
    StopBetweenMembers stop(options.action != cli::Action::kNone);
    bool stopped = false;
    const cli::ActionTally tally = ReportGroups(state, options, out, stopped);
    const bool written = out.Finish();
    if (options.summary) {
        cli::PrintSummary(state.groupList, options, tally);
    }
    if (stopped && written) {
        cli::Say("stopped: what is shown was done; nothing after it was acted on");
    }
    stop.EndAsAsked();
    if (!written) {
        return cli::kWriteError;
    }
    return passedOver || tally.left > 0 ? cli::kPassedOver : cli::kComplete;
}
