// zef::basic_string_t: inline storage and growth, the allocator rule, error texts, aliasing.
#include "zef/string.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>

#include "services/host_services.h"

namespace {

using qorvex::host::CountingAllocator;
using zef::string_t;
using zef::wstring_t;

std::u16string Text(const wstring_t& s) {
    return std::u16string(s.data(), s.size());
}

TEST(StringTest, LayoutIsDataSizeCapacityAllocatorThenSixteenInlineBytes) {
    EXPECT_EQ(sizeof(wstring_t), 4 * sizeof(void*) + 16);
    EXPECT_EQ(sizeof(string_t), 4 * sizeof(void*) + 16);

    const wstring_t wide;
    const string_t narrow;
    EXPECT_TRUE(wide.is_inline());
    EXPECT_TRUE(narrow.is_inline());
    EXPECT_EQ(wide.capacity(), 7u);
    EXPECT_EQ(narrow.capacity(), 15u);
    EXPECT_EQ(wide.c_str()[0], u'\0');
    EXPECT_EQ(narrow.c_str()[0], '\0');
}

TEST(StringTest, SeventhWideCharacterStaysInlineEighthMovesToHeapWithCapacity14) {
    wstring_t s(u"abcdefg");
    ASSERT_EQ(s.size(), 7u);
    EXPECT_TRUE(s.is_inline());
    EXPECT_EQ(s.capacity(), 7u);

    s.push_back(u'h');
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(s.capacity(), 14u);
    EXPECT_EQ(Text(s), u"abcdefgh");
    EXPECT_EQ(s.c_str()[8], u'\0');
}

TEST(StringTest, FifteenthNarrowCharacterStaysInlineSixteenthMovesToHeap) {
    string_t s("0123456789abcde");
    EXPECT_TRUE(s.is_inline());
    s += 'f';
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(s.capacity(), 30u);
    EXPECT_EQ(s.view(), "0123456789abcdef");
}

// New capacity = max(size + n, 2 * capacity) whenever capacity - size < n.
TEST(StringTest, GrowthTakesTheLargerOfNeededSizeAndTwiceTheCapacity) {
    struct Case {
        std::size_t first;   // characters appended to an empty string
        std::size_t second;  // then appended
        std::size_t capacity;
    } const cases[] = {
        {0, 7, 7},     // fits inline
        {0, 8, 14},    // twice the inline capacity
        {0, 20, 20},   // more than twice: exactly what is needed
        {7, 1, 14},    // the inline-to-heap step
        {8, 6, 14},    // fits the room left: no growth
        {14, 1, 28},   // doubling on the heap
        {14, 40, 54},  // the needed size wins again
        {20, 1, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " + " << c.second);
        wstring_t s;
        s.append(c.first, u'a');
        s.append(c.second, u'b');
        EXPECT_EQ(s.capacity(), c.capacity);
        EXPECT_EQ(s.size(), c.first + c.second);
        EXPECT_EQ(s.c_str()[c.first + c.second], u'\0');
    }
}

TEST(StringTest, HeapBlocksComeFromTheAttachedAllocatorWhichEveryCopyReferences) {
    CountingAllocator allocator;
    {
        wstring_t s(&allocator);
        EXPECT_EQ(allocator.RefCount(), 1u);
        s.append(u"inline");
        EXPECT_EQ(allocator.Allocations(), 0u);

        s.append(u" and now on the heap");
        EXPECT_EQ(allocator.Allocations(), 1u);
        EXPECT_EQ(allocator.LiveBlocks(), 1u);
        // capacity + 1 characters, terminator included
        EXPECT_EQ(allocator.LiveBytes(), (s.capacity() + 1) * sizeof(char16_t));

        wstring_t copy(s);
        EXPECT_EQ(copy.allocator(), &allocator);
        EXPECT_EQ(allocator.RefCount(), 2u);
        EXPECT_EQ(allocator.Allocations(), 2u);
        EXPECT_EQ(copy, s);
        EXPECT_NE(copy.data(), s.data());

        wstring_t assigned;
        assigned = copy;
        EXPECT_EQ(assigned.allocator(), &allocator);
        EXPECT_EQ(allocator.RefCount(), 3u);

        // A move hands over the block and the reference: no allocation, no new reference.
        wstring_t moved(std::move(copy));
        EXPECT_EQ(allocator.RefCount(), 3u);
        EXPECT_EQ(allocator.Allocations(), 3u);
        EXPECT_TRUE(copy.empty());
        EXPECT_TRUE(copy.is_inline());
        EXPECT_EQ(Text(moved), u"inline and now on the heap");
    }
    EXPECT_EQ(allocator.RefCount(), 0u);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_EQ(allocator.BadFrees(), 0u);
}

TEST(StringTest, RefusedAllocationRaisesBadAllocAndKeepsTheString) {
    CountingAllocator allocator;
    allocator.RefuseAll(true);
    wstring_t s(u"1234567", &allocator);
    EXPECT_THROW(s.push_back(u'8'), std::bad_alloc);
    EXPECT_EQ(Text(s), u"1234567");
    EXPECT_TRUE(s.is_inline());
    EXPECT_THROW(wstring_t(u"twelve chars", &allocator), std::bad_alloc);
    EXPECT_EQ(allocator.RefCount(), 1u);  // the failed construction gave its reference back
}

TEST(StringTest, SwapExchangesTextAndAllocator) {
    CountingAllocator allocator;
    wstring_t heap(u"a text that lives on the heap", &allocator);
    wstring_t small(u"small");
    heap.swap(small);
    EXPECT_EQ(Text(heap), u"small");
    EXPECT_TRUE(heap.is_inline());
    EXPECT_EQ(heap.allocator(), nullptr);
    EXPECT_EQ(Text(small), u"a text that lives on the heap");
    EXPECT_EQ(small.allocator(), &allocator);
    EXPECT_EQ(allocator.RefCount(), 1u);
}

struct ErrorCase {
    const char* name;
    std::function<void()> operation;
    const std::type_info& type;
    const char* text;
};

TEST(StringTest, FailuresRaiseTheirExceptionWithTheirTextAndLeaveTheStringUnchanged) {
    wstring_t s(u"abc");
    const wstring_t source(u"xyz");
    const std::size_t max = wstring_t::max_size();
    const ErrorCase cases[] = {
        {"append past the largest size", [&] { s.append(max, u'x'); }, typeid(std::length_error),
         "zef::basic_string_t::reserve_extra()"},
        {"reserve past the largest size", [&] { s.reserve(max + 1); }, typeid(std::length_error),
         "zef::basic_string_t::reserve_extra()"},
        {"resize past the largest size", [&] { s.resize(max + 1); }, typeid(std::length_error),
         "zef::basic_string_t::resize_extra_at"},
        {"room at a position past the largest size", [&] { s.resize_extra_at(1, max); },
         typeid(std::length_error), "zef::basic_string_t::resize_extra_at"},
        {"room at a position beyond the size", [&] { s.resize_extra_at(4, 1); },
         typeid(std::out_of_range), "zef::basic_string_t::resize_extra_at"},
        {"construct with a length past the largest size", [&] { wstring_t(max + 1, u'x'); },
         typeid(std::length_error), "zef::basic_string_t constructor"},
        {"construct from text past the largest size", [&] { wstring_t(s.data(), max + 1); },
         typeid(std::length_error), "zef::basic_string_t constructor"},
        {"insert past the largest size", [&] { s.insert(1, s.data(), max); },
         typeid(std::length_error), "zef::basic_string_t::insert"},
        {"insert characters past the largest size", [&] { s.insert(1, max, u'x'); },
         typeid(std::length_error), "zef::basic_string_t::insert"},
        {"insert beyond the size", [&] { s.insert(4, u"x"); }, typeid(std::out_of_range),
         "zef::basic_string_t::insert"},
        {"assign from beyond the source's size", [&] { s.assign(source, 4); },
         typeid(std::out_of_range), "zef::basic_string_t::assign"},
        {"replace beyond the size", [&] { s.replace(4, 0, u"x", 1); }, typeid(std::out_of_range),
         "zef::basic_string_t::replace"},
        {"erase beyond the size", [&] { s.erase(4); }, typeid(std::out_of_range),
         "zef::basic_string_t::erase_impl"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.operation();
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& e) {
            EXPECT_EQ(typeid(e), c.type) << typeid(e).name();
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(Text(s), u"abc");
    }
}

TEST(StringTest, PositionsAtTheSizeAreValid) {
    wstring_t s(u"abc");
    s.insert(3, u"d");
    s.erase(4);
    s.replace(4, 0, u"e", 1);
    wstring_t tail;
    tail.assign(s, s.size());
    EXPECT_EQ(Text(s), u"abcde");
    EXPECT_TRUE(tail.empty());
}

TEST(StringTest, AppendOfItsOwnTextSurvivesTheMoveToTheHeap) {
    wstring_t s(u"abcdef");
    s.append(s.data() + 1, 4);  // 10 characters: the source block is the inline buffer
    EXPECT_EQ(Text(s), u"abcdefbcde");
    s.append(s);  // 20: the source block is the old heap block
    EXPECT_EQ(Text(s), u"abcdefbcdeabcdefbcde");
    s += s.view().substr(15);  // fits: no growth
    EXPECT_EQ(Text(s), u"abcdefbcdeabcdefbcdefbcde");
}

TEST(StringTest, InsertOfItsOwnTextBeforeAfterOrAcrossTheGap) {
    struct Case {
        std::size_t pos;
        std::size_t from;
        std::size_t count;
        const char16_t* expected;
    } const cases[] = {
        {4, 0, 2, u"012301456789"},    // source wholly before the insertion point
        {1, 6, 3, u"0678123456789"},   // wholly after: it moves up with the tail
        {3, 1, 4, u"01212343456789"},  // across the insertion point
        {0, 0, 10, u"01234567890123456789"},
        {10, 0, 10, u"01234567890123456789"},
        {5, 5, 0, u"0123456789"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos << " " << c.from << " " << c.count);
        for (std::size_t reserve : {std::size_t{0}, std::size_t{64}}) {
            wstring_t s(u"0123456789");
            s.reserve(reserve);  // with and without growth during the insert
            s.insert(c.pos, s.data() + c.from, c.count);
            EXPECT_EQ(Text(s), c.expected);
        }
    }
}

TEST(StringTest, ReplaceEraseAssignAndResize) {
    CountingAllocator allocator;
    wstring_t s(u"C:\\Program Files\\App", &allocator);
    s.replace(3, 13, u"Apps", 4);
    EXPECT_EQ(Text(s), u"C:\\Apps\\App");
    s.replace(0, wstring_t::npos, s.data() + 3, 4);  // from its own text
    EXPECT_EQ(Text(s), u"Apps");
    EXPECT_EQ(s.allocator(), &allocator);
    s.erase(1, 2);
    EXPECT_EQ(Text(s), u"As");
    s.erase();
    EXPECT_TRUE(s.empty());

    const wstring_t source(u"volume\\path");
    s.assign(source, 7);
    EXPECT_EQ(Text(s), u"path");
    s.assign(source, 0, 6);
    EXPECT_EQ(Text(s), u"volume");
    EXPECT_EQ(s.allocator(), &allocator);  // assigning text keeps the string's own allocator

    s.resize(9, u'.');
    EXPECT_EQ(Text(s), u"volume...");
    s.resize(3);
    EXPECT_EQ(Text(s), u"vol");
    EXPECT_EQ(s.c_str()[3], u'\0');
    s = u"plain";
    EXPECT_EQ(s, u"plain");
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_TRUE(s.empty());
}

TEST(StringTest, EmbeddedZerosAreCharacters) {
    const char16_t text[] = {u'a', 0, u'b'};
    wstring_t s(text, 3);
    EXPECT_EQ(s.size(), 3u);
    s.append(text, 3);
    EXPECT_EQ(s.view(), std::u16string_view(u"a\0ba\0b", 6));
}

}  // namespace

// ---- The simulated machine's process heap (Linux builds only)
#ifndef _WIN32
#include <memory>

#include "winsim/sim.h"
#include "zef/vector.h"

namespace {

TEST(StringOnSimulatedHeapTest, WithoutAnAllocatorStorageComesFromTheProcessHeap) {
    winsim::ScopedMachine machine;
    const winsim::HeapStats before = winsim::GetHeapStats();
    {
        wstring_t s(u"1234567");
        EXPECT_EQ(winsim::GetHeapStats().allocations, before.allocations);
        s.push_back(u'8');
        EXPECT_EQ(winsim::GetHeapStats().allocations, before.allocations + 1);
        EXPECT_EQ(winsim::GetHeapStats().bytesInUse, before.bytesInUse + 15 * sizeof(char16_t));

        zef::vector<wstring_t> v;
        v.push_back(s);
        EXPECT_EQ(winsim::GetHeapStats().liveBlocks, before.liveBlocks + 3);
    }
    const winsim::HeapStats after = winsim::GetHeapStats();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.frees, before.frees + 3);
    EXPECT_EQ(after.invalidFrees, before.invalidFrees);
}

TEST(StringOnSimulatedHeapTest, AnExhaustedProcessHeapRaisesBadAlloc) {
    winsim::ScopedMachine machine;
    winsim::ScopedFault fault("HeapAlloc", winsim::FaultMode::Always, 0, 8);
    wstring_t s(u"inline");
    EXPECT_THROW(s.append(u" and beyond"), std::bad_alloc);
    EXPECT_EQ(Text(s), u"inline");
    zef::vector<int> v;
    EXPECT_THROW(v.push_back(1), std::bad_alloc);
    EXPECT_TRUE(v.empty());
}

// The heap is named once: a platform that would no longer name it cannot strand a block.
TEST(StringOnSimulatedHeapTest, BlocksGoBackWhenTheHeapCanNoLongerBeNamed) {
    winsim::ScopedMachine machine;
    const winsim::HeapStats before = winsim::GetHeapStats();
    auto text = std::make_unique<wstring_t>(u"a text that lives on the process heap");
    EXPECT_EQ(winsim::GetHeapStats().liveBlocks, before.liveBlocks + 1);
    {
        winsim::ScopedFault fault("GetProcessHeap", winsim::FaultMode::Always, 0, 5);
        text.reset();
    }
    EXPECT_EQ(winsim::GetHeapStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(winsim::GetHeapStats().invalidFrees, before.invalidFrees);
}

}  // namespace
#endif
