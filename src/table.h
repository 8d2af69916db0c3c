// Growable storage for the per-case tables. Growth never throws: it reports running out of
// memory, so that a case too large for the machine ends the run with a message rather than an
// abort. New entries are left unset (every entry is written before it is read), and large blocks
// are backed by huge pages where the system offers them and they are faulted in faster than
// small ones, because first-touch page faults are a large part of the cost of a big case.
#ifndef MAXMEDIAN_TABLE_H_
#define MAXMEDIAN_TABLE_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

namespace maxmedian {

// When a block's pages are put in place: as each is first written, or all at once when the
// block is allocated, which costs less per page (much less on some virtual machines, where each
// fault traps to the hypervisor) but takes memory for pages that may never be written.
enum class Pages { kAsWritten, kNow };

namespace table_memory {
// Blocks of at least this many bytes are mappings of their own, aligned to huge pages, and use
// them where they are faster to fault in than small pages (see table.cpp): where each fault
// traps to the hypervisor, the small pages of a block this size cost several times a huge page
// the guest holds. The reader's buffer and the converter's output buffer stay below it, in
// small pages, as a short input writes only their first few.
inline constexpr size_t kHugeThreshold = size_t{288} << 10;
// The size of a huge page.
inline constexpr size_t kHugePage = size_t{2} << 20;
// Returns at least `bytes` of storage, its pages to be faulted in as written, or null when there
// is not that much memory.
void* Allocate(size_t bytes) noexcept;
// Puts in place the pages of bytes [from, to) of storage that Allocate(bytes) returned, as the
// first writes to them would: the small pages wholly inside, or for a large block in huge pages
// every huge page's worth that meets the range. Advice, which the system may ignore.
void Prefault(void* block, size_t bytes, size_t from, size_t to) noexcept;
// Moves storage that Allocate(bytes) returned, bytes >= kHugeThreshold, to a block of `grown`
// bytes, more than `bytes`, with the same contents, and returns it; returns null, changing
// nothing, when there is not that much memory. Where the system can, the pages move without a
// copy.
void* Grow(void* block, size_t bytes, size_t grown) noexcept;
// Releases storage that Allocate(bytes) or Grow(..., bytes) returned; null is ignored.
void Release(void* block, size_t bytes) noexcept;
}  // namespace table_memory

// An array of trivial entries that grows on demand and keeps its storage when it shrinks.
template <class T>
class Table {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  Table() = default;
  Table(Table&& other) noexcept { *this = std::move(other); }
  Table& operator=(Table&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(prefaulted_, other.prefaulted_);
    return *this;
  }
  ~Table() { table_memory::Release(data_, capacity_ * sizeof(T)); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  // Keeps the storage.
  void clear() { size_ = 0; }
  // Makes room for `n` entries in all, keeping the current ones; new storage has its pages in
  // place as `pages` says. Returns false, changing nothing, when memory runs out.
  [[nodiscard]] bool Reserve(size_t n, Pages pages = Pages::kAsWritten) {
    if (n <= capacity_) return true;
    if (n > static_cast<size_t>(-1) / sizeof(T)) return false;
    const size_t bytes = capacity_ * sizeof(T);
    const bool large = bytes >= table_memory::kHugeThreshold;
    T* const grown = static_cast<T*>(large ? table_memory::Grow(data_, bytes, n * sizeof(T))
                                           : table_memory::Allocate(n * sizeof(T)));
    if (grown == nullptr) return false;
    if (!large) {
      if (size_ > 0) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
      table_memory::Release(data_, bytes);
    }
    data_ = grown;
    capacity_ = n;
    // Pages written, or moved with a large block, are in place.
    prefaulted_ = large ? std::max(prefaulted_, size_) : size_;
    if (pages == Pages::kNow) Prefault(n);
    return true;
  }
  // Sets the number of entries to `n`; entries beyond the old size are unset, and new storage
  // has its pages in place as `pages` says. Returns false, changing nothing, when memory runs out.
  [[nodiscard]] bool Resize(size_t n, Pages pages = Pages::kAsWritten) {
    if (!Reserve(n, pages)) return false;
    size_ = n;
    return true;
  }
  // Puts in place the pages of the storage of the first `n` entries that are not in place
  // already, and of `ahead` entries more when it must ask (all within capacity()), as
  // Pages::kNow would have: advice, which the system may ignore.
  void Prefault(size_t n, size_t ahead = 0) {
    if (n <= prefaulted_) return;
    const size_t to = std::min(capacity_, n + ahead);
    table_memory::Prefault(data_, capacity_ * sizeof(T), prefaulted_ * sizeof(T), to * sizeof(T));
    prefaulted_ = to;
  }
  // Sets the number of entries to `n`, which must not exceed capacity(): this cannot fail.
  void ResizeWithin(size_t n) { size_ = n; }
  // Adds `entry` at the end. When the storage is full it grows to `grow_to` entries if that is
  // more than it holds, else by doubling. Returns false, changing nothing, when memory runs out.
  [[nodiscard]] bool Append(const T& entry, size_t grow_to = 0) {
    if (!MakeRoom(grow_to)) return false;
    data_[size_++] = entry;
    return true;
  }
  // Makes room for at least one more entry, growing as Append does. Returns false, changing
  // nothing, when memory runs out.
  [[nodiscard]] bool MakeRoom(size_t grow_to = 0) {
    return size_ < capacity_ || Reserve(grow_to > capacity_ ? grow_to : Grown());
  }

 private:
  // The capacity to grow to: double, except that from a quarter of a huge page on, at least a
  // whole huge page. Every page is faulted in when first written, which costs far more per byte
  // in small pages than in huge ones, and a growing table is filled as it grows.
  size_t Grown() const {
    const size_t doubled = capacity_ < 8 ? 8 : 2 * capacity_;
    if (doubled * sizeof(T) < table_memory::kHugePage / 4) return doubled;
    return std::max(doubled, table_memory::kHugePage / sizeof(T));
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t prefaulted_ = 0;  // entries whose pages were asked for (see Prefault)
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_TABLE_H_
