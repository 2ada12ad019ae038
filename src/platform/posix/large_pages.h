// Memory for parsing large texts: mappings of their own, advised to the kernel for huge pages,
// and given back as soon as the document that used them goes.
//
// A reply of 50 MB becomes about 50 MB of UTF-8 text and 130 MB of pugixml nodes. From the C
// library those come as fresh 4 KB pages on every call (above 32 MB it maps every buffer anew,
// and the heap gives back what a document frees), and the kernel's faults on them cost more
// than the parse itself. In 2 MB pages the same memory costs a hundredth of the faults. Nothing
// is kept between calls, and nothing outside this library's own copy of pugixml changes: the
// library links pugixml statically and its symbols stay inside the library.
#ifndef QX_PLATFORM_POSIX_LARGE_PAGES_H_
#define QX_PLATFORM_POSIX_LARGE_PAGES_H_

#include <cstddef>

namespace qx::platform::posix {

// Texts from this size on are parsed in large pages.
inline constexpr std::size_t kLargeTextBytes = std::size_t{4} << 20;

// A byte buffer of its own mapping. Empty until Allocate; the mapping goes with the object.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  ~LargeBuffer() { Release(); }

  // Room for `bytes` bytes (pages are only used once written); false when the system has no
  // memory to map.
  bool Allocate(std::size_t bytes);
  void Release();
  char* data() const { return data_; }

 private:
  char* data_ = nullptr;
  std::size_t mapped_ = 0;
};

// Routes pugixml's allocations to this library's allocator (once per process; before the
// first document exists). Every block carries a small header, so blocks from either source are
// freed correctly whatever the routing is at the time.
void InstallPugiAllocator();

// While an object of this class lives on a thread, pugixml's allocations on that thread come
// from large pages: chunks of 16 MB shared by all documents, unmapped when their last block is
// freed. Elsewhere they come from malloc.
class LargePagesScope {
 public:
  LargePagesScope();
  LargePagesScope(const LargePagesScope&) = delete;
  LargePagesScope& operator=(const LargePagesScope&) = delete;
  ~LargePagesScope();

 private:
  bool outer_;
};

// While an object of this class lives on a thread, pugixml's allocations on that thread may
// come to at most `bytes` in all; past that they fail, and pugixml reports out of memory.
class AllocationBudget {
 public:
  explicit AllocationBudget(std::size_t bytes);
  AllocationBudget(const AllocationBudget&) = delete;
  AllocationBudget& operator=(const AllocationBudget&) = delete;
  ~AllocationBudget();

 private:
  std::size_t outer_;
};

// Bytes mapped by the two above at this moment: 0 once every large document has gone.
std::size_t LargePagesMapped();

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_LARGE_PAGES_H_
