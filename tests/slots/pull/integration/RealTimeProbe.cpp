#include "RealTimeProbe.h"

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

thread_local bool tArmed = false;
thread_local uint64_t tAllocations = 0;
thread_local uint64_t tLocks = 0;

void CountLock() {
  if (tArmed) {
    ++tLocks;
  }
}

void* Allocate(std::size_t size) {
  if (tArmed) {
    ++tAllocations;
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  if (tArmed) {
    ++tAllocations;
  }
  const auto a = static_cast<std::size_t>(align);
  void* p = std::aligned_alloc(a, (std::max<std::size_t>(size, 1) + a - 1) / a * a);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m) {
  static auto real = Next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
  CountLock();
  return real(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
  static auto real = Next<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
  CountLock();
  return real(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
  static auto real = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
  CountLock();
  return real(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
  static auto real = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
  CountLock();
  return real(l);
}
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
  static auto real = Next<int (*)(pthread_cond_t*, pthread_mutex_t*)>("pthread_cond_wait");
  CountLock();
  return real(c, m);
}

}  // extern "C"

namespace velloran::slots::test {

RealTimeProbe::RealTimeProbe() {
  tAllocations = 0;
  tLocks = 0;
  tArmed = true;
}

RealTimeProbe::~RealTimeProbe() {
  tArmed = false;
}

RealTimeCounts RealTimeProbe::Counts() const {
  return {tAllocations, tLocks};
}

}  // namespace velloran::slots::test
