// The counts a simulated driver publishes for other processes while it lives:
// one named section per profile class, so that tests and the harness wait
// for buffers to pile up instead of sleeping. Windows.
#ifndef MB_SIMDRIVER_SIMSHARED_H
#define MB_SIMDRIVER_SIMSHARED_H

#include <windows.h>

#include <stddef.h>

enum { SIMSHARED_NAME_SIZE = 64, SIMSHARED_MAX_STREAMS = 512 };

typedef struct SIMSHARED {
  // Buffer switches begun, over every stream of the class since the section
  // came to be (it lasts while a driver object or a reader holds it).
  volatile LONG64 nSwitches;
  // Callbacks sent after the host's stop by the LateCalls fault; its threads
  // running now.
  volatile LONG64 nLateCalls;
  volatile LONG nLateThreads;
  // Streams started, numbered from 0 in the order of their starts, and the
  // switches of each (late calls excepted); those past the array count only
  // in nSwitches.
  volatile LONG nStreams;
  volatile LONG64 nStreamSwitches[SIMSHARED_MAX_STREAMS];
} SIMSHARED;

// "Local\MBSimAsio{CLSID}".
void SIMSHARED_Name(REFCLSID clsid, char* name, size_t size);
// Opens the class's section, creating it zeroed when no one holds it; null
// (and *view null) on failure.
HANDLE SIMSHARED_Open(REFCLSID clsid, SIMSHARED** view);
void SIMSHARED_Close(HANDLE section, SIMSHARED* view);

#endif  // MB_SIMDRIVER_SIMSHARED_H
