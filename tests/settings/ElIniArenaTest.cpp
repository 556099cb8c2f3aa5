#include "settings/ElIniArena.h"
#include "IniTestHelpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace cantorell {
namespace {

using test::LoadText;
using test::StringOf;

// Arrays past the huge page size move from the heap to mappings of their own and between
// mappings as they grow; every item must come along.
TEST(ElBlockAllocator, AnArrayGrowingPastTheHugePageSizeKeepsEveryItem) {
    constexpr uint32_t count = 3 * HugePageBytes / sizeof(uint32_t) + 7;
    TElBlockVector<uint32_t> items;
    for (uint32_t i = 0; i < count; ++i)
        items.push_back(i * 2654435761u);
    uint32_t wrong = 0;
    for (uint32_t i = 0; i < count; ++i)
        wrong += items[i] != i * 2654435761u;
    EXPECT_EQ(wrong, 0u);
}

std::string LongText(int i) {
    return "a text too long to live inside its string " + std::to_string(i);
}

// Nodes of removed values and cleared keys are reused by later ones, a load frees the
// tree's memory at once, and each store's tree has memory of its own: none of that may
// change a value that is still there.
TEST(ElIniArena, ReusedAndFreedNodeMemoryLeavesTheLiveValuesIntact) {
    constexpr int count = 20000; // beyond the first chunks, into mapped ones
    auto first = std::make_unique<TElIniFile>();
    TElIniFile second;
    for (int i = 0; i < count; ++i) {
        const std::string name = "v" + std::to_string(i);
        ASSERT_TRUE(first->WriteString("\\Keep", name, LongText(i)));
        ASSERT_TRUE(first->WriteString("\\Gone", name, LongText(-i)));
        ASSERT_TRUE(second.WriteString("\\Other", name, LongText(i)));
    }
    ASSERT_TRUE(first->ClearKey("\\Gone"));
    for (int i = 0; i < count; i += 50)
        ASSERT_TRUE(first->Delete("\\Keep", "v" + std::to_string(i)));
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(first->WriteString("\\New", "n" + std::to_string(i), LongText(2 * i)));
    ASSERT_TRUE(first->RenameKey("\\New", "Renamed"));
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        const std::string index = std::to_string(i);
        wrong += StringOf(*first, "\\Keep", "v" + index) != (i % 50 ? LongText(i) : "<none>");
        wrong += StringOf(*first, "\\Renamed", "n" + index) != LongText(2 * i);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(first->GetValueEntry("\\", "Gone")->ChildCount(), 0);

    first.reset();
    LoadText(second, "[Other]\r\nv1=again\r\n");
    EXPECT_EQ(StringOf(second, "\\Other", "v1"), "again");
    EXPECT_EQ(StringOf(second, "\\Other", "v2"), "<none>");
    ASSERT_TRUE(second.WriteString("\\Other", "v2", LongText(2)));
    EXPECT_EQ(StringOf(second, "\\Other", "v2"), LongText(2));
}

std::string BigKeyText(const std::string& prefix, int count) {
    std::string text = "[Big]\r\n";
    for (int i = 0; i < count; ++i)
        text += "v" + std::to_string(i) + "=" + prefix + LongText(i) + "\r\n";
    return text;
}

// A freed tree's large chunks are kept for the next trees: two trees alive at once must
// never be handed the same chunk.
TEST(ElIniArena, TreesAfterAFreedOneGetChunksOfTheirOwn) {
    constexpr int count = 60000; // nodes past the first huge-page chunks
    auto freed = std::make_unique<TElIniFile>();
    LoadText(*freed, BigKeyText("freed ", count));
    freed.reset();
    TElIniFile first;
    TElIniFile second;
    LoadText(first, BigKeyText("first ", count));
    LoadText(second, BigKeyText("second ", count));
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        const std::string name = "v" + std::to_string(i);
        wrong += StringOf(first, "\\Big", name) != "first " + LongText(i);
        wrong += StringOf(second, "\\Big", name) != "second " + LongText(i);
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace cantorell
