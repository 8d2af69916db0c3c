// Mapping a file a window at a time into one reserved place, with zeros around each window, and
// surviving the file shrinking under a mapping: the system then raises SIGBUS on the bytes gone,
// and the handler here puts zero pages in their place and notes it, so that the reader can
// report the fault instead of the process dying.
#include "file_windows.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace maxmedian {
namespace {

// The one place mapped at a time, for the handler; null when none is.
std::atomic<char*> g_region{nullptr};
std::atomic<size_t> g_region_size{0};
std::atomic<size_t> g_page{4096};
std::atomic<int> g_fd{-1};              // the file mapped there
std::atomic<off_t> g_window_offset{0};  // the file offset mapped a page into the place
std::atomic<bool> g_faulted{false};     // the handler has put zeros in place of bytes gone
std::atomic<bool> g_taken{false};       // some FileWindows owns the place
struct sigaction g_previous;            // the handling of SIGBUS before ours

// Where in the place the bytes gone start, or null when the fault is not ours. The fault's
// address, where the system gives it within the place; else (not every system gives it exactly)
// the first page past the file's end now, if the file has shrunk under the window.
char* FirstPageGone(char* region, size_t size, size_t page, const char* address) {
  if (address >= region && address < region + size) {
    return region + static_cast<size_t>(address - region) / page * page;
  }
  struct stat status;
  const off_t window = g_window_offset.load();
  if (fstat(g_fd.load(), &status) != 0) return nullptr;
  // Pages wholly past the end: from the one after the end's own (whose tail reads as zeros).
  const off_t kept = std::max<off_t>(0, status.st_size - window);
  const auto first =
      static_cast<size_t>((kept + static_cast<off_t>(page) - 1) / static_cast<off_t>(page)) * page;
  return page + first < size - page ? region + page + first : nullptr;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  char* const region = g_region.load();
  const size_t size = g_region_size.load();
  const size_t page = g_page.load();
  char* const from = region == nullptr ? nullptr
                                       : FirstPageGone(region, size, page,
                                                       static_cast<const char*>(info->si_addr));
  if (from != nullptr &&
      mmap(from, static_cast<size_t>(region + size - from), PROT_READ | PROT_WRITE,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
    g_faulted.store(true);
    return;  // the load that faulted runs again, and reads zeros
  }
  // Not ours: hand it back to what handled it before, which the repeated fault then reaches.
  (void)signal;
  (void)context;
  sigaction(SIGBUS, &g_previous, nullptr);
}

bool InstallHandler() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &g_previous) == 0;
  }();
  return installed;
}

}  // namespace

FileWindows::~FileWindows() { Unmap(); }

void FileWindows::Unmap() {
  if (region_ == nullptr) return;
  g_region.store(nullptr);
  g_region_size.store(0);
  munmap(region_, region_size_);
  region_ = nullptr;
  g_taken.store(false);
}

FileWindows::Next FileWindows::Stop() {
  lost_ = Lost();
  if (lost_ == 0 && lseek(fd_, next_, SEEK_SET) < 0) lost_ = EIO;
  state_ = State::kDone;
  Unmap();
  return lost_ != 0 ? Next::kLost : Next::kNone;
}

bool FileWindows::ReadingCheaper(char* base, size_t bytes, off_t offset, char* scratch,
                                 bool* mapped) {
  using Clock = std::chrono::steady_clock;
  // Each way is timed on bytes it meets for the first time, as the rest of the file will be,
  // after a round untimed that pays what only a first use costs: the scratch's pages, the place's
  // page tables. Bytes read twice would come from the processor's cache and look several times
  // cheaper than reading the file is.
  const off_t next = offset + static_cast<off_t>(bytes);
  const off_t timed = end_ - next >= static_cast<off_t>(bytes) ? next : offset;
  auto read_time = Clock::duration::zero(), map_time = Clock::duration::zero();
  for (const off_t at : {offset, timed}) {
    auto start = Clock::now();
    if (pread(fd_, scratch, bytes, at) != static_cast<ssize_t>(bytes)) {
      *mapped = MapAt(base, bytes, offset);
      return false;
    }
    read_time = Clock::now() - start;
    start = Clock::now();
    if (!MapAt(base, bytes, at)) {
      *mapped = false;
      return false;
    }
    // A byte of each page: where the system fills its page tables only as pages are first
    // touched, that is where the cost is.
    const volatile char* const touch = base;
    for (size_t i = 0; i < bytes; i += g_page.load()) (void)touch[i];
    map_time = Clock::now() - start;
  }
  // The window shown is the first.
  *mapped = timed == offset || MapAt(base, bytes, offset);
  return map_time > 2 * read_time;
}

