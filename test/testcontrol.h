// Test run control: starts and stops a run on the selected ASIO driver, on
// the GUI thread, from menu commands and from the main window's destruction.
#ifndef MB_TEST_TESTCONTROL_H
#define MB_TEST_TESTCONTROL_H

#include <stdint.h>

#include "app/appcontext.h"

// The word-size tag of the window title and the device line.
#define TESTCONTROL_WORDSIZE_TAG (sizeof(void*) == 8 ? "64Bits" : "32Bits")

// A run on g_appContext.nAsioDriver; nothing without a selected driver.
void StartTest(void);
// Stops and closes the selected driver, then releases what the run left.
void StopTest(void);
// StopTest, the new limit, StartTest, then repaints the window.
void RestartWithIOLimit(APP_HWND window, int32_t limit);

// At every refresh tick: acts on what the selected driver's threads recorded
// (a reset, resync or rate-change request restarts the run, a stream error
// stops it) and watches the running stream for stalls; repaints the window
// after a stop.
void TESTCONTROL_Tick(APP_HWND window);

#endif  // MB_TEST_TESTCONTROL_H
