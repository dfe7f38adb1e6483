// Memory for the cmark trees of one rendering, handed out from large blocks and given back all
// at once. The trees are built once and dropped whole; node by node, allocating and freeing
// them took a large share of the rendering.
//
// cmark cannot handle an allocator that returns nothing, so both allocators here throw
// markdown::Error instead: the exception leaves cmark's C frames (built with unwind tables) and
// the rendering of that one text fails, its tree memory going with the arena.
#pragma once

#include <cmark-gfm.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vaskit::markdown::detail {

class TreeArena {
public:
  // `limit`: the most bytes the arena maps; beyond it allocations throw.
  explicit TreeArena(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  TreeArena(const TreeArena &) = delete;
  TreeArena &operator=(const TreeArena &) = delete;
  ~TreeArena() { release(); }

  // `fresh`, when given, tells whether the memory was never handed out before (then it is still
  // zero, as the kernel mapped it).
  void *allocate(std::size_t size, bool *fresh = nullptr);
  void *reallocate(void *ptr, std::size_t size);
  void deallocate(void *ptr);
  // Gives back every block; all pointers handed out become invalid.
  void release();
  // Forgets every allocation but keeps the blocks for the next trees, which then need no fresh
  // pages; all pointers handed out become invalid.
  void reuse();

private:
  struct Block {
    char *base;
    std::size_t size;
    std::size_t used;
    std::size_t written; // bytes from base that may have been written: past them, still zero
  };
  // cmark's structures need no more than pointer alignment.
  static constexpr std::size_t kAlign =
      alignof(std::max_align_t) < 8 ? alignof(std::max_align_t) : 8;
  static constexpr std::size_t kHeader = 8; // the requested size
  static constexpr std::size_t kMaxReused = 512;
  static std::size_t round_up(std::size_t n) {
    return n == 0 ? kAlign : (n + kAlign - 1) / kAlign * kAlign;
  }
  static std::size_t size_of(const char *p);
  void add_block(std::size_t need);

  std::size_t limit_;
  std::size_t mapped_ = 0;
  std::vector<Block> blocks_;
  std::size_t current_ = 0; // the block allocations come from
  char *last_ = nullptr;
  void *free_[kMaxReused / kAlign + 1] = {};
};

// Tree memory from the arena of the innermost ArenaScope of this thread (cmark's allocator
// interface has no context pointer).
extern cmark_mem tree_mem;

// Heap memory for what outlives the trees (the rendered HTML); throws when it runs out.
extern cmark_mem heap_mem;

class ArenaScope {
public:
  explicit ArenaScope(TreeArena &arena);
  ~ArenaScope();
  ArenaScope(const ArenaScope &) = delete;
  ArenaScope &operator=(const ArenaScope &) = delete;

private:
  TreeArena *previous_;
};

} // namespace vaskit::markdown::detail
