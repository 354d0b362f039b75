// Tests of the two string key types and their bucket functions, also as
// keys of the library's hash table.
#include "config/hash_key.h"

#include <gtest/gtest.h>
#include <string.h>

#include <sstream>

#include "core/hash_table.h"

namespace {

TEST(HashKeyTest, CopiesCompareAndPrint) {
    HashKey a("Path");
    HashKey b;
    b = a;
    EXPECT_TRUE(a == b);
    b = "path";
    EXPECT_FALSE(a == b);  // exact comparison
    b = b;                 // self-assignment keeps the text
    EXPECT_STREQ("path", b.value());

    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    a.sprint(buffer);
    EXPECT_STREQ("Path", buffer);

    std::ostringstream out;
    out << a;
    EXPECT_EQ("Hashkey: Path\n", out.str());
}

TEST(HashKeyTest, HashIsTheByteSumModuloSize) {
    EXPECT_EQ(0, hashFunction(HashKey(), 7));
    EXPECT_EQ(('a' + 'b' + 'c') % 7, hashFunction(HashKey("abc"), 7));
    // Signed bytes, summed as a 32-bit unsigned number.
    unsigned int sum = 'a' + static_cast<unsigned int>(-1);  // "a\xff"
    EXPECT_EQ(static_cast<int>(sum % 53), hashFunction(HashKey("a\xff"), 53));
    for (int size : {1, 2, 53, 1000}) {
        int bucket = hashFunction(HashKey("\x80\x80\x80"), size);
        EXPECT_GE(bucket, 0);
        EXPECT_LT(bucket, size);
    }
}

TEST(AttrKeyTest, ComparesIgnoringCase) {
    AttrKey a("MyAttr");
    AttrKey b("myattr");
    EXPECT_TRUE(a == b);
    AttrKey empty;
    EXPECT_STREQ("", empty.value());
    EXPECT_TRUE(empty == AttrKey(""));
    b = empty;
    EXPECT_STREQ("", b.value());
    b = "Other";
    EXPECT_FALSE(a == b);
}

TEST(AttrKeyTest, HashIgnoresCaseAndStaysInRange) {
    EXPECT_EQ(AttrKeyHashFunction(AttrKey("MyAttr"), 31),
              AttrKeyHashFunction(AttrKey("myattr"), 31));
    EXPECT_EQ(('a' + 'b') % 31, AttrKeyHashFunction(AttrKey("AB"), 31));
    // Bytes above 127 are negative as signed chars; the bucket stays valid.
    for (int size : {1, 3, 31, 307, 1009}) {
        int bucket = AttrKeyHashFunction(AttrKey("\xff\xfe\xfd\x80"), size);
        EXPECT_GE(bucket, 0);
        EXPECT_LT(bucket, size);
    }
}

TEST(HashKeyTest, WorksAsHashTableKey) {
    HashTable<HashKey, int> table(50, hashFunction, DUPLICATES_REFUSED);
    ASSERT_EQ(0, table.insert(HashKey("PATH"), 1));
    ASSERT_EQ(0, table.insert(HashKey("path"), 2));
    EXPECT_EQ(-1, table.insert(HashKey("PATH"), 3));
    int value = 0;
    ASSERT_EQ(0, table.lookup(HashKey("path"), value));
    EXPECT_EQ(2, value);

    HashTable<AttrKey, int> attrs(50, AttrKeyHashFunction, DUPLICATES_REPLACE_VALUE);
    attrs.insert(AttrKey("Owner"), 1);
    attrs.insert(AttrKey("OWNER"), 2);
    EXPECT_EQ(1, attrs.getNumElements());
    ASSERT_EQ(0, attrs.lookup(AttrKey("owner"), value));
    EXPECT_EQ(2, value);
}

}  // namespace
