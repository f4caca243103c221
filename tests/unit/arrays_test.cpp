#include <gtest/gtest.h>

#include "platform/arrays.h"
#include "platform/memory.h"

namespace {

TEST(Arrays, GrowByDoublingAndReuseAfterRemoveAll) {
    PtrArray array;
    EXPECT_EQ(array.Length(), 0);
    EXPECT_EQ(array.storage, nullptr);
    int a = 1, b = 2, c = 3;
    EXPECT_EQ(array.Add(&a), 0);
    EXPECT_EQ(array.Add(&b), 1);
    EXPECT_EQ(array.Add(&c), 2);
    EXPECT_EQ(array.capacity, GROW_ARRAY_FIRST_CELLS);
    for (int i = 3; i <= GROW_ARRAY_FIRST_CELLS; ++i) EXPECT_EQ(array.Add(&c), i);
    EXPECT_EQ(array.capacity, 2 * GROW_ARRAY_FIRST_CELLS);
    EXPECT_EQ(array.At(1), &b);
    void** storage = array.storage;
    array.RemoveAll();
    EXPECT_EQ(array.Length(), 0);
    EXPECT_EQ(array.Add(&c), 0);
    EXPECT_EQ(array.storage, storage);
    EXPECT_EQ(array.capacity, 2 * GROW_ARRAY_FIRST_CELLS);
    // The array never frees what it points to.
    EXPECT_EQ(c, 3);
}

TEST(Arrays, StringArrayOwnsCopies) {
    StringArray strings;
    WCHAR name[] = WIDE("first");
    ASSERT_EQ(strings.Add(name), 0);
    name[0] = 'F';
    EXPECT_EQ(WideCompare(strings.At(0), WIDE("first")), 0);
    EXPECT_NE(strings.At(0), name);
    // SetAt at Length appends; below it replaces.
    EXPECT_TRUE(strings.SetAt(1, WIDE("second")));
    EXPECT_EQ(strings.Length(), 2);
    EXPECT_TRUE(strings.SetAt(0, WIDE("replaced")));
    EXPECT_EQ(WideCompare(strings.At(0), WIDE("replaced")), 0);
    EXPECT_EQ(strings.Add(nullptr), 2);
    EXPECT_EQ(strings.At(2), nullptr);
}

TEST(Arrays, ByteArrayHoldsValues) {
    ByteArray bytes;
    EXPECT_EQ(bytes.Add(1), 0);
    EXPECT_EQ(bytes.Add(0), 1);
    EXPECT_EQ(bytes.At(0), 1);
    EXPECT_EQ(bytes.At(1), 0);
}

// Shorten keeps the first cells and releases the rest: a string array frees
// the strings it drops (a leak here shows under the sanitizer build).
TEST(Arrays, ShortenKeepsTheFirstCells) {
    NumberArray numbers;
    for (uint32_t n = 0; n < 10; ++n) ASSERT_EQ(numbers.Add(n * 7), (int32_t)n);
    numbers.Shorten(3);
    EXPECT_EQ(numbers.Length(), 3);
    EXPECT_EQ(numbers.At(2), 14u);
    EXPECT_EQ(numbers.Add(99), 3);
    StringArray strings;
    for (const WCHAR* text : {WIDE("a"), WIDE("b"), WIDE("c")}) ASSERT_GE(strings.Add(text), 0);
    strings.Shorten(1);
    EXPECT_EQ(strings.Length(), 1);
    EXPECT_EQ(WideCompare(strings.At(0), WIDE("a")), 0);
}

TEST(Arrays, FailedAllocationLeavesArrayIntact) {
    StringArray strings;
    ASSERT_EQ(strings.Add(WIDE("kept")), 0);
    MemSetFailAt(1);
    EXPECT_EQ(strings.Add(WIDE("lost")), -1);
    EXPECT_FALSE(strings.SetAt(0, WIDE("other")));
    MemSetFailAt(0);
    EXPECT_EQ(strings.Length(), 1);
    EXPECT_EQ(WideCompare(strings.At(0), WIDE("kept")), 0);
}

}  // namespace
