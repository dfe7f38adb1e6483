#include "formats/markdown/arena.hpp"

#include "formats/markdown/markdown.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace vaskit::markdown::detail {
namespace {

constexpr std::size_t kMinBlock = std::size_t{2} << 20;
constexpr std::size_t kMaxBlock = std::size_t{64} << 20;

thread_local TreeArena *current_arena = nullptr;

[[noreturn]] void out_of_memory() {
  throw Error("out of memory for the document tree");
}

void *arena_calloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size)
    out_of_memory();
  bool fresh = false;
  void *p = current_arena->allocate(count * size, &fresh);
  if (!fresh)
    std::memset(p, 0, count * size);
  return p;
}
void *arena_realloc(void *ptr, std::size_t size) {
  return current_arena->reallocate(ptr, size);
}
void arena_free(void *ptr) {
  current_arena->deallocate(ptr);
}

void *heap_calloc(std::size_t count, std::size_t size) {
  void *p = std::calloc(count, size);
  if (!p && count != 0 && size != 0)
    throw Error("out of memory for the rendered page");
  return p;
}
void *heap_realloc(void *ptr, std::size_t size) {
  void *p = std::realloc(ptr, size);
  if (!p && size != 0)
    throw Error("out of memory for the rendered page");
  return p;
}
void heap_free(void *ptr) {
  std::free(ptr);
}

} // namespace

cmark_mem tree_mem = {arena_calloc, arena_realloc, arena_free};
cmark_mem heap_mem = {heap_calloc, heap_realloc, heap_free};

ArenaScope::ArenaScope(TreeArena &arena) : previous_(current_arena) {
  current_arena = &arena;
}
ArenaScope::~ArenaScope() {
  current_arena = previous_;
}

std::size_t TreeArena::size_of(const char *p) {
  std::size_t size = 0;
  std::memcpy(&size, p - kHeader, sizeof size);
  return size;
}

void *TreeArena::allocate(std::size_t size, bool *fresh) {
  if (size > SIZE_MAX / 2)
    out_of_memory();
  const std::size_t cap = round_up(size);
  if (cap <= kMaxReused) {
    if (void *&head = free_[cap / kAlign]; head) {
      char *p = static_cast<char *>(head);
      std::memcpy(&head, p, sizeof head);
      std::memcpy(p - kHeader, &size, sizeof size);
      return p;
    }
  }
  const std::size_t need = cap + kHeader;
  // Blocks kept from earlier trees are filled in turn before a new one is mapped.
  while (current_ < blocks_.size() && blocks_[current_].size - blocks_[current_].used < need)
    ++current_;
  if (current_ == blocks_.size())
    add_block(need);
  Block &b = blocks_[current_];
  char *p = b.base + b.used;
  if (fresh)
    *fresh = b.used >= b.written;
  b.used += need;
  b.written = std::max(b.written, b.used);
  std::memcpy(p, &size, sizeof size);
  last_ = p + kHeader;
  return last_;
}

void *TreeArena::reallocate(void *ptr, std::size_t size) {
  if (!ptr)
    return allocate(size);
  char *p = static_cast<char *>(ptr);
  const std::size_t old = size_of(p);
  if (round_up(size) <= round_up(old)) {
    std::memcpy(p - kHeader, &size, sizeof size);
    return p;
  }
  // The newest allocation grows in place while its block has room (buffers grow by steps).
  if (p == last_ && size <= SIZE_MAX / 2) {
    Block &b = blocks_[current_];
    const std::size_t end = static_cast<std::size_t>(p - b.base) + round_up(size);
    if (end <= b.size) {
      b.used = end;
      b.written = std::max(b.written, end);
      std::memcpy(p - kHeader, &size, sizeof size);
      return p;
    }
  }
  void *moved = allocate(size);
  std::memcpy(moved, p, old);
  deallocate(p);
  return moved;
}

void TreeArena::deallocate(void *ptr) {
  if (!ptr)
    return;
  char *p = static_cast<char *>(ptr);
  const std::size_t cap = round_up(size_of(p));
  if (cap > kMaxReused)
    return;
  if (p == last_) // a block that is no longer the newest cannot grow in place
    last_ = nullptr;
  void *&head = free_[cap / kAlign];
  std::memcpy(p, &head, sizeof head);
  head = p;
}

void TreeArena::release() {
  for (const Block &b : blocks_)
    ::munmap(b.base, b.size);
  blocks_.clear();
  mapped_ = 0;
  reuse();
}

void TreeArena::reuse() {
  for (Block &b : blocks_)
    b.used = 0;
  current_ = 0;
  last_ = nullptr;
  std::fill(std::begin(free_), std::end(free_), nullptr);
}

// The blocks keep to small pages: a huge page has the kernel clear (and often first compact)
// 2 MB at one fault, which on a busy machine cost far more time than the faults it spares.
void TreeArena::add_block(std::size_t need) {
  std::size_t size = blocks_.empty() ? kMinBlock : std::min(blocks_.back().size * 2, kMaxBlock);
  if (size < need)
    size = (need + kMinBlock - 1) / kMinBlock * kMinBlock;
  if (size > limit_ - std::min(mapped_, limit_))
    out_of_memory();
  blocks_.reserve(blocks_.size() + 1); // so that the push below cannot fail after the mapping
  void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED)
    out_of_memory();
#ifdef MADV_NOHUGEPAGE
  ::madvise(p, size, MADV_NOHUGEPAGE);
#endif
  blocks_.push_back({static_cast<char *>(p), size, 0, 0});
  current_ = blocks_.size() - 1;
  mapped_ += size;
  last_ = nullptr;
}

} // namespace vaskit::markdown::detail