bool FileWindows::MapAt(char* base, size_t bytes, off_t offset) {
  // Read-only, so that mapping the pages ahead of use shares them with the system's cache
  // instead of copying each; only the pages written to get copies of their own.
  return mmap(base, bytes, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd_, offset) !=
         MAP_FAILED;
}

FileWindows::Next FileWindows::Advance(const char** data, size_t* size, char* scratch,
                                       size_t scratch_size) {
  bool first = false;
  if (state_ == State::kUnused) {
    state_ = State::kDone;
    struct stat status;
    if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return Next::kNone;
    const off_t offset = lseek(fd_, 0, SEEK_CUR);
    if (offset < 0 || status.st_size <= offset ||
        static_cast<uint64_t>(status.st_size - offset) < min_bytes_) {
      return Next::kNone;
    }
    bool free = false;
    if (!InstallHandler() || !g_taken.compare_exchange_strong(free, true)) return Next::kNone;
    const long page = sysconf(_SC_PAGESIZE);
    g_page.store(page > 0 ? static_cast<size_t>(page) : 4096);
    const size_t page_size = g_page.load();
    window_ = (std::max<size_t>(window_, 1) + page_size - 1) / page_size * page_size;
    // A page of zeros before the window and one after it: the reader's look-behind and padding.
    region_size_ = page_size + window_ + page_size;
    void* region = mmap(nullptr, region_size_, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) {
      g_taken.store(false);
      return Next::kNone;
    }
    region_ = static_cast<char*>(region);
    g_faulted.store(false);
    g_fd.store(fd_);
    g_region_size.store(region_size_);
    g_region.store(region_);
    // Reads after the last window go on from the end the windows reach.
    if (lseek(fd_, status.st_size, SEEK_SET) < 0) {
      Unmap();
      return Next::kNone;
    }
    next_ = shown_end_ = offset;
    end_ = status.st_size;
    state_ = State::kMapping;
    first = true;
  }
  if (state_ == State::kDone) return lost_ != 0 ? Next::kLost : Next::kNone;
  // A file cut within the last page leaves no page to fault on, so the end checks its size.
  if (g_faulted.load() || next_ == end_ || read_rest_) return Stop();
  // Windows start on a page, but the first starts where the descriptor's offset was; when it is
  // timed, it spans only a few pages.
  const size_t page_size = g_page.load();
  const size_t trial_span =
      std::min(window_, (kTrialBytes + page_size - 1) / page_size * page_size);
  const bool timed = first && mapping_ != Mapping::kAlways && scratch_size >= trial_span;
  const size_t span = timed ? trial_span : window_;
  const auto skip = static_cast<size_t>(next_ % static_cast<off_t>(page_size));
  const size_t bytes = std::min(span - skip, static_cast<size_t>(end_ - next_));
  char* const base = region_ + page_size;
  g_window_offset.store(next_ - static_cast<off_t>(skip));
  bool mapped;
  if (timed) {
    read_rest_ = ReadingCheaper(base, skip + bytes, next_ - skip, scratch, &mapped) ||
                 mapping_ == Mapping::kFirstOnly;
  } else {
    mapped = MapAt(base, skip + bytes, next_ - skip);
  }
  // A whole window is followed by the page of zeros, where the NUL goes without a copy; only the
  // first window (bytes before the offset to clear) and the last (a NUL within a page) need one.
  const bool whole = skip + bytes == window_;
  char* const nul_page = base + (skip + bytes) / page_size * page_size;
  if (!mapped || (!whole && mprotect(nul_page, page_size, PROT_READ | PROT_WRITE) != 0) ||
      (skip > 0 && mprotect(base, page_size, PROT_READ | PROT_WRITE) != 0)) {
    return Stop();  // the rest is read instead, from where the windows stopped
  }
  std::memset(base, 0, skip);
  base[skip + bytes] = '\0';  // the file may have grown past the size the windows stop at
  *data = base + skip;
  *size = bytes;
  next_ += static_cast<off_t>(bytes);
  shown_end_ = next_;
  return Next::kShown;
}

int FileWindows::Lost() const {
  if (lost_ != 0) return lost_;
  if (state_ == State::kUnused) return 0;
  struct stat status;
  if (fstat(fd_, &status) == 0 && status.st_size < shown_end_) return kInputShrank;
  // Zeros the handler put in place of a page while the file kept its size: a failed read.
  return region_ != nullptr && g_faulted.load() ? EIO : 0;
}

}  // namespace maxmedian
