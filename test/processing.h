// ProcessingCallback: the client callback of the device manager for a test
// run. Platform-free; on the driver's threads it reaches the GUI only through
// memory (statistics, history, log lines).
#ifndef MB_TEST_PROCESSING_H
#define MB_TEST_PROCESSING_H

#include <stdint.h>

#include "asio/asioman_types.h"

struct APPCONTEXT;

int ProcessingCallback(void* context, ASIOMAN_DEVICE* device, uint32_t order, intptr_t param1, intptr_t param2);

// Output channel c gets input channel c mod inputs; silence without inputs.
void RenderPassThrough(const int32_t* in, int32_t* out, int32_t count, int32_t inputs, int32_t outputs);

// Ends the run: no buffer is processed from now until the next preparation.
// Then frees the sine table and the copy blocks unless a buffer is being
// processed right now (then they are left, never pulled from under it, and
// the next preparation is refused until it is done). Returns 0 when freed or
// nothing was there, -1 when left.
int PROCESSING_FreeRunBlocks(APPCONTEXT* context);

#endif  // MB_TEST_PROCESSING_H
