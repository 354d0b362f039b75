// Random numbers from the platform's 48-bit generator (srand48 family).
#include "core/random_numbers.h"

#include <stdlib.h>
#include <time.h>

namespace {
bool seeded = false;

void seed_if_needed() {
    if (!seeded) {
        set_seed(0);
    }
}
}  // namespace

int set_seed(int seed) {
    if (seed == 0) {
        seed = static_cast<int>(time(nullptr));
    }
    srand48(seed);
    seeded = true;
    return seed;
}

int get_random_int() {
    seed_if_needed();
    return static_cast<int>(lrand48() & 0x7fffffff);
}

float get_random_float() {
    seed_if_needed();
    return static_cast<float>(drand48());
}

unsigned int get_random_uint() {
    // Through double and a 64-bit integer: a float of 1.0 would overflow 32 bits.
    double scaled = 4294967296.0 * static_cast<double>(get_random_float());
    return static_cast<unsigned int>(static_cast<unsigned long long>(scaled));
}
