// The eight callback sets. Driver callbacks carry no context, so each set is
// a template instance that knows its slot number and finds the bound entry
// through it. Every call passes the slot gate (asio/handoff.h) while it runs,
// so that unbinding can wait until no callback still holds the entry.
#include <string.h>

#include "asio/asioman_internal.h"
#include "asio/handoff.h"

namespace {

class SLOTCALL {
 public:
  explicit SLOTCALL(int nSlot) : slot_(ASIOMAN_GetSlot(nSlot)) {
    HANDOFF_Enter(&slot_->nActive);
    entry_ = slot_->pEntry;
    if (entry_) HANDOFF_Opened();
  }
  ~SLOTCALL() { HANDOFF_Leave(&slot_->nActive); }
  ASIOMAN_DRIVERENTRY* Entry() const { return entry_; }

 private:
  ASIOMAN_SLOT* slot_;
  ASIOMAN_DRIVERENTRY* entry_;
};

template <int kSlot>
struct SLOTCALLBACKS {
  static void BufferSwitch(int32_t nHalfBuffer, ASIOBool) {
    SLOTCALL call(kSlot);
    if (!call.Entry()) return;
    ASIOTime time;
    memset(&time, 0, sizeof(time));
    ASIOMAN_OnBufferSwitch(call.Entry(), &time, nHalfBuffer);
  }

  static void SampleRateDidChange(ASIOSampleRate fRate) {
    SLOTCALL call(kSlot);
    if (call.Entry()) ASIOMAN_OnSampleRateDidChange(call.Entry(), fRate);
  }

  static int32_t AsioMessage(int32_t nSelector, int32_t nValue, void* pMessage, double* pOpt) {
    SLOTCALL call(kSlot);
    if (!call.Entry()) return (nSelector == kAsioResetRequest || nSelector == kAsioResyncRequest) ? -1 : 0;
    return ASIOMAN_OnAsioMessage(call.Entry(), nSelector, nValue, pMessage, pOpt);
  }

  static ASIOTime* BufferSwitchTimeInfo(ASIOTime* pTime, int32_t nHalfBuffer, ASIOBool) {
    SLOTCALL call(kSlot);
    if (!call.Entry()) return NULL;
    ASIOTime zero;
    if (!pTime) {
      memset(&zero, 0, sizeof(zero));
      pTime = &zero;
    }
    ASIOMAN_OnBufferSwitch(call.Entry(), pTime, nHalfBuffer);
    return NULL;
  }

  static constexpr ASIOCallbacks kSet = {BufferSwitch, SampleRateDidChange, AsioMessage, BufferSwitchTimeInfo};
};

template <int kSlot>
constexpr ASIOCallbacks SLOTCALLBACKS<kSlot>::kSet;

// The records handed to drivers: initialised before the program runs, never
// written and never freed, so a driver that calls through one after its
// release still reaches its slot's functions, which find the slot free.
ASIOCallbacks g_slotCallbacks[ASIOMAN_MAX_SLOTS] = {
    SLOTCALLBACKS<1>::kSet, SLOTCALLBACKS<2>::kSet, SLOTCALLBACKS<3>::kSet, SLOTCALLBACKS<4>::kSet,
    SLOTCALLBACKS<5>::kSet, SLOTCALLBACKS<6>::kSet, SLOTCALLBACKS<7>::kSet, SLOTCALLBACKS<8>::kSet};

}  // namespace

ASIOCallbacks* ASIOMAN_SlotCallbacks(int nSlot) {
  if (nSlot < 1 || nSlot > ASIOMAN_MAX_SLOTS) return NULL;
  return &g_slotCallbacks[nSlot - 1];
}
