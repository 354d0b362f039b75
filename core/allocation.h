// The library's allocation policy. An object or array the library cannot do
// without is made with `new (torvel::or_die) T(...)`: if the heap is
// exhausted, the process ends through the fatal-error path with
// "Out of memory" instead of letting std::bad_alloc escape an interface that
// promises a result. Memory made this way is freed with plain delete/delete[].
// Where a caller is promised a failure result instead (a list whose growth
// returns false, a table with its own message), the site uses
// new (std::nothrow) and handles the null itself.
#ifndef TORVEL_CORE_ALLOCATION_H_
#define TORVEL_CORE_ALLOCATION_H_

#include <cstddef>

namespace torvel {
struct OrDie {};
inline constexpr OrDie or_die{};
// malloc(size) for memory released with free, or the fatal-error path.
void *MallocOrDie(std::size_t size);
}  // namespace torvel

void *operator new(std::size_t size, torvel::OrDie);
void *operator new[](std::size_t size, torvel::OrDie);
// Called only when a constructor throws after the allocation succeeded.
void operator delete(void *memory, torvel::OrDie) noexcept;
void operator delete[](void *memory, torvel::OrDie) noexcept;

#endif  // TORVEL_CORE_ALLOCATION_H_
