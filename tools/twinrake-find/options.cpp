#include "options.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "output.h"

#ifndef TWINRAKE_VERSION
#define TWINRAKE_VERSION "unknown"
#endif

namespace cli {

namespace {

const char* const kUsageLine = "Usage: twinrake-find [OPTION]... FOLDER...\n";

const char* const kHelp =
    "Usage: twinrake-find [OPTION]... FOLDER...\n"
    "\n"
    "Finds files with identical content below the given folders and prints each group of\n"
    "duplicates as its members' full paths, one per line, groups separated by an empty line.\n"
    "The first path of a group is the copy found first: folders are scanned in the order\n"
    "given, and a folder's files in the order the file system lists them. A file is only\n"
    "grouped after every byte has been compared; two names of one physical file (a folder\n"
    "given twice, a hard link) never count as duplicates. Without an action, nothing is\n"
    "deleted or changed.\n"
    "\n"
    "Options:\n"
    "  -0, --null     end every path with a NUL byte instead of a newline, and every\n"
    "                 group with one more NUL byte\n"
    "  -j, --json     print one JSON document instead (see below)\n"
    "  -s, --summary  then print one line on standard error: the number of groups and\n"
    "                 files, the bytes they hold, and the bytes that deleting all but the\n"
    "                 first file of each group would free (with an action: what it freed)\n"
    "  -q, --quiet    show no progress line; one is shown on standard error only while\n"
    "                 it is a terminal, and cleared at the end\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             end the options: every later argument is a folder, even one that\n"
    "                 starts with '-'\n"
    "\n"
    "What is searched:\n"
    "  -R, --reference FOLDER  search FOLDER too, first, and never act on a file below it:\n"
    "                 a group with such a file keeps it and loses its other copies; any\n"
    "                 other group (none of them, or nothing else) is left as it is;\n"
    "                 listed, such a file is marked 'R ' (repeatable)\n"
    "  --min-size SIZE, --max-size SIZE\n"
    "                 leave out files smaller or larger than SIZE bytes (K, M, G, T after\n"
    "                 the number: KiB, MiB, GiB, TiB)\n"
    "  --exclude GLOB leave out every file and folder whose name, or whose path below the\n"
    "                 folder given, matches GLOB ('*', '?', '[...]', '**' across folders;\n"
    "                 repeatable)\n"
    "  --no-hidden    leave out names that begin with '.', and all below such folders\n"
    "What is left out is never read, listed or acted on.\n"
    "\n"
    "Actions keep one file of every group and act on the others. Which one: one below a\n"
    "reference folder where there is one; else by --keep RULE: 'first' (the default: the\n"
    "copy found first, so the order of the folders decides: 'twinrake-find --delete keep/\n"
    "other/' keeps what lies in keep/), 'newest' (the latest last write), 'oldest' (the\n"
    "earliest), 'shortest-path' (the fewest bytes in its path); ties go to the copy found\n"
    "first, and a temporary name a killed run left is never kept. Every other member is\n"
    "acted on only while it is still the very file that was compared (its folder,\n"
    "identity, length, last write and last change), nobody holds it open for writing, and\n"
    "the kept file is still the file compared and a separate file with the same bytes; a\n"
    "name is removed only once the file stepped aside to a temporary name and was found\n"
    "there to be the member:\n"
    "  --delete       delete it (a write-protected file stays)\n"
    "  --trash        move it to the desktop's trash instead, where a file manager restores\n"
    "                 it from (Linux: the freedesktop.org trash of its own file system;\n"
    "                 Windows: the Recycle Bin)\n"
    "  --link         replace it by a hard link to the kept file, on one mount only; a kept\n"
    "                 file with every name its file system allows is followed by the next\n"
    "  --reflink      let the file system share the kept file's blocks with it, comparing\n"
    "                 the bytes itself (Linux, where the file system can: XFS, Btrfs); it\n"
    "                 keeps its own identity, owner, rights and times\n"
    "  -n, --dry-run  say what the action would do, making every check the real run makes\n"
    "                 but changing nothing\n"
    "Each member acted on gets one line on standard output ('deleted PATH', 'trashed\n"
    "PATH', 'linked PATH => KEPT', 'reflinked PATH => KEPT'; 'would delete PATH' and so on\n"
    "with --dry-run; with --null each part ends with a NUL byte instead). A member left\n"
    "alone is named on standard error with the reason ('would not delete' in a dry run), a\n"
    "path with a control character quoted as ls quotes it (with --null: as it is,\n"
    "NUL-ended). Ctrl-C, SIGTERM and SIGHUP stop a cleanup after the member in hand and\n"
    "report what was done.\n"
    "\n"
    "JSON: {\"groups\":[{\"size\":BYTES,\"members\":[MEMBER,...]},...]}, one group per line,\n"
    "in the order above; \"size\" is the length of each member in bytes. A MEMBER is\n"
    "{\"path\":TEXT} when the path is valid UTF-8 (on Windows: when it converts from the\n"
    "ANSI code page), else {\"path_base64\":TEXT}, the path's bytes in base64 (RFC 4648).\n"
    "With an action, each MEMBER also has \"action\" (\"kept\", \"deleted\", \"linked\",\n"
    "\"reflinked\", \"trashed\", \"would delete\", ..., \"left\" with a \"reason\", \"reference\"\n"
    "or \"not reached\"), a linked member the \"kept_index\" of the member it shares with,\n"
    "and the document ends with \"freed\":BYTES (with --dry-run, what the action would\n"
    "free; with --trash \"trashed\":BYTES instead). A member below a reference folder also\n"
    "has \"reference\":true.\n"
    "\n"
    "Relative folders are taken from the current directory; every path printed is\n"
    "absolute. A folder that cannot be listed (or leads back to a folder above it),\n"
    "a file that cannot be read (also each file of a folder that may be listed but not\n"
    "entered), a relative folder whose absolute path cannot be formed, and a file that\n"
    "changed while it was read are named on standard error as\n"
    "'twinrake-find: PATH: REASON' and passed over.\n"
    "\n"
    "Exit status:\n"
    "  0   the result is complete, and every action was done\n"
    "  1   something was passed over or left alone; the result may be incomplete\n"
    "  2   none of the folders could be listed\n"
    "  64  usage error: an unknown option, no folder, an empty folder argument, an\n"
    "      action this platform cannot do, an unknown --keep rule, a size that does not\n"
    "      parse, two actions at once\n"
    "  74  the output could not be written\n";

int UsageError(const char* message) {
    if (message != nullptr) {
        std::fprintf(stderr, "twinrake-find: %s\n", message);
    }
    std::fputs(kUsageLine, stderr);
    std::fputs("Try 'twinrake-find --help' for more information.\n", stderr);
    return kUsageError;
}

int PrintAndExit(const char* text) {
    Output out;
    out.Write(text);
    return out.Finish() ? kComplete : kWriteError;
}

// Long options only for what changes the disk: no stray letter deletes anything.
enum LongOnly {
    kDeleteOption = 256,
    kLinkOption,
    kReflinkOption,
    kTrashOption,
    kKeepOption,
    kMinSizeOption,
    kMaxSizeOption,
    kExcludeOption,
    kNoHiddenOption,
};

const option kOptions[] = {
    {"null", no_argument, nullptr, '0'},
    {"json", no_argument, nullptr, 'j'},
    {"summary", no_argument, nullptr, 's'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"reference", required_argument, nullptr, 'R'},
    {"keep", required_argument, nullptr, kKeepOption},
    {"min-size", required_argument, nullptr, kMinSizeOption},
    {"max-size", required_argument, nullptr, kMaxSizeOption},
    {"exclude", required_argument, nullptr, kExcludeOption},
    {"no-hidden", no_argument, nullptr, kNoHiddenOption},
    {"delete", no_argument, nullptr, kDeleteOption},
    {"link", no_argument, nullptr, kLinkOption},
    {"reflink", no_argument, nullptr, kReflinkOption},
    {"trash", no_argument, nullptr, kTrashOption},
    {"dry-run", no_argument, nullptr, 'n'},
    {nullptr, 0, nullptr, 0},
};
const char* const kShortOptions = "0jsqhVnR:";

// What the options said that is only checked once all of them are read.
struct Said {
    bool null = false;
    bool json = false;
    int actions = 0;  // different actions asked for
};

// A size: a number of bytes, or of KiB, MiB, GiB or TiB with K, M, G or T after it (an "iB"
// or "B" after that is allowed). False for anything else, and for a size past 2^63 bytes.
bool ParseSize(const char* text, int64_t& size) {
    const std::string_view given(text);
    size_t at = 0;
    uint64_t number = 0;
    for (; at < given.size() && given[at] >= '0' && given[at] <= '9'; ++at) {
        if (number > (UINT64_MAX - 9) / 10) {
            return false;
        }
        number = number * 10 + static_cast<uint64_t>(given[at] - '0');
    }
    if (at == 0) {
        return false;
    }
    int shift = 0;
    if (at < given.size()) {
        const std::string_view unit = "KMGT";
        const size_t found = unit.find(static_cast<char>(given[at] & ~0x20));
        if (found != std::string_view::npos) {
            shift = 10 * static_cast<int>(found + 1);
            ++at;
        }
    }
    const std::string_view rest = given.substr(at);
    if (!(rest.empty() || rest == "B" || (shift > 0 && (rest == "iB" || rest == "ib")))) {
        return false;
    }
    if (number > (uint64_t{INT64_MAX} >> shift)) {
        return false;
    }
    size = static_cast<int64_t>(number << shift);
    return true;
}

int TakeKeep(const char* rule, Options& options) {
    static const struct {
        const char* name;
        Keep keep;
    } kRules[] = {{"first", Keep::kFirst},
                  {"newest", Keep::kNewest},
                  {"oldest", Keep::kOldest},
                  {"shortest-path", Keep::kShortestPath}};
    for (const auto& known : kRules) {
        if (std::string_view(rule) == known.name) {
            options.keep = known.keep;
            return -1;
        }
    }
    return UsageError(
        ("--keep: '" + std::string(rule) + "' is none of first, newest, oldest, shortest-path")
            .c_str());
}

int TakeSize(const char* option, const char* text, int64_t& size) {
    if (ParseSize(text, size)) {
        return -1;
    }
    return UsageError((std::string(option) + ": '" + text +
                       "' is no size (a number of bytes, or with K, M, G or T after it)")
                          .c_str());
}

// The options that name what the search looks at, and how it keeps; -1 to go on, 0 when
// `choice` is none of them, else a usage error's status.
int TakeSearchOption(int choice, const char* argument, Options& options) {
    switch (choice) {
        case 'R':
            if (*argument == '\0') {
                return UsageError("an empty reference folder name names no folder");
            }
            options.references.emplace_back(argument);
            return -1;
        case kKeepOption:
            return TakeKeep(argument, options);
        case kMinSizeOption:
            return TakeSize("--min-size", argument, options.filter.minSize);
        case kMaxSizeOption:
            return TakeSize("--max-size", argument, options.filter.maxSize);
        case kExcludeOption:
            options.filter.excludes.emplace_back(argument);
            return -1;
        case kNoHiddenOption:
            options.filter.noHidden = true;
            return -1;
        default:
            return 0;
    }
}

// Takes one option; gives -1 to go on, or the status to end with at once.
int TakeOption(int choice, const char* argument, Options& options, Said& said) {
    if (int status = TakeSearchOption(choice, argument, options); status != 0) {
        return status;
    }
    switch (choice) {
        case '0':
            said.null = true;
            return -1;
        case 'j':
            said.json = true;
            return -1;
        case 's':
            options.summary = true;
            return -1;
        case 'q':
            options.quiet = true;
            return -1;
        case 'n':
            options.dryRun = true;
            return -1;
        case kDeleteOption:
        case kLinkOption:
        case kReflinkOption:
        case kTrashOption: {
            Action action = choice == kDeleteOption  ? Action::kDelete
                            : choice == kLinkOption  ? Action::kLink
                            : choice == kTrashOption ? Action::kTrash
                                                     : Action::kReflink;
            said.actions += options.action != action ? 1 : 0;
            options.action = action;
            return -1;
        }
        case 'h':
            return PrintAndExit(kHelp);
        case 'V':
            return PrintAndExit("twinrake-find " TWINRAKE_VERSION "\n");
        default:
            return UsageError(nullptr);  // getopt has said what was wrong
    }
}

// Checks what the options ask for together; -1, or a usage error's status.
int CheckTogether(const Options& options, const Said& said) {
    if (said.null && said.json) {
        return UsageError("--null and --json cannot be combined");
    }
    if (said.actions > 1) {
        return UsageError("--delete, --link, --reflink and --trash cannot be combined");
    }
    if (options.dryRun && options.action == Action::kNone) {
        return UsageError("--dry-run needs --delete, --link, --reflink or --trash");
    }
    if (options.filter.maxSize >= 0 && options.filter.minSize > options.filter.maxSize) {
        return UsageError("--min-size is larger than --max-size");
    }
#ifdef _WIN32
    if (options.action == Action::kReflink) {
        return UsageError("--reflink is not on this platform: Windows shares no blocks");
    }
#endif
    return -1;
}

// Takes the operands, every one a folder; -1, or a usage error's status.
int TakeFolders(int first, int argc, char** argv, Options& options) {
    if (first >= argc && options.references.empty()) {
        return UsageError("no folder given");
    }
    for (int i = first; i < argc; ++i) {
        // An unset variable in a script ("$DIR") must not mean the whole file system.
        if (argv[i][0] == '\0') {
            return UsageError("an empty folder name names no folder");
        }
        options.folders.emplace_back(argv[i]);
    }
    return -1;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& options) {
    // getopt names the program in its messages by argv[0]; a build path would be noise.
    static char name[] = "twinrake-find";
    if (argc > 0) {
        argv[0] = name;
    }
    Said said;
    for (int choice = 0;
         (choice = getopt_long(argc, argv, kShortOptions, kOptions, nullptr)) != -1;) {
        if (int status = TakeOption(choice, optarg, options, said); status >= 0) {
            return status;
        }
    }
    if (int status = CheckTogether(options, said); status >= 0) {
        return status;
    }
    if (int status = TakeFolders(optind, argc, argv, options); status >= 0) {
        return status;
    }
    options.format = said.json ? Format::kJson : said.null ? Format::kNull : Format::kLines;
    return -1;
}

}  // namespace cli
