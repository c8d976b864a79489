// ASIOMAN: the ASIO device manager. Opens, prepares, starts, stops and closes
// an installed driver for one client, binds the driver's context-free
// callbacks to devices through eight slots and runs the buffer switch.
//
// Every operation runs on the GUI thread; the buffer switch and the driver's
// other callbacks run on the driver's threads. Device indexes are 1-based
// positions in the driver list (ASIOMAN_DriverList); any other index returns -1.
#ifndef MB_ASIO_ASIOMAN_H
#define MB_ASIO_ASIOMAN_H

#include <windows.h>

#include <atomic>

#include "asio/asio_interface.h"
#include "asio/asioman_types.h"

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

// Reference-counted; the first call sets up the driver list, reads the counter
// frequency, initialises COM and scans the drivers. Returns 1, or 0 when the
// list block cannot be allocated.
int ASIOMAN_Init(HINSTANCE hInstance);
// Returns the count of Init calls still unmatched; the last call stops and
// closes every bound device, frees the list and uninitialises COM.
int ASIOMAN_End(void);

// 0, -1 (bad index, already open, driver failure) or -100 (client refused).
int ASIOMAN_OpenDevice(int nIndex, int nMaxInputs, int nMaxOutputs, void* pClientContext,
                       ASIOMAN_CLIENTCALLBACK pfnClient, HWND hwnd);
// Prepares, then starts: 0 or a failure code (-1, -2, -3, -101, 1, or the
// driver's own createBuffers/getLatencies code).
int ASIOMAN_StartDevice(int nIndex);
// Stops, then unprepares: 0, 1, -1 or the disposeBuffers code.
int ASIOMAN_StopDevice(int nIndex);
// Stops, tells the client, releases the driver and clears the device. 0.
int ASIOMAN_CloseDevice(int nIndex);
// Opens the device for the panel's duration when it is not open. 0.
int ASIOMAN_ShowControlPanel(int nIndex, HWND hwnd);

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

// The entry at a 1-based index, or null when the index is out of range.
ASIOMAN_DRIVERENTRY* ASIOMAN_GetEntry(int nIndex);
int ASIOMAN_GetEntryCount(void);
// The performance-counter frequency read by ASIOMAN_Init (0 before).
int64_t ASIOMAN_GetCounterFrequency(void);

#endif  // MB_ASIO_ASIOMAN_H
