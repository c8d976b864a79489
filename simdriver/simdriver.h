// The simulated ASIO driver object: one per CoCreateInstance, configured by
// the profile registered for its CLSID.
#ifndef MB_SIMDRIVER_SIMDRIVER_H
#define MB_SIMDRIVER_SIMDRIVER_H

#include <windows.h>

#include "asio/asio_interface.h"

// Creates a driver for `clsid` with one reference; null when out of memory.
IASIO* SIMDRIVER_Create(REFCLSID clsid);
// Driver objects alive in this module, for DllCanUnloadNow.
LONG SIMDRIVER_LiveObjects(void);

#endif  // MB_SIMDRIVER_SIMDRIVER_H
