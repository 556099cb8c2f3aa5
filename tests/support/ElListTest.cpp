#include "support/ElList.h"

#include <gtest/gtest.h>

#include <vector>

namespace cantorell {
namespace {

void* Item(intptr_t n) {
    return reinterpret_cast<void*>(n);
}

// Records every delete notification, in order.
struct TDeleteLog {
    std::vector<void*> Items;
    void Attach(TElList& list) {
        list.OnDelete = [this](TElList&, void* item) { Items.push_back(item); };
    }
};

TEST(ElList, GrowsByTwiceTheCountPlusOneUpTo1280Slots) {
    TElList list;
    std::vector<int32_t> capacities;
    for (int i = 0; i < 3653; ++i) {
        const int32_t before = list.Capacity();
        list.Add(Item(i + 1));
        if (list.Capacity() != before)
            capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{1, 4, 13, 40, 121, 364, 1093, 2373, 3653}));
    EXPECT_EQ(list.Count(), 3653);
    EXPECT_EQ(list.Get(3652), Item(3653));
}

TEST(ElList, ShrinksToHalfWhenFewerThanHalfTheSlotsAreUsed) {
    TElList list;
    for (int i = 0; i < 40; ++i)
        list.Add(Item(i + 1));
    ASSERT_EQ(list.Capacity(), 40);
    std::vector<int32_t> capacities;
    while (list.Count() > 0) {
        const int32_t before = list.Capacity();
        list.Delete(list.Count() - 1);
        if (list.Capacity() != before)
            capacities.push_back(list.Count());
    }
    // 40 -> 20 when 19 are left, -> 10 at 9, -> 5 at 4, -> 2 at 1, -> 1 at 0.
    EXPECT_EQ(capacities, (std::vector<int32_t>{19, 9, 4, 1, 0}));
    EXPECT_EQ(list.Capacity(), 1);
}

TEST(ElList, OutOfBoundsIndexRaisesListErrorNamingTheIndex) {
    TElList list;
    list.Add(Item(1));
    list.Add(Item(2));
    try {
        list.Get(2);
        FAIL() << "Get(Count) must throw";
    } catch (const EElListError& error) {
        EXPECT_STREQ(error.what(), "List index [2] out of bounds...");
        EXPECT_EQ(error.Index(), 2);
    }
    EXPECT_THROW(list.Get(-1), EElListError);
    EXPECT_THROW(list.Put(2, Item(3)), EElListError);
    EXPECT_THROW(list.Delete(5), EElListError);
    EXPECT_THROW(list.SetCapacity(1), EElListError); // below Count
    EXPECT_THROW(list.SetCapacity(TElList::MaxListSize + 1), EElListError);
    EXPECT_THROW(list.SetCount(-1), EElListError);
    EXPECT_EQ(list.Count(), 2);
}

TEST(ElList, DeleteRangeChecksFirstThenLastAndNotifiesEachItemInOrder) {
    TDeleteLog log; // outlives the list, whose destruction notifies too
    TElList list;
    log.Attach(list);
    for (int i = 1; i <= 6; ++i)
        list.Add(Item(i));
    try {
        list.DeleteRange(6, 7);
        FAIL();
    } catch (const EElListError& error) {
        EXPECT_EQ(error.Index(), 6);
    }
    try {
        list.DeleteRange(2, 1);
        FAIL();
    } catch (const EElListError& error) {
        EXPECT_EQ(error.Index(), 1);
    }
    list.DeleteRange(1, 3);
    EXPECT_EQ(log.Items, (std::vector<void*>{Item(2), Item(3), Item(4)}));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Get(0), Item(1));
    EXPECT_EQ(list.Get(1), Item(5));
    EXPECT_EQ(list.Get(2), Item(6));
}

TEST(ElList, RemoveTakesTheFirstOccurrenceAndIgnoresMissingItems) {
    TDeleteLog log; // outlives the list, whose destruction notifies too
    TElList list;
    log.Attach(list);
    list.Add(Item(1));
    list.Add(Item(2));
    list.Add(Item(1));
    EXPECT_EQ(list.Remove(Item(9)), -1);
    EXPECT_TRUE(log.Items.empty());
    EXPECT_EQ(list.Remove(Item(1)), 0);
    EXPECT_EQ(log.Items, std::vector<void*>{Item(1)});
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0), Item(2));
    EXPECT_EQ(list.Get(1), Item(1));
}

TEST(ElList, PutNotifiesTheReplacedItemButNotANullSlot) {
    TDeleteLog log; // outlives the list, whose destruction notifies too
    TElList list;
    log.Attach(list);
    list.SetCount(2);
    EXPECT_EQ(list.Get(1), nullptr);
    list.Put(1, Item(7));
    EXPECT_TRUE(log.Items.empty());
    list.Put(1, Item(8));
    EXPECT_EQ(log.Items, std::vector<void*>{Item(7)});
    EXPECT_EQ(list.Get(1), Item(8));
}

TEST(ElList, ClearAndDestructionFreeOwnedItemsExactlyOnce) {
    struct TOwned {
        int* Frees;
        ~TOwned() { ++*Frees; }
    };
    int frees = 0;
    {
        TElList list;
        list.OnDelete = [](TElList&, void* item) { delete static_cast<TOwned*>(item); };
        for (int i = 0; i < 5; ++i)
            list.Add(new TOwned{&frees});
        list.Clear();
        EXPECT_EQ(frees, 5);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.Capacity(), 0);
        for (int i = 0; i < 3; ++i)
            list.Add(new TOwned{&frees});
    }
    EXPECT_EQ(frees, 8);
}

TEST(ElList, AutoClearObjectsFreesThroughTheFreeHandlerButDeleteRangeDoesNot) {
    static std::vector<void*> freed;
    freed.clear();
    TElList list;
    list.AutoClearObjects = true;
    list.FreeObject = [](void* item) { freed.push_back(item); };
    for (int i = 1; i <= 4; ++i)
        list.Add(Item(i));
    list.Delete(0);
    EXPECT_EQ(freed, std::vector<void*>{Item(1)});
    list.DeleteRange(0, 0);
    EXPECT_EQ(freed.size(), 1u);
    list.Add(nullptr);
    list.Clear();
    EXPECT_EQ(freed, (std::vector<void*>{Item(1), Item(3), Item(4)}));
}

TEST(ElList, AssignCopiesReferencesAfterClearing) {
    TDeleteLog log;
    TElList source, target;
    log.Attach(target);
    source.Add(Item(1));
    source.Add(Item(2));
    target.Add(Item(9));
    target.Assign(source);
    EXPECT_EQ(log.Items, std::vector<void*>{Item(9)});
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Capacity(), source.Capacity());
    EXPECT_EQ(target.Get(0), Item(1));
    EXPECT_EQ(target.Get(1), Item(2));
}

TEST(ElList, SetCountFillsNewSlotsWithNullAndCutsWithoutNotifying) {
    TDeleteLog log; // outlives the list, whose destruction notifies too
    TElList list;
    log.Attach(list);
    list.Add(Item(1));
    list.SetCount(3);
    EXPECT_EQ(list.Capacity(), 3);
    EXPECT_EQ(list.Get(2), nullptr);
    list.SetCount(1);
    EXPECT_TRUE(log.Items.empty());
    list.SetCount(2);
    EXPECT_EQ(list.Get(1), nullptr);
}

} // namespace
} // namespace cantorell
