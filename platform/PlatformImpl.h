#pragma once
// What each OS implementation provides to the shared parts of the layer.
#include <cstdint>

#include "platform/Platform.h"

namespace plat::impl {
uint64_t RealMicros();
void RealSleep(uint32_t ms);
void RunIdleHook();  // after every Sleep and PumpOneMessage
// One real wait on the sockets of the sets (timeout -1: for ever); select's result.
int WaitSockets(FdSet* readSet, FdSet* writeSet, int64_t timeoutMicros);
}  // namespace plat::impl
