// The manager's callback slots and buffer switch, shared between the manager,
// its generated callback sets and its in-process tests.
//
// The threading contract. The GUI thread runs every manager operation, the
// test control's tick and all painting. The driver's audio thread runs the
// buffer switch and the processing callback; the driver may call
// sampleRateDidChange and asioMessage from any thread, one that the platform
// did not create among them, so those only record. Every field below is a
// std::atomic of its own width; plain loads and stores are relaxed, and the
// three gates order what they guard by the one pattern of asio/handoff.h.
//
//   field                                  written by                        read by        order
//   ASIOMAN_SLOT pEntry (slot gate)        GUI: bind, unbind                 any driver     handoff gate
//   ASIOMAN_SLOT nActive                   any driver thread (in, out)       GUI: unbind    handoff mark
//   ASIOMAN_SLOT nDeviceIndex, bInUse      GUI: bind, unbind                 GUI            relaxed
//   ASIOMAN_DEVICE bStopping (switch gate) GUI: prepare, start, wait;        audio          handoff gate
//                                          any driver thread: requests (1)
//   ASIOMAN_DEVICE bInCallback             audio (in, out)                   GUI: wait      handoff mark
//   ASIOMAN_DEVICE bPrepared               GUI: prepare, unprepare           audio          relaxed, under the gate
//   ASIOMAN_DEVICE bMessageLatched         any driver thread (exchange);     -              acq_rel exchange
//                                          GUI: prepare, close
//   ASIOMAN_DEVICE nSampleRate             GUI: open, prepare;               GUI            relaxed
//                                          any driver thread: rate change
//   ASIOMAN_DEVICE bThreadRaised           audio; GUI: prepare               audio          relaxed
//   ASIOMAN_DEVICE timing (every field)    audio; GUI: start (reset)         GUI: panel     relaxed; a paint may mix
//                                                                                           consecutive switches
//   ASIOMAN_DRIVERENTRY nSwitchCount       audio; GUI: start, close          GUI            relaxed
//   ASIOMAN_DRIVERENTRY nStream            GUI: start                        any driver     relaxed
//   ASIOMAN_DRIVERENTRY nEvent             any driver thread (first wins);   GUI: tick      relaxed; the
//                                          GUI: take (exchange), start                      report is the GUI's
//   ASIOMAN_DRIVERENTRY qpcLastCall        audio; GUI: start                 GUI: tick      relaxed
//   APPCONTEXT pRunDevice, bRunHeld        GUI: prepare, start, stop         audio          handoff gate (run gate)
//   APPCONTEXT nProcessing                 audio (in, out)                   GUI: stop      handoff mark
//   APPCONTEXT statistics, history ring    audio; GUI: start (reset)         GUI: panel     relaxed
//   APPCONTEXT options, nPerf*, sizes      GUI: menu, prepare                audio          relaxed; sizes and
//                                                                                           blocks under the run gate
//   APPCONTEXT nCpuFilters, nFpuFilters    GUI: menu, after building the     audio          release store,
//                                          bank (test/loadgen.h)                            acquire load
//   APPCONTEXT log                         GUI and audio (append)            GUI: view      its own (app/txtbuffer.h)
//
// Written under a closed gate and read only inside it: the device's blocks,
// conversion runs and buffer infos (prepare, close), and the run's sine
// table and copy blocks (preparation, close). The run's distributions are
// the other way round: allocated under the closed gate, filled by the audio
// thread inside it, read by the GUI thread for the summary once it has
// closed again. The device's report text, the run's stream and state and
// its stall watch are the GUI thread's alone.
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
  Relaxed<ASIOMAN_DRIVERENTRY*> pEntry;  // the slot gate: null when free
  // Driver callbacks inside this slot right now; unbinding waits for 0, so
  // nothing still holds the entry when close clears it.
  Relaxed<int32_t> nActive;
  int64_t nReleased;  // GUI thread: order of the slot's last release, 0 never
} ASIOMAN_SLOT;

// Slot k's (1..8) four driver entry points, in ASIOCallbacks order: the
// record that createBuffers hands the driver, which lives as long as the
// process.
ASIOCallbacks* ASIOMAN_SlotCallbacks(int nSlot);
// Slot k's record in the manager state.
ASIOMAN_SLOT* ASIOMAN_GetSlot(int nSlot);

void ASIOMAN_OnSampleRateDidChange(ASIOMAN_DRIVERENTRY* pEntry, ASIOSampleRate fRate);
int32_t ASIOMAN_OnAsioMessage(ASIOMAN_DRIVERENTRY* pEntry, int32_t nSelector, int32_t nValue, void* pMessage,
                              double* pOpt);

// Binds the free slot released longest ago (one never released first, then
// the lowest) to the entry and copies that slot's callbacks into the device.
// Returns the slot number 1..8, or 0 when all are in use.
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
