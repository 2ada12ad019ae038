// pugixml's memory, routed through this library: every allocation a parse makes on a thread can
// be bounded (AllocationBudget), so that a text no document could hold fails as "out of memory"
// instead of taking the host's memory. pugixml's allocation functions are process-wide, so the
// library links pugixml statically: nothing outside this library's own copy of pugixml changes.
#ifndef QX_PLATFORM_POSIX_PUGI_ALLOCATOR_H_
#define QX_PLATFORM_POSIX_PUGI_ALLOCATOR_H_

#include <cstddef>

namespace qx::platform::posix {

// Routes pugixml's allocations to this library's allocator (once per process; before the first
// document exists). Blocks come from malloc and go back to free, whatever the routing is when
// they were made.
void InstallPugiAllocator();

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

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_PUGI_ALLOCATOR_H_
