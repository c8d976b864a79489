// The manager's callback slots and buffer switch, shared between the manager,
// its generated callback sets and its in-process tests.
#ifndef MB_ASIO_ASIOMAN_INTERNAL_H
#define MB_ASIO_ASIOMAN_INTERNAL_H

#include <atomic>

#include "asio/asioman.h"

// One callback slot: the driver's callbacks carry no context, so each slot
// owns its own four functions and finds its device here. Read by driver
// threads, written by the GUI thread.
typedef struct ASIOMAN_SLOT {
  Relaxed<int32_t> nDeviceIndex;  // 0 when free
  Relaxed<int32_t> bInUse;
  Relaxed<ASIOMAN_DRIVERENTRY*> pEntry;
  // Driver callbacks inside this slot right now; unbinding waits for 0, so
  // nothing still holds the entry when close clears it.
  std::atomic<int32_t> nActive;
} ASIOMAN_SLOT;

// Slot k's (1..8) four driver entry points, in ASIOCallbacks order.
const ASIOCallbacks* ASIOMAN_SlotCallbacks(int nSlot);
// Slot k's record in the manager state.
ASIOMAN_SLOT* ASIOMAN_GetSlot(int nSlot);

void ASIOMAN_OnSampleRateDidChange(ASIOMAN_DRIVERENTRY* pEntry, ASIOSampleRate fRate);
int32_t ASIOMAN_OnAsioMessage(ASIOMAN_DRIVERENTRY* pEntry, int32_t nSelector, int32_t nValue, void* pMessage,
                              double* pOpt);

// Binds the lowest free slot to the entry and copies that slot's callbacks
// into the device. Returns the slot number 1..8, or 0 when all are in use.
int ASIOMAN_BindSlot(ASIOMAN_DRIVERENTRY* pEntry, int nIndex);
// Frees every slot bound to the index once no callback is inside it, waiting
// at most nMilliseconds for those still running. 1 when all were freed; 0
// when a callback stayed inside: that slot stays bound to the index.
int ASIOMAN_UnbindSlots(int nIndex, int nMilliseconds);
void ASIOMAN_ResetTiming(ASIOMAN_DEVICE* pDevice);
// Makes the driver's threads stand aside (bStopping), then waits, by elapsed
// time, at most nMilliseconds for a running buffer switch to end (0 only
// looks). 1 when no switch runs, 0 when one still does at the bound.
int ASIOMAN_WaitIdle(ASIOMAN_DEVICE* pDevice, int nMilliseconds);
// The buffer switch shared by all slots; pTime is never null.
void ASIOMAN_OnBufferSwitch(ASIOMAN_DRIVERENTRY* pEntry, ASIOTime* pTime, int32_t nHalfBuffer);

// How long stop and close wait for a running switch before they keep the
// device: 5000 ms; in-process tests shorten it. 0 or less restores 5000.
void ASIOMAN_SetStuckBound(int nMilliseconds);

#endif  // MB_ASIO_ASIOMAN_INTERNAL_H
