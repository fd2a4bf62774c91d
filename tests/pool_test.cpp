// The one pool of reader threads and the one policy for a lack of descriptors, which the scan
// and the search share: how many threads the disk wants, that no more are started, that the
// threads started by threads are joined too, and how long a shortage is waited out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "catalogue/descriptor_shortage.h"
#include "catalogue/reader_pool.h"

namespace twinrake {
namespace {

// Tells `pace` one round of answers of which every other waited for the disk.
void SlowRound(DiskPace& pace) {
    for (uint32_t k = 0; k < DiskPace::kRound; ++k) {
        pace.Note(k % 2 == 0);
    }
}

TEST(ReaderPoolTest, AsManyThreadsAsTheDiskWants) {
    const ReaderCounts counts{3, 12};
    const struct {
        const char* what;
        bool spinning;
        size_t fixed;
        bool slowDisk;
        size_t wanted;
    } kCases[] = {
        {"from memory", false, 0, false, 3},
        {"waiting for the disk", false, 0, true, 12},
        {"a disk that turns", true, 0, true, 1},
        {"a fixed count", false, 5, false, 5},
        {"a fixed count, slow disk", false, 5, true, 5},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::atomic<int> ran{0};
        ReaderPool pool(
            counts, c.spinning, [&] { ++ran; }, c.fixed);
        int grown = 0;
        pool.WhenWaiting([&] { ++grown; });
        if (c.slowDisk) {
            SlowRound(pool.Pace());
            SlowRound(pool.Pace());  // a second round tells nothing new
        }
        EXPECT_EQ(grown, c.slowDisk ? 1 : 0);
        EXPECT_EQ(pool.Wanted(), c.wanted);
        pool.StartUpTo(100);
        EXPECT_EQ(pool.Started(), c.wanted);
        pool.StartUpTo(1);  // never fewer than started, never more than wanted
        EXPECT_EQ(pool.Started(), c.wanted);
        pool.Join();
        EXPECT_EQ(ran.load(), static_cast<int>(c.wanted));
    }
}

// Once the disk set the pace it does for good, but whether it does now follows each round: a
// quarter of a round waiting is enough, less is not.
TEST(DiskPaceTest, WaitingStaysWaitingNowFollowsTheLastRound) {
    DiskPace pace;
    const struct {
        uint32_t waited;  // of a round's answers
        bool waiting;
        bool waitingNow;
    } kRounds[] = {{15, false, false}, {16, true, true}, {0, true, false},
                   {15, true, false},  {64, true, true}, {0, true, false}};
    for (const auto& round : kRounds) {
        for (uint32_t k = 0; k < DiskPace::kRound; ++k) {
            pace.Note(k < round.waited);
        }
        EXPECT_EQ(pace.Waiting(), round.waiting) << round.waited;
        EXPECT_EQ(pace.WaitingNow(), round.waitingNow) << round.waited;
    }
}

// A thread that finds the disk slow starts the others; Join waits for those too.
TEST(ReaderPoolTest, ThreadsStartedByThreadsAreJoined) {
    std::atomic<int> ran{0};
    ReaderPool* self = nullptr;
    ReaderPool pool(ReaderCounts{1, 4}, false, [&] {
        if (ran++ == 0) {
            SlowRound(self->Pace());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    self = &pool;
    pool.WhenWaiting([&] { pool.StartUpTo(pool.Wanted()); });
    pool.StartUpTo(pool.Wanted());
    pool.Join();
    EXPECT_EQ(ran.load(), 4);
}

TEST(DescriptorShortageTest, WaitsOutAShortageOnlyAsLongAsNobodyGetsAnywhere) {
    DescriptorShortage shortage(std::chrono::milliseconds(300));
    EXPECT_FALSE(shortage.GivenUp());
    EXPECT_TRUE(shortage.Patient());  // the patience begins
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(shortage.Patient());
    shortage.Progressed();  // someone got a descriptor: it begins afresh
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(shortage.Patient());
    EXPECT_FALSE(shortage.GivenUp());
    std::this_thread::sleep_for(std::chrono::milliseconds(320));
    EXPECT_TRUE(shortage.GivenUp());
    EXPECT_FALSE(shortage.Patient());
    shortage.Progressed();
    EXPECT_FALSE(shortage.GivenUp());
}

}  // namespace
}  // namespace twinrake
