#include "platform/posix/large_pages.h"

#include <sys/mman.h>

#include <pugixml.hpp>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace qx::platform::posix {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kChunkBytes = std::size_t{16} << 20;
// Every block starts with a header naming its chunk (none: from malloc); 16 bytes keep the
// block as aligned as malloc's.
constexpr std::size_t kHeaderBytes = 16;

struct Chunk {
  std::size_t mapped;  // bytes of the mapping, which starts with this object
  std::size_t used;    // bytes handed out from the start of the mapping
  std::size_t live;    // blocks not yet freed
};
constexpr std::size_t kChunkHead = (sizeof(Chunk) + 15) / 16 * 16;

struct alignas(16) Header {
  Chunk* chunk;
};
static_assert(sizeof(Header) == kHeaderBytes);

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

std::atomic<std::size_t> g_mapped{0};  // bytes mapped here, for LargePagesMapped

void Unmap(void* memory, std::size_t mapped) {
  munmap(memory, mapped);
  g_mapped -= mapped;
}

// A mapping of at least `bytes` bytes that starts on a huge page, advised for huge pages.
void* MapAligned(std::size_t bytes, std::size_t* mapped) {
  if (bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
  const std::size_t keep = RoundUp(bytes, kHugePage);
  const std::size_t length = keep + kHugePage;
  void* raw = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const std::size_t tail = length - (aligned - start) - keep;
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + keep), tail);
  // Without transparent huge pages this fails and the mapping works in small pages.
  madvise(reinterpret_cast<void*>(aligned), keep, MADV_HUGEPAGE);
  g_mapped += keep;
  *mapped = keep;
  return reinterpret_cast<void*>(aligned);
}

thread_local bool t_large_pages = false;
thread_local std::size_t t_budget = SIZE_MAX;  // what pugixml may still allocate on this thread
std::mutex g_mutex;
Chunk* g_current = nullptr;  // the chunk new blocks come from; under g_mutex

Chunk* NewChunk(std::size_t bytes) {
  std::size_t mapped = 0;
  void* memory = MapAligned(bytes, &mapped);
  if (memory == nullptr) return nullptr;
  return new (memory) Chunk{mapped, kChunkHead, 0};
}

void* Stamp(void* block, Chunk* chunk) {
  static_cast<Header*>(block)->chunk = chunk;
  return static_cast<char*>(block) + kHeaderBytes;
}

void* AllocateLarge(std::size_t size) {
  if (size > SIZE_MAX / 2) return nullptr;
  const std::size_t need = RoundUp(kHeaderBytes + size, 16);
  if (need > kChunkBytes / 4) {
    // A block of its own mapping, unmapped with it.
    Chunk* own = NewChunk(kChunkHead + need);
    if (own == nullptr) return nullptr;
    own->used = own->mapped;
    own->live = 1;
    return Stamp(reinterpret_cast<char*>(own) + kChunkHead, own);
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_current == nullptr || g_current->mapped - g_current->used < need) {
    // The full chunk goes when its last block does.
    Chunk* fresh = NewChunk(kChunkBytes);
    if (fresh == nullptr) return nullptr;
    g_current = fresh;
  }
  char* block = reinterpret_cast<char*>(g_current) + g_current->used;
  g_current->used += need;
  ++g_current->live;
  return Stamp(block, g_current);
}

void* Allocate(std::size_t size) {
  if (t_budget != SIZE_MAX) {
    if (size > t_budget) return nullptr;
    t_budget -= size;
  }
  if (t_large_pages) {
    if (void* block = AllocateLarge(size)) return block;
  }
  if (size > SIZE_MAX - kHeaderBytes) return nullptr;
  void* raw = std::malloc(kHeaderBytes + size);
  return raw == nullptr ? nullptr : Stamp(raw, nullptr);
}

void Deallocate(void* block) {
  if (block == nullptr) return;
  auto* header = reinterpret_cast<Header*>(static_cast<char*>(block) - kHeaderBytes);
  Chunk* chunk = header->chunk;
  if (chunk == nullptr) {
    std::free(header);
    return;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (--chunk->live == 0) {
    // Nothing is kept for later: the pages go back to the system at once.
    if (chunk == g_current) g_current = nullptr;
    Unmap(chunk, chunk->mapped);
  }
}

}  // namespace

bool LargeBuffer::Allocate(std::size_t bytes) {
  Release();
  std::size_t mapped = 0;
  void* memory = MapAligned(bytes, &mapped);
  if (memory == nullptr) return false;
  data_ = static_cast<char*>(memory);
  mapped_ = mapped;
  return true;
}

void LargeBuffer::Release() {
  if (data_ != nullptr) Unmap(data_, mapped_);
  data_ = nullptr;
  mapped_ = 0;
}

void InstallPugiAllocator() {
  static std::once_flag once;
  std::call_once(once, [] { pugi::set_memory_management_functions(Allocate, Deallocate); });
}

std::size_t LargePagesMapped() { return g_mapped.load(); }

AllocationBudget::AllocationBudget(std::size_t bytes) : outer_(t_budget) {
  t_budget = bytes < outer_ ? bytes : outer_;
}

AllocationBudget::~AllocationBudget() { t_budget = outer_; }

LargePagesScope::LargePagesScope() : outer_(t_large_pages) { t_large_pages = true; }

LargePagesScope::~LargePagesScope() { t_large_pages = outer_; }

}  // namespace qx::platform::posix
