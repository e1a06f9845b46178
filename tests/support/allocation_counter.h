// SPDX-License-Identifier: GPL-3.0-or-later
// Counts every allocation of the test program that includes it: it replaces the global operator
// new and delete once per test program: one file includes it plainly, every other file of the
// same program defines ALLOCATION_COUNTER_ELSEWHERE before including it and reads the count.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long> g_allocations{0};

#ifndef ALLOCATION_COUNTER_ELSEWHERE

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif
