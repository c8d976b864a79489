// The installed ASIO driver list, read once from the registry: one
// ASIOMAN_DRIVERENTRY per usable driver, addressed by 1-based position.
#ifndef MB_ASIO_ASIODRIVERS_H
#define MB_ASIO_ASIODRIVERS_H

#include <windows.h>

#include "asio/asioman_types.h"
#include "winaudio/recarray.h"

// The global list. Its owner sets it up with
// RECARRAY_Init(list, sizeof(ASIOMAN_DRIVERENTRY), 8192, 8192) before the scan.
RECARRAY* ASIOMAN_DriverList(void);

// Appends every usable driver under HKLM "software\asio" in enumeration
// order. Does nothing unless the list is set up for driver entries.
void ASIOMAN_ScanDrivers(void);

// Fills record from the subkey: 1 when filled, 0 when the subkey is to be
// skipped (no readable "clsid", or no registered class with an existing
// server file).
int ASIOMAN_ReadDriverKey(HKEY asioKey, const WCHAR* subkeyName, ASIOMAN_DRIVERENTRY* record);

// Lower-cases clsidText in place and looks up HKCR "clsid\<text>\InprocServer32".
// pathOut (ASIOMAN_SERVERPATH_SIZE bytes) receives the server path as
// registered. 0 when the class is registered with a server file that exists
// where COM would load it from (expanded, unquoted, a bare name searched),
// -1 otherwise.
int ASIOMAN_FindServerPath(char* clsidText, char* pathOut);

#endif  // MB_ASIO_ASIODRIVERS_H
