// The window on a real X server while a long scan or search runs: it answers the desktop's
// pings, shows what the command tells it, and takes the user's clicks, keys and close requests
// only after the command, in their order. The user and the desktop act from a thread of their
// own through the X server; the program's loop runs on the main thread as it does in the
// program.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "app/controls.h"
#include "platform/posix/test_hooks.h"
#include "results/views.h"
#include "user_session.h"
#include "x_user.h"

namespace {

using namespace std::chrono_literals;
using namespace twinrake;
using namespace qt_test;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

// A group's line with its names in alphabetical order: the catalogue lists a folder in the
// order the file system gives.
std::string Sorted(const std::string& line) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos) {
        return line;
    }
    Strings names;
    for (size_t at = colon + 2; at <= line.size();) {
        size_t end = std::min(line.find(", ", at), line.size());
        names.push_back(line.substr(at, end - at));
        at = end + 2;
    }
    std::sort(names.begin(), names.end());
    std::string sorted = line.substr(0, colon + 1);
    for (const std::string& name : names) {
        sorted += (sorted.back() == ':' ? " " : ", ") + name;
    }
    return sorted;
}

Strings Groups() {
    Strings lines = Lines(LstGroups);
    std::transform(lines.begin(), lines.end(), lines.begin(), Sorted);
    return lines;
}

// The keysyms of X11/keysym.h that the user presses.
constexpr uint32_t kAltLeft = 0xffe9;
constexpr uint32_t kF4 = 0xffc1;

// A desktop pings this often; an answer later than kPingLimit would count as a hang.
constexpr auto kPingEvery = 50ms;
constexpr auto kPingLimit = 250ms;

struct LongCommand : testing::Test {
    void SetUp() override {
        platform::test::SetBeforeWait([this] { ++waits; });
        platform::test::SetFolderAnswer([this](const QString&, const QString&) {
            std::lock_guard lock(mutex);
            pickedWith.push_back({gateOpen.load(), Groups()});
            return pickedWith.size() == 1 ? tree.dir.path() : QString();  // then cancels
        });
        ASSERT_TRUE(StartUp(state));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(NativeWindow()));
        window = static_cast<uint32_t>(NativeWindow()->winId());
        for (int32_t control : {BtnAddFolder, BtnSearch}) {
            QWidget* widget = Widget(control);
            on[control] = widget->mapToGlobal(widget->rect().center());
        }
    }
    void TearDown() override {
        platform::test::SetBeforeWait({});
        platform::test::SetFolderAnswer({});
        platform::test::SetAfterRead({});
        platform::test::SetAfterListing({});
        platform::CloseMainWindow(kMainWindowNumber);
    }

    size_t Picked() {
        std::lock_guard lock(mutex);
        return pickedWith.size();
    }

    // Runs the program's loop here while `user` acts on a thread of its own; the loop ends by
    // the user's close request, or by one sent when `user` is done.
    void Run(std::function<void(XUser&)> user) {
        std::thread desktop([&] {
            XUser x;
            if (!x.Connected()) {
                ADD_FAILURE() << "no X connection";
            } else {
                user(x);
                closedAfter = !loopEnded;
                while (!loopEnded) {
                    x.RequestClose(window);
                    x.Pump(100ms);
                }
                pingTimes = x.PingTimes();
            }
        });
        RunLoop(state);
        loopEnded = true;
        desktop.join();
    }

    // Pings every kPingEvery for `time`, or until `until` holds.
    static void PingFor(
        XUser& x, uint32_t to, Clock::duration time,
        const std::function<bool()>& until = [] { return false; }) {
        for (Clock::time_point end = Clock::now() + time; Clock::now() < end && !until();) {
            x.Ping(to);
            x.Pump(std::chrono::duration_cast<std::chrono::milliseconds>(kPingEvery));
        }
    }

    // The user's click on `control` has been taken and its command has ended: the loop waits
    // again. `started` tells that the command runs.
    void ClickAndAwaitEnd(XUser& x, int32_t control, const std::function<bool()>& started) {
        x.Click(on.at(control));
        PingFor(x, window, 10s, started);
        int inCommand = waits;  // no wait begins while the command runs
        PingFor(x, window, 10s, [&] { return waits != inCommand; });
    }

    void ExpectEveryPingAnswered(size_t atLeast) {
        EXPECT_GE(pingTimes.size(), atLeast);
        auto longest = std::max_element(pingTimes.begin(), pingTimes.end());
        ASSERT_NE(longest, pingTimes.end());
        EXPECT_LE(*longest, kPingLimit) << "of " << pingTimes.size() << " pings";
    }

    Tree tree;
    AppState state;
    uint32_t window = 0;
    std::map<int32_t, QPoint> on;        // where the user clicks on a button, on the screen
    std::atomic<int> waits{0};           // waits begun by the loop
    std::atomic<bool> reading{false};    // the search has read
    std::atomic<bool> gateOpen{false};   // the search's reads may go on
    std::atomic<bool> loopEnded{false};  // RunLoop has returned
    bool closedAfter = false;            // the loop ran on until the user was done
    std::vector<std::chrono::milliseconds> pingTimes;
    std::mutex mutex;
    // For each time the picker opened: whether the search could read, and the group lines.
    std::vector<std::pair<bool, Strings>> pickedWith;
};

