// A field shared between the GUI thread and a driver thread that reads and
// writes like a plain value. Each access is one relaxed atomic load or store of
// the field's own width: no tearing, no data race, and no fence on x86.
#ifndef MB_ASIO_RELAXED_H
#define MB_ASIO_RELAXED_H

#include <atomic>

template <typename T>
struct Relaxed {
  std::atomic<T> value;

  operator T() const { return value.load(std::memory_order_relaxed); }
  Relaxed& operator=(T v) {
    value.store(v, std::memory_order_relaxed);
    return *this;
  }
  Relaxed& operator+=(T v) {
    value.store(value.load(std::memory_order_relaxed) + v, std::memory_order_relaxed);
    return *this;
  }
  // Read-modify-write for fields written by more than one thread.
  T Exchange(T v) { return value.exchange(v, std::memory_order_acq_rel); }
  T FetchAdd(T v) { return value.fetch_add(v, std::memory_order_relaxed); }
};

static_assert(sizeof(Relaxed<int>) == sizeof(int), "Relaxed<T> keeps the width of T");
static_assert(sizeof(Relaxed<long long>) == 8, "Relaxed<T> keeps the width of T");
static_assert(std::atomic<long long>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<float>::is_always_lock_free, "float atomics must be lock-free");

#endif  // MB_ASIO_RELAXED_H
