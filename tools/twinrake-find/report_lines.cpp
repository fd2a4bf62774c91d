// Groups as lines of full paths, one empty line between two groups; or, with --null, every path
// NUL-ended and every group ended by one more NUL. With an action: one line per member acted
// on, "deleted PATH" or "linked PATH => KEPT"; with --null each part NUL-ended instead.
#include <string>

#include "keeping.h"
#include "report.h"

namespace cli {

namespace {

// Before the path of a member below a reference folder, in a listing.
constexpr const char* kReferenceMark = "R ";

class LinesReportWriter final : public Report {
  public:
    LinesReportWriter(Output& out, const Options& options, bool nulEnded)
        : out_(out), options_(options), end_(nulEnded ? '\0' : '\n'), nulEnded_(nulEnded) {}

    void Group(const twinrake::DuplicateGroup& group,
               const std::vector<MemberOutcome>& outcomes) override {
        text_.clear();
        if (options_.action == Action::kNone) {
            Members(group);
        } else {
            Actions(group, outcomes);
        }
        out_.Write(text_);
        first_ = false;
    }

    void Finish(uint64_t, bool) override {}

  private:
    void Members(const twinrake::DuplicateGroup& group) {
        // Text lines separate groups with an empty line; NUL output ends each group.
        if (!first_ && !nulEnded_) {
            text_.push_back('\n');
        }
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            const std::string path = twinrake::FullPath(*member);
            if (BelowReference(options_, path)) {
                // No path printed begins so: every one is absolute.
                text_.append(kReferenceMark);
            }
            text_.append(path);
            text_.push_back(end_);
        }
        if (nulEnded_) {
            text_.push_back('\0');
        }
    }

    void Actions(const twinrake::DuplicateGroup& group,
                 const std::vector<MemberOutcome>& outcomes) {
        const std::string word = ActionWord(options_.action, options_.dryRun);
        // Which copy a link or shared blocks lead to.
        const bool toKept = options_.action == Action::kLink || options_.action == Action::kReflink;
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            const MemberOutcome& outcome = outcomes[static_cast<size_t>(k)];
            if (outcome.done != Done::kActed && outcome.done != Done::kWouldAct) {
                continue;
            }
            text_.append(word);
            text_.push_back(nulEnded_ ? '\0' : ' ');
            text_.append(twinrake::FullPath(*member));
            if (toKept) {
                text_.append(nulEnded_ ? std::string(1, '\0') : std::string(" => "));
                text_.append(twinrake::FullPath(*twinrake::MemberAt(group, outcome.keptBy)));
            }
            text_.push_back(end_);
        }
    }

    Output& out_;
    const Options& options_;
    const char end_;
    const bool nulEnded_;
    bool first_ = true;
    std::string text_;
};

}  // namespace

std::unique_ptr<Report> LinesReport(Output& out, const Options& options, bool nulEnded) {
    return std::make_unique<LinesReportWriter>(out, options, nulEnded);
}

}  // namespace cli
