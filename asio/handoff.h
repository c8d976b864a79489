// The one hand-off between a driver thread and the GUI thread, used by every
// gate that lets the GUI thread free or change what a driver thread may be
// using. A driver thread marks itself inside, then reads the gate; the GUI
// thread closes the gate, then reads the mark. A sequentially consistent
// fence stands between the write and the read on each side, so the two
// cannot both miss each other: of the two fences, the later one's read sees
// the other side's write. Either the GUI thread sees the driver thread inside
// and waits for it, or the driver thread sees the gate closed and leaves.
// Opening publishes what the GUI thread prepared (release fence, then the
// gate store; the driver thread's acquire fence after reading it open), and
// leaving publishes what the driver thread wrote (release decrement; the GUI
// thread's acquire fence after reading no one inside).
//
// The gates (the full table of shared fields is in asio/asioman_internal.h):
//   slot gate    mark ASIOMAN_SLOT::nActive          gate ASIOMAN_SLOT::pEntry
//   switch gate  mark ASIOMAN_DEVICE::bInCallback    gate ASIOMAN_DEVICE::bStopping
//   run gate     mark APPCONTEXT::nProcessing        gate APPCONTEXT::pRunDevice and bRunHeld
#ifndef MB_ASIO_HANDOFF_H
#define MB_ASIO_HANDOFF_H

#include <stdint.h>

#include <atomic>

#include "asio/relaxed.h"

// Driver thread: counts itself in and returns how many were inside before.
// Read the gate next.
inline int32_t HANDOFF_Enter(Relaxed<int32_t>* pInside) {
  int32_t nBefore = pInside->value.fetch_add(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return nBefore;
}

// Driver thread, after reading the gate open: what the GUI thread published
// before opening it is seen from here on.
inline void HANDOFF_Opened(void) { std::atomic_thread_fence(std::memory_order_acquire); }

// Driver thread: counts itself out; what it wrote inside goes with it.
inline void HANDOFF_Leave(Relaxed<int32_t>* pInside) { pInside->value.fetch_sub(1, std::memory_order_release); }

// GUI thread, before storing the gate open: what it prepared goes with it.
inline void HANDOFF_Publish(void) { std::atomic_thread_fence(std::memory_order_release); }

// GUI thread, after storing the gate closed and before reading the mark.
inline void HANDOFF_Closed(void) { std::atomic_thread_fence(std::memory_order_seq_cst); }

// GUI thread, after HANDOFF_Closed: true when no driver thread is inside;
// what those that left wrote is then seen.
inline bool HANDOFF_IsEmpty(const Relaxed<int32_t>* pInside) {
  if (pInside->value.load(std::memory_order_relaxed) != 0) return false;
  std::atomic_thread_fence(std::memory_order_acquire);
  return true;
}

#endif  // MB_ASIO_HANDOFF_H
