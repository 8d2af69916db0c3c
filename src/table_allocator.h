// Storage for the large per-case tables: elements are left uninitialized when a table grows
// (every entry is written before it is read), and large blocks are backed by huge pages where
// the system offers them, because first-touch page faults are a large part of the cost of a
// big case.
#ifndef MAXMEDIAN_TABLE_ALLOCATOR_H_
#define MAXMEDIAN_TABLE_ALLOCATOR_H_

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace maxmedian {

namespace table_memory {
// Returns at least `bytes` of storage, or throws std::bad_alloc.
void* Allocate(size_t bytes);
// Releases storage that Allocate returned.
void Release(void* block) noexcept;
}  // namespace table_memory

// An allocator for trivial types that default-initializes (so a resize leaves new elements
// unset) and takes its memory from table_memory.
template <class T>
struct TableAllocator {
  static_assert(std::is_trivial_v<T>);
  using value_type = T;

  TableAllocator() = default;
  template <class U>
  TableAllocator(const TableAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(table_memory::Allocate(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { table_memory::Release(p); }

  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;  // default-initialized: no zeroing
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }

  friend bool operator==(const TableAllocator&, const TableAllocator&) { return true; }
};

// A growable table whose new entries start out unset.
template <class T>
using Table = std::vector<T, TableAllocator<T>>;

}  // namespace maxmedian

#endif  // MAXMEDIAN_TABLE_ALLOCATOR_H_
