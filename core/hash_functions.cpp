// Chain selection for the hash table: the bucket count chosen for a requested
// size, and the hash functions of integer keys. String keys have theirs
// beside their types (MyStringHash, and the configuration key types).
#include "core/hash_table.h"

namespace {
// Counts as prime when no j with 2 <= j < n/2 divides n. For the sizes this
// is asked about (6 and up) a composite always has such a divisor no larger
// than its square root, so the search stops there.
bool isPrime(long long n) {
    for (long long j = 2; j < n / 2 && j * j <= n; j++) {
        if (n % j == 0) {
            return false;
        }
    }
    return true;
}
}  // namespace

int _torvel_hash_table_size(int size) {
    if (size <= 0) {
        return 5;
    }
    if (size <= 5) {
        return size;
    }
    for (long long n = size; n <= static_cast<long long>(size) + 34; n++) {
        if (n <= 0x7fffffff && isPrime(n)) {
            return static_cast<int>(n);
        }
    }
    return size;
}

int hashFunction(const int &key, int buckets) {
    return static_cast<int>(static_cast<unsigned int>(key) % static_cast<unsigned int>(buckets));
}

int hashFunction(const unsigned int &key, int buckets) {
    return static_cast<int>(key % static_cast<unsigned int>(buckets));
}
