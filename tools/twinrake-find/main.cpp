// twinrake-find: the command-line companion. Scans the folders it is given, in that order,
// runs the program's own search, prints the groups, and with an action acts on every member of
// a group but the first.
#include <string>
#include <vector>

#include "actions.h"
#include "app/state.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "options.h"
#include "output.h"
#include "platform/files.h"
#include "progress_line.h"
#include "report.h"
#include "summary.h"

namespace {

// Scans every folder given, in order; gives how many of them could be listed. Relative folders
// are taken from where the user stands, never from anywhere else: all are made absolute before
// the first scan, which makes the program's own folder current.
int ScanFolders(twinrake::AppState& state, const std::vector<std::string>& given) {
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
    int listed = 0;
    for (const std::string& folder : folders) {
        // A folder that cannot be listed is named by the scan, through state.passedOver.
        if (twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, folder, "*.*", 0,
                                 state.passedOver, *state.progress)) {
            ++listed;
        }
    }
    return listed;
}

}  // namespace

int main(int argc, char** argv) {
    cli::Options options;
    if (int status = cli::ParseOptions(argc, argv, options); status >= 0) {
        return status;
    }
    twinrake::AppState state;
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
    if (ScanFolders(state, options.folders) == 0) {
        return cli::kNothingListed;
    }
    twinrake::FindDuplicates(state);
    progress.Clear();

    cli::Output out;
    std::unique_ptr<cli::Report> report = cli::MakeReport(out, options);
    cli::ActionTally tally;
    std::vector<cli::MemberOutcome> outcomes;
    for (const twinrake::DuplicateGroup& group : state.groupList) {
        if (options.action != cli::Action::kNone) {
            cli::ActOnGroup(state, group, options, outcomes);
            for (const cli::MemberOutcome& outcome : outcomes) {
                tally.acted +=
                    outcome.done == cli::Done::kActed || outcome.done == cli::Done::kWouldAct;
                tally.left += outcome.done == cli::Done::kLeft;
                tally.freed += outcome.freed;
            }
        }
        report->Group(group, outcomes);
    }
    report->Finish(tally.freed);
    if (!out.Finish()) {
        return cli::kWriteError;
    }
    if (options.summary) {
        cli::PrintSummary(state.groupList, options, tally);
    }
    return passedOver || tally.left > 0 ? cli::kPassedOver : cli::kComplete;
}
