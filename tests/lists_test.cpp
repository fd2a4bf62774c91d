#include <gtest/gtest.h>

#include <string>

#include "catalogue/lists.h"

namespace twinrake {
namespace {

TEST(FullPath, JoinsWithExactlyOneSeparator) {
    EXPECT_EQ(FullPath("/data/photos", "bild.jpg"), "/data/photos/bild.jpg");
    // The root folder is kept as the empty directory text.
    EXPECT_EQ(FullPath("", "x.txt"), "/x.txt");
    EXPECT_EQ(FullPath("rel", ""), "rel/");
}

// Bytes that are no valid UTF-8 stay as they are.
const std::string kBadName = "\xff\xfe bad utf-8";

TEST(FileCatalogue, AppendsInOrderAndKeepsBytes) {
    FileCatalogue catalogue;
    EXPECT_EQ(catalogue.Count(), 0);
    auto* a = catalogue.AddDirectory("/a");
    auto* b = catalogue.AddDirectory("/b b");
    catalogue.Append(a, "eins.txt", 1);
    catalogue.Append(b, kBadName, -5);
    catalogue.Append(a, "ä ü .hidden", 0);
    ASSERT_EQ(catalogue.Count(), 3);
    EXPECT_EQ(catalogue[0].name(), "eins.txt");
    EXPECT_EQ(catalogue[0].directory(), "/a");
    EXPECT_EQ(catalogue[1].name(), kBadName);
    EXPECT_EQ(catalogue[1].directory(), "/b b");
    EXPECT_EQ(catalogue[1].size, -5);
    EXPECT_EQ(catalogue[2].name(), "ä ü .hidden");
}

TEST(FileCatalogue, NamesSurviveManyAppendsAndLongNames) {
    FileCatalogue catalogue;
    auto* dir = catalogue.AddDirectory("/d");
    std::string longName(100000, 'n');  // larger than one block of names
    for (int i = 0; i < 20000; ++i) {
        catalogue.Append(dir, "file" + std::to_string(i), i);
        if (i == 777) {
            catalogue.Append(dir, longName, 7);
        }
    }
    ASSERT_EQ(catalogue.Count(), 20001);
    EXPECT_EQ(catalogue[0].name(), "file0");
    EXPECT_EQ(catalogue[778].name(), longName);
    EXPECT_EQ(catalogue[779].name(), "file778");
    EXPECT_EQ(catalogue[20000].name(), "file19999");
    EXPECT_EQ(catalogue[20000].size, 19999);
    // Each name keeps its length in front of it, seven bits a byte: the lengths where one
    // more byte is needed, side by side.
    const std::vector<size_t> lengths = {0, 1, 127, 128, 255, 16383, 16384, 0, 2};
    for (size_t length : lengths) {
        catalogue.Append(dir, std::string(length, static_cast<char>('a' + length % 26)), 1);
    }
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_EQ(catalogue[20001 + i].name(),
                  std::string(lengths[i], static_cast<char>('a' + lengths[i] % 26)));
    }
}

TEST(FileCatalogue, ClearEmptiesAndStartsAgainAtZero) {
    FileCatalogue catalogue;
    catalogue.Clear();  // clearing an empty list changes nothing
    EXPECT_TRUE(catalogue.Empty());
    catalogue.Append(catalogue.AddDirectory("/x"), "old", 1);
    catalogue.Clear();
    EXPECT_EQ(catalogue.Count(), 0);
    EXPECT_EQ(catalogue.begin(), catalogue.end());
    catalogue.Append(catalogue.AddDirectory("/y"), "new", 2);
    ASSERT_EQ(catalogue.Count(), 1);
    EXPECT_EQ(catalogue[0].name(), "new");
    EXPECT_EQ(catalogue[0].directory(), "/y");
}

// Two groups of three members, as a search lays them out.
struct TwoGroups {
    FileCatalogue catalogue;
    MemberList members;
    GroupList groups;
    TwoGroups() {
        const CatalogueFolder* folder = catalogue.AddDirectory("/d");
        for (const char* name : {"a1", "a2", "a3", "b1", "b2", "b3"}) {
            members.emplace_back(catalogue.Append(folder, name, 1));
        }
        groups.push_back({3, members.begin()});
        groups.push_back({3, std::next(members.begin(), 3)});
    }
};

TEST(GroupList, SelectByIndexAtTheEdges) {
    GroupList empty;
    EXPECT_EQ(SelectGroup(empty, 0), nullptr);
    EXPECT_EQ(SelectGroup(empty, -1), nullptr);
    TwoGroups t;
    EXPECT_EQ(SelectGroup(t.groups, -1), nullptr);
    EXPECT_EQ(SelectGroup(t.groups, 0), &t.groups[0]);
    EXPECT_EQ(SelectGroup(t.groups, 1), &t.groups[1]);
    // At or past the count: the last group.
    EXPECT_EQ(SelectGroup(t.groups, 2), &t.groups[1]);
    EXPECT_EQ(SelectGroup(t.groups, 1000), &t.groups[1]);
}

TEST(MemberList, RemovalsKeepOtherGroupsReferencesAndOrder) {
    TwoGroups t;
    EXPECT_EQ(MemberAt(t.groups[1], 2)->name(), "b3");
    // Remove the first member of the first group, as a deletion does.
    auto next = t.members.erase(t.groups[0].firstMember);
    t.groups[0].firstMember = next;
    t.groups[0].memberCount -= 1;
    // Remove the last member of the first group, the neighbour of the second group's first.
    t.members.erase(MemberAt(t.groups[0], 1));
    t.groups[0].memberCount -= 1;
    EXPECT_EQ(CountOf(t.members), 4);
    EXPECT_EQ(t.groups[0].firstMember->name(), "a2");
    EXPECT_EQ(t.groups[1].firstMember->name(), "b1");
    EXPECT_EQ(std::next(t.groups[0].firstMember)->name(), "b1");
    t.groups.erase(t.groups.begin());
    EXPECT_EQ(CountOf(t.groups), 1);
    EXPECT_EQ(MemberAt(t.groups[0], 1)->name(), "b2");
}

}  // namespace
}  // namespace twinrake
