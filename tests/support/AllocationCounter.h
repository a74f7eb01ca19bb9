#pragma once

#include <cstddef>

// Counts calls of the global operator new while a scope is alive, so tests
// can prove that a piece of code allocates nothing.
class AllocationCounter {
 public:
  AllocationCounter() noexcept;
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  std::size_t allocations() const noexcept;
};
