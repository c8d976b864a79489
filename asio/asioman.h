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

#include "asio/asio_interface.h"
#include "asio/asioman_types.h"

// Reference-counted; the first call sets up the driver list, reads the counter
// frequency, initialises COM and scans the drivers. Returns 1, or 0 when the
// list block cannot be allocated.
int ASIOMAN_Init(HINSTANCE hInstance);
// Returns the count of Init calls still unmatched; the last call stops and
// closes every bound device, frees the list and uninitialises COM.
int ASIOMAN_End(void);
// 1 when the last End had to leave a driver loaded because one of its
// callbacks was still running: whatever that callback reaches must outlive it.
int ASIOMAN_LeftDriverRunning(void);

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
// Asks the driver to show its control panel, opening the device for the
// panel's duration when it is not open. 0 when it did; otherwise the driver's
// controlPanel result with its error text (printable) in szText, or -1 for a
// bad index (no text) or a device that could not be opened (its report).
int ASIOMAN_ShowControlPanel(int nIndex, HWND hwnd, char* szText, size_t nTextSize);
// 1 when the manager holds no driver for the device: never opened, or its
// close finished; also for a bad index. 0 while it is open, after a close
// that kept it because a callback still ran, and after a failed open whose
// driver the next open or close releases.
int ASIOMAN_IsDeviceClosed(int nIndex);

// Takes the first driver request or stream error that the device's driver
// threads recorded since the last take (they only record: the GUI thread
// acts). 1 with *pEvent filled, 0 when there was none. When the event came in
// the device's current stream and the device is open, its report text is
// written into the device's report.
int ASIOMAN_TakeEvent(int nIndex, ASIOMAN_EVENT* pEvent);
// The number of the device's latest stream, given by every start (numbers
// grow over all devices); 0 before the first.
int32_t ASIOMAN_GetStream(int nIndex);
// The counter time of the driver's latest buffer switch call since the start
// of its stream, processed or not; 0 when none came.
int64_t ASIOMAN_GetLastSwitchCall(int nIndex);

// The entry at a 1-based index, or null when the index is out of range.
ASIOMAN_DRIVERENTRY* ASIOMAN_GetEntry(int nIndex);
int ASIOMAN_GetEntryCount(void);
// The performance-counter frequency read by ASIOMAN_Init (0 before).
int64_t ASIOMAN_GetCounterFrequency(void);

#endif  // MB_ASIO_ASIOMAN_H
