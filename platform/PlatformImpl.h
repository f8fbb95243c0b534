#pragma once
// What each OS implementation provides to the shared parts of the layer.
#include <cstdint>

namespace plat::impl {
uint64_t RealMicros();
void RealSleep(uint32_t ms);
void RunIdleHook();  // after every Sleep and PumpOneMessage
}  // namespace plat::impl
