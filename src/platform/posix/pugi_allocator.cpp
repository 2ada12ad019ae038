#include "platform/posix/pugi_allocator.h"

#include <pugixml.hpp>

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace qx::platform::posix {
namespace {

thread_local std::size_t t_budget = SIZE_MAX;  // what pugixml may still allocate on this thread

void* Allocate(std::size_t size) {
  if (t_budget != SIZE_MAX) {
    if (size > t_budget) return nullptr;
    t_budget -= size;
  }
  return std::malloc(size);
}

void Deallocate(void* block) { std::free(block); }

}  // namespace

void InstallPugiAllocator() {
  static std::once_flag once;
  std::call_once(once, [] { pugi::set_memory_management_functions(Allocate, Deallocate); });
}

AllocationBudget::AllocationBudget(std::size_t bytes) : outer_(t_budget) {
  t_budget = bytes < outer_ ? bytes : outer_;
}

AllocationBudget::~AllocationBudget() { t_budget = outer_; }

}  // namespace qx::platform::posix
