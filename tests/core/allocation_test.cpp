// The allocation policy: `new (torvel::or_die)` and MallocOrDie give usable memory that
// delete (or free) frees, and an exhausted heap ends the process through the
// fatal-error path rather than throwing out of the library.
#include "core/allocation.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

struct Counted {
    explicit Counted(int v) : value(v) { ++alive; }
    ~Counted() { --alive; }
    int value;
    static int alive;
};
int Counted::alive = 0;

TEST(AllocationTest, ObjectsAndArraysAreFreedWithPlainDelete) {
    Counted *one = new (torvel::or_die) Counted(7);
    EXPECT_EQ(one->value, 7);
    EXPECT_EQ(Counted::alive, 1);
    delete one;
    EXPECT_EQ(Counted::alive, 0);

    char *text = new (torvel::or_die) char[6]();
    EXPECT_EQ(std::string(text), "");
    delete[] text;

    char *bytes = static_cast<char *>(torvel::MallocOrDie(6));  // freed with free
    memcpy(bytes, "bytes", 6);
    EXPECT_EQ(std::string(bytes), "bytes");
    free(bytes);
}

TEST(AllocationDeathTest, ExhaustedHeapEndsTheProcessWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reports an impossible size itself";
#else
    // More than any address space can hold, so the allocator must refuse.
    volatile size_t huge = SIZE_MAX / 2;
    EXPECT_EXIT({ delete[] new (torvel::or_die) char[huge]; }, testing::ExitedWithCode(4),
                "Out of memory");
    EXPECT_EXIT(free(torvel::MallocOrDie(huge)), testing::ExitedWithCode(4), "Out of memory");
#endif
}

}  // namespace
