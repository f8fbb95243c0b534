// The stand-in USB audio driver API library: the 27 USBAUDIO_ exports and the
// UsbSim_ control exports, over the library's own driver. ORVEX_SIM_EXPORT is
// set by the build (dllexport on Windows, default visibility elsewhere).
#include "sim/usbcard/UsbAudioDriver.h"
#include "sim/usbcard/UsbAudioEntries.h"

// The variant that lacks one export keeps the function under another name.
#if defined(ORVEX_SIM_WITHOUT_START_DFU_UPLOAD)
namespace sim::usbcard::entry {
inline constexpr auto USBAUDIO_StartDfuUpload_Withheld = &USBAUDIO_StartDfuUpload;
}
#define USBAUDIO_StartDfuUpload USBAUDIO_StartDfuUpload_Withheld
#endif

#define ORVEX_USBAUDIO_EXPORT(result, name, parameters, arguments)                    \
    extern "C" ORVEX_SIM_EXPORT result ORVEX_USBAUDIO_API name parameters;            \
    extern "C" result ORVEX_USBAUDIO_API name parameters {                            \
        return sim::usbcard::entry::name arguments;                                   \
    }
ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_EXPORT)
#undef ORVEX_USBAUDIO_EXPORT

using sim::usbcard::TheDriver;

extern "C" {

ORVEX_SIM_EXPORT void UsbSim_Configure(const sim::usbcard::Config* config) {
    if (config) TheDriver().Configure(*config);
}

ORVEX_SIM_EXPORT uint32_t UsbSim_GetCard(uint32_t index, sim::usbcard::Card* card) {
    return TheDriver().GetCard(index, card) ? 0u : uint32_t{sim::usbcard::kStatusNoSuchDevice};
}

ORVEX_SIM_EXPORT void UsbSim_GetCounters(sim::usbcard::Counters* counters) {
    if (counters) *counters = TheDriver().GetCounters();
}

ORVEX_SIM_EXPORT void UsbSim_SetClock(uint64_t (*micros)()) { TheDriver().SetClock(micros); }

ORVEX_SIM_EXPORT void UsbSim_SetStreamsActive(uint32_t index, uint32_t active) {
    TheDriver().SetStreamsActive(index, active != 0);
}

ORVEX_SIM_EXPORT void UsbSim_SetCommitCallback(sim::usbcard::CommitCallback callback, void* context) {
    if (!callback) {
        TheDriver().onCommit = nullptr;
        return;
    }
    TheDriver().onCommit = [callback, context](uint32_t card, uint8_t major, uint8_t minor) {
        callback(context, card, major, minor);
    };
}

}  // extern "C"