// Counts the clicks, keys and close requests that reach any object of the program while `busy`
// holds.
struct InputWatch : QObject {
    explicit InputWatch(std::function<bool()> busyNow) : busy(std::move(busyNow)) {
        qApp->installEventFilter(this);
    }
    ~InputWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Close:
                whileBusy += busy() ? 1 : 0;
                break;
            default:
                break;
        }
        return false;
    }
    std::function<bool()> busy;
    int whileBusy = 0;
};

// What the user does while the search reads, and what must follow from it.
struct DuringSearch {
    const char* name;
    std::function<void(XUser&, const LongCommand&)> act;
    int pickerOpensAfter;  // times the picker opens after the search
    bool endsTheLoop;      // the loop ends without a further close request
};

void PrintTo(const DuringSearch& during, std::ostream* out) {
    *out << during.name;
}

class SearchInput : public LongCommand, public testing::WithParamInterface<DuringSearch> {};

// The search waits at its first read until the user is done, while the desktop pings.
TEST_P(SearchInput, WaitsForTheSearchsEndInOrderWhilePingsAreAnswered) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        tree.Write(name, "Urlaub am See 2019\n");
    }
    tree.Write("d.txt", "Urlaub am See 2020\n");
    const Strings groups = {"3: a.txt, b.txt, c.txt"};
    platform::test::SetAfterRead([&](uint64_t, int64_t) {
        reading = true;
        while (!gateOpen) {
            std::this_thread::sleep_for(1ms);
        }
    });
    const DuringSearch& during = GetParam();
    InputWatch input([&] { return reading && !gateOpen; });
    Run([&](XUser& x) {
        ClickAndAwaitEnd(x, BtnAddFolder, [&] { return Picked() > 0; });
        x.Click(on.at(BtnSearch));
        PingFor(x, window, 10s, [&] { return reading.load(); });
        PingFor(x, window, 300ms);
        during.act(x, *this);
        PingFor(x, window, 1700ms);
        gateOpen = true;
        // Nothing more comes from the X server: what was held must be taken without it.
        for (Clock::time_point end = Clock::now() + 3s;
             Clock::now() < end && !loopEnded && Picked() < 2;) {
            x.Pump(10ms);
        }
    });
    ExpectEveryPingAnswered(25);
    EXPECT_EQ(input.whileBusy, 0) << "input reached the window during the search";
    ASSERT_GE(pickedWith.size(), 1u);
    EXPECT_EQ(static_cast<int>(pickedWith.size()) - 1, during.pickerOpensAfter);
    for (size_t k = 1; k < pickedWith.size(); ++k) {
        EXPECT_TRUE(pickedWith[k].first) << "the picker opened while the search read";
        EXPECT_EQ(pickedWith[k].second, groups);
    }
    EXPECT_EQ(!closedAfter, during.endsTheLoop);
    EXPECT_EQ(Groups(), groups);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
}

