// zef::vector: growth, elements that own memory, the allocator rule and the length error.
#include "zef/vector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "services/host_services.h"
#include "zef/string.h"

namespace {

using qorvex::host::CountingAllocator;
using zef::vector;
using zef::wstring_t;

std::u16string Text(const wstring_t& s) {
    return std::u16string(s.data(), s.size());
}

TEST(VectorTest, GrowsToTheLargerOfTwiceTheCountAndCountPlusOne) {
    vector<std::uint32_t> v;
    EXPECT_EQ(v.capacity(), 0u);
    std::size_t expected[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
    for (std::uint32_t i = 0; i < 9; ++i) {
        v.push_back(i);
        EXPECT_EQ(v.capacity(), expected[i]) << "after " << i + 1;
    }
    for (std::uint32_t i = 0; i < 9; ++i) EXPECT_EQ(v[i], i);
}

TEST(VectorTest, StringsSurviveRelocationInlineAndOnTheHeap) {
    vector<wstring_t> v;
    for (int i = 0; i < 20; ++i) {
        wstring_t s(i % 2 == 0 ? u"short" : u"a path long enough for the heap\\");
        s.push_back(static_cast<char16_t>(u'A' + i));
        v.push_back(std::move(s));
    }
    ASSERT_EQ(v.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const wstring_t& s = v[i];
        EXPECT_EQ(s[s.size() - 1], static_cast<char16_t>(u'A' + i));
        // A relocated inline string must point at its own buffer, not its old place.
        if (i % 2 == 0) {
            EXPECT_TRUE(s.is_inline());
            EXPECT_EQ(Text(s), std::u16string(u"short") + static_cast<char16_t>(u'A' + i));
        }
    }
}

TEST(VectorTest, AppendingAnElementOfItselfWhileGrowing) {
    vector<wstring_t> v;
    v.push_back(wstring_t(u"first element on the heap"));
    ASSERT_EQ(v.size(), v.capacity());
    v.push_back(v[0]);
    v.emplace_back(v[1]);
    ASSERT_EQ(v.size(), 3u);
    for (const wstring_t& s : v) EXPECT_EQ(Text(s), u"first element on the heap");
}

TEST(VectorTest, MemoryComesFromTheAttachedAllocatorAndCopiesShareIt) {
    CountingAllocator allocator;
    {
        vector<wstring_t> v(&allocator);
        EXPECT_EQ(allocator.RefCount(), 1u);
        for (int i = 0; i < 5; ++i) v.emplace_back(u"element");
        EXPECT_EQ(allocator.Allocations(), 4u);  // capacities 1, 2, 4, 8
        EXPECT_EQ(allocator.LiveBlocks(), 1u);
        EXPECT_EQ(allocator.LiveBytes(), 8 * sizeof(wstring_t));

        vector<wstring_t> copy(v);
        EXPECT_EQ(copy.allocator(), &allocator);
        EXPECT_EQ(allocator.RefCount(), 2u);
        EXPECT_EQ(copy.size(), 5u);

        vector<wstring_t> moved(std::move(copy));
        EXPECT_EQ(allocator.RefCount(), 2u);
        EXPECT_TRUE(copy.empty());
    }
    EXPECT_EQ(allocator.RefCount(), 0u);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_EQ(allocator.BadFrees(), 0u);
}

TEST(VectorTest, RefusedGrowthRaisesBadAllocAndKeepsTheElements) {
    CountingAllocator allocator;
    vector<wstring_t> v(&allocator);
    v.emplace_back(u"one");
    v.emplace_back(u"two");
    allocator.RefuseAll(true);
    EXPECT_THROW(v.emplace_back(u"three"), std::bad_alloc);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(Text(v[0]), u"one");
    EXPECT_EQ(Text(v[1]), u"two");
    allocator.RefuseAll(false);
    v.emplace_back(u"three");
    EXPECT_EQ(v.size(), 3u);
}

TEST(VectorTest, ElementWhoseCopyThrowsDuringGrowthLeavesTheVectorIntact) {
    static int copiesLeft = 0;
    struct Fragile {
        int value;
        explicit Fragile(int v) : value(v) {}
        Fragile(const Fragile& other) : value(other.value) {
            if (copiesLeft-- == 0) throw std::runtime_error("copy");
        }
    };
    CountingAllocator allocator;
    vector<Fragile> v(&allocator);
    copiesLeft = 100;
    for (int i = 0; i < 4; ++i) v.emplace_back(i);
    copiesLeft = 2;  // the third copy of the relocation fails
    EXPECT_THROW(v.emplace_back(4), std::runtime_error);
    ASSERT_EQ(v.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i].value, i);
    EXPECT_EQ(allocator.LiveBlocks(), 1u);  // the new block went back
}

// A copy that runs out of memory midway gives back the elements it had copied and its storage.
TEST(VectorTest, CopyThatFailsMidwayGivesBackWhatItCopied) {
    CountingAllocator allocator;
    const wstring_t text(u"a path long enough to need a block of its own\\", &allocator);
    vector<wstring_t> v(&allocator);
    v.reserve(3);
    for (int i = 0; i < 3; ++i) v.push_back(text);
    const std::size_t blocks = allocator.LiveBlocks();
    // The copy's storage and its first element are granted, the second element is not.
    allocator.RefuseAfter(2);
    EXPECT_THROW(vector<wstring_t> copy(v), std::bad_alloc);
    EXPECT_EQ(allocator.LiveBlocks(), blocks);
    allocator.RefuseAfter(2);
    EXPECT_THROW((vector<wstring_t>({text, text, text}, &allocator)), std::bad_alloc);
    EXPECT_EQ(allocator.LiveBlocks(), blocks);
    allocator.RefuseAfter(-1);
    EXPECT_EQ(allocator.RefCount(), 5u);  // text, v and its three elements
}

TEST(VectorTest, CountsPastTheLargestSizeRaiseTheAppendLengthError) {
    vector<wstring_t> v;
    for (auto operation :
         {+[](vector<wstring_t>& x) { x.reserve(vector<wstring_t>::max_size() + 1); },
          +[](vector<wstring_t>& x) { x.resize(vector<wstring_t>::max_size() + 1); }}) {
        try {
            operation(v);
            ADD_FAILURE() << "no exception";
        } catch (const std::length_error& e) {
            EXPECT_STREQ(e.what(), "vector::append");
        }
        EXPECT_TRUE(v.empty());
    }
}

TEST(VectorTest, EraseResizeAndClear) {
    vector<wstring_t> v{wstring_t(u"a"), wstring_t(u"b"), wstring_t(u"c"), wstring_t(u"d")};
    auto next = v.erase(v.begin() + 1);
    EXPECT_EQ(Text(*next), u"c");
    v.erase(v.begin(), v.begin() + 2);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(Text(v.front()), u"d");
    v.resize(3);
    EXPECT_EQ(v.size(), 3u);
    EXPECT_TRUE(v[2].empty());
    v.clear();
    EXPECT_TRUE(v.empty());
}

}  // namespace
