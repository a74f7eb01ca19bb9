#include "support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
bool counting = false;
std::size_t allocationCount = 0;

void* allocate(std::size_t size) {
  if (counting) {
    ++allocationCount;
  }
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

AllocationCounter::AllocationCounter() noexcept {
  allocationCount = 0;
  counting = true;
}

AllocationCounter::~AllocationCounter() { counting = false; }

std::size_t AllocationCounter::allocations() const noexcept { return allocationCount; }