const DuringSearch kDuringSearch[] = {
    {"AClick", [](XUser& x, const LongCommand& t) { x.Click(t.on.at(BtnAddFolder)); }, 1, false},
    {"TheCloseBox", [](XUser& x, const LongCommand& t) { x.RequestClose(t.window); }, 0, true},
    {"AltF4", [](XUser& x, const LongCommand&) { x.Chord(kAltLeft, kF4); }, 0, true},
    // Both reach the loop in their order: the click's command runs, then the loop ends.
    {"AClickThenTheCloseBox",
     [](XUser& x, const LongCommand& t) {
         x.Click(t.on.at(BtnAddFolder));
         x.RequestClose(t.window);
     },
     1, true},
    // The close is taken first and ends the loop; the click goes with the window.
    {"TheCloseBoxThenAClick",
     [](XUser& x, const LongCommand& t) {
         x.RequestClose(t.window);
         x.Click(t.on.at(BtnAddFolder));
     },
     0, true},
};

INSTANTIATE_TEST_SUITE_P(LongCommand, SearchInput, testing::ValuesIn(kDuringSearch),
                         [](const testing::TestParamInfo<DuringSearch>& param) {
                             return std::string(param.param.name);
                         });

// What the window held back while a command ran is what the next wait takes first, also when
// nothing more comes from the server to wake it.
TEST_F(LongCommand, InputHeldWhileKeptAliveIsTheNextWaitsEvent) {
    XUser x;
    ASSERT_TRUE(x.Connected());
    x.Click(on.at(BtnSearch));
    for (int pass = 0; pass < 10; ++pass) {  // the program reads the server in its own time
        platform::KeepWindowAlive();
        std::this_thread::sleep_for(20ms);
    }
    bool late = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { late = true; });
    deadline.start(1000);
    int32_t event = 0;
    while (event == 0 && !late) {
        event = platform::WaitForEvent();
    }
    EXPECT_FALSE(late);
    EXPECT_EQ(event, platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
}

// A scan slowed down at every folder: the server shows "Alle Dateien (k)" with k growing
// while it runs, and the final count after it.
TEST_F(LongCommand, ScanShowsItsRunningCountWhilePingsAreAnswered) {
    constexpr int kFolders = 30;
    constexpr int kFilesEach = 4;
    for (int folder = 0; folder < kFolders; ++folder) {
        for (int file = 0; file < kFilesEach; ++file) {
            tree.Write(QString("f%1/%2.txt").arg(folder).arg(file), QByteArray(file + 1, 'x'));
        }
    }
    platform::test::SetAfterListing([](const std::string&) { std::this_thread::sleep_for(30ms); });
    QLabel* label = qobject_cast<QLabel*>(Widget(LblAllFiles));
    ASSERT_NE(label, nullptr);
    const QRect box = label->geometry();
    std::vector<std::vector<uint32_t>> shown;  // what the server showed of the caption, in turn
    std::vector<uint32_t> after;
    Run([&](XUser& x) {
        x.Click(on.at(BtnAddFolder));
        PingFor(x, window, 10s, [&] { return Picked() > 0; });
        int inCommand = waits;
        for (Clock::time_point next = Clock::now(); waits == inCommand;) {
            if (Clock::now() >= next) {
                x.Ping(window);
                next += kPingEvery;
            }
            std::vector<uint32_t> pixels = x.Pixels(window, box);
            if (shown.empty() || pixels != shown.back()) {
                shown.push_back(std::move(pixels));
            }
            x.Pump(10ms);
        }
        PingFor(x, window, 200ms);
        after = x.Pixels(window, box);
    });
    ExpectEveryPingAnswered(10);
    // Which count each picture shows, drawn by the label itself.
    const int total = kFolders * kFilesEach;
    auto picture = [&](int count) {
        label->setText(QString::fromStdString(CaptionWithCount(kAllFilesCaption, count)));
        QImage image = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                pixels.push_back(image.pixel(x, y) & 0xFFFFFFu);
            }
        }
        return pixels;
    };
    std::map<std::vector<uint32_t>, int> countOf;
    for (int count = 0; count <= total; ++count) {
        countOf.emplace(picture(count), count);
    }
    std::vector<int> counts;  // the counts the server showed during the scan, in turn
    for (const std::vector<uint32_t>& pixels : shown) {
        if (auto found = countOf.find(pixels); found != countOf.end()) {
            counts.push_back(found->second);
        }
    }
    auto running = std::count_if(counts.begin(), counts.end(), [&](int n) { return n < total; });
    EXPECT_GE(running, 2) << "of " << shown.size() << " pictures";
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()) &&
                std::adjacent_find(counts.begin(), counts.end()) == counts.end());
    EXPECT_EQ(countOf[after], total);
}

}  // namespace
