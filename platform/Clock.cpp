// The program clock: the OS tick counter, or a virtual clock for tests.
#include "platform/Platform.h"
#include "platform/PlatformImpl.h"

#include <atomic>

namespace plat {
namespace {
std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtualMicros{0};
std::atomic<uint32_t> g_step{10};
}  // namespace

void UseVirtualClock(bool on) { g_virtual = on; }
bool IsVirtualClock() { return g_virtual; }
void SetVirtualClockStep(uint32_t micros) { g_step = micros; }
void AdvanceVirtualClock(uint64_t micros) { g_virtualMicros += micros; }

uint64_t ClockMicros() {
    if (g_virtual) return g_virtualMicros.fetch_add(g_step) + g_step;
    return impl::RealMicros();
}

uint32_t GetTickCount() { return static_cast<uint32_t>(ClockMicros() / 1000); }

namespace {
std::function<void()>& IdleHook() {
    static std::function<void()> hook;
    return hook;
}
}  // namespace
void SetIdleHook(std::function<void()> hook) { IdleHook() = std::move(hook); }
void impl::RunIdleHook() {
    if (IdleHook()) IdleHook()();
}

void Sleep(uint32_t ms) {
    if (g_virtual)
        g_virtualMicros += uint64_t{ms} * 1000;
    else
        impl::RealSleep(ms);
    impl::RunIdleHook();
}

int DefaultAnswer(unsigned type) {
    switch (type & 0xF) {
        case mb::OkCancel: case mb::Ok: return id::Ok;
        case mb::YesNoCancel: case mb::YesNo: return id::Yes;
        case 0x2: return id::Abort;        // abort/retry/ignore
        case 0x5: return id::Retry;        // retry/cancel
        default: return id::Ok;
    }
}

namespace {
MessageBoxAnswerer& Answerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}
}  // namespace
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) { Answerer() = std::move(answerer); }
const MessageBoxAnswerer& GetMessageBoxAnswerer() { return Answerer(); }

}  // namespace plat
