// Shared between the manager and its generated callback sets.
#ifndef MB_ASIO_ASIOMAN_INTERNAL_H
#define MB_ASIO_ASIOMAN_INTERNAL_H

#include "asio/asioman.h"

// Slot k's (1..8) four driver entry points, in ASIOCallbacks order.
const ASIOCallbacks* ASIOMAN_SlotCallbacks(int nSlot);
// Slot k's record in the manager state.
ASIOMAN_SLOT* ASIOMAN_GetSlot(int nSlot);

void ASIOMAN_OnSampleRateDidChange(ASIOMAN_DRIVERENTRY* pEntry, ASIOSampleRate fRate);
int32_t ASIOMAN_OnAsioMessage(ASIOMAN_DRIVERENTRY* pEntry, int32_t nSelector, int32_t nValue, void* pMessage,
                              double* pOpt);

// How long stop and close wait for a running switch before they keep the
// device: 5000 ms; in-process tests shorten it. 0 or less restores 5000.
void ASIOMAN_SetStuckBound(int nMilliseconds);

#endif  // MB_ASIO_ASIOMAN_INTERNAL_H
