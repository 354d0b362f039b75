// The process-wide 48-bit random generator. Seeded from the clock on first
// use unless set_seed was called.
#ifndef TORVEL_CORE_RANDOM_NUMBERS_H_
#define TORVEL_CORE_RANDOM_NUMBERS_H_

// Seeds with seed, or with the current time when seed is 0; returns the seed.
int set_seed(int seed);
int get_random_int();            // 0 .. 2147483647
float get_random_float();        // 0 <= value <= 1
unsigned int get_random_uint();  // 4294967296.0 * get_random_float(), as 32 bits

#endif  // TORVEL_CORE_RANDOM_NUMBERS_H_
