#include "sim/adapter/AdapterStudio.h"

#include "adapter/MixerAPI.h"
#include "adapter/OrvexMixer.h"
#include "platform/Platform.h"
#include "sim/adapter/PelkWDM.h"

namespace sim {

AdapterStudio::AdapterStudio(const std::vector<AdapterCardSpec>& cards)
    : driver_(std::make_unique<PelkDriver>(plat::ClockMicros)) {
    for (const AdapterCardSpec& entry : cards) driver_->AddCard(entry.card, entry.unit);
    driver_->Install();
    orvex::CMixerAPI::SetLibraryApi(&PelkDriver::Libraries());
    orvex::COrvexMixer::SetDeviceApi(&PelkDriver::Devices());
}

AdapterStudio::~AdapterStudio() {
    orvex::CMixerAPI::SetLibraryApi(nullptr);
    orvex::COrvexMixer::SetDeviceApi(nullptr);
}

namespace {

struct StandIn {
    plat::LibraryHandle library = nullptr;
    PelkSimCreateFileFn createFile = nullptr;
    PelkSimDeviceIoControlFn deviceIoControl = nullptr;
    PelkSimCloseHandleFn closeHandle = nullptr;
};
StandIn g_standIn;

plat::FileHandle CreateFileDll(const std::string& path, uint32_t, plat::FileShare, plat::FileDisposition, uint32_t) {
    return g_standIn.createFile ? g_standIn.createFile(path.c_str()) : plat::kInvalidFile;
}
bool DeviceIoControlDll(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                        uint32_t outSize, uint32_t* returned) {
    return g_standIn.deviceIoControl && g_standIn.deviceIoControl(device, code, in, inSize, out, outSize, returned) != 0;
}
bool CloseHandleDll(plat::FileHandle device) { return g_standIn.closeHandle && g_standIn.closeHandle(device) != 0; }
constexpr adapter::DeviceApi kDllDevices{CreateFileDll, DeviceIoControlDll, CloseHandleDll};

}  // namespace

bool UseStandInDllDevices() {
    StopUsingStandInDllDevices();
    StandIn s;
    s.library = plat::LoadLibrary("PelkWDM.Dll");
    if (!s.library) return false;
    s.createFile = reinterpret_cast<PelkSimCreateFileFn>(plat::GetProcAddress(s.library, "PelkSimCreateFile"));
    s.deviceIoControl =
        reinterpret_cast<PelkSimDeviceIoControlFn>(plat::GetProcAddress(s.library, "PelkSimDeviceIoControl"));
    s.closeHandle = reinterpret_cast<PelkSimCloseHandleFn>(plat::GetProcAddress(s.library, "PelkSimCloseHandle"));
    if (!s.createFile || !s.deviceIoControl || !s.closeHandle) {
        plat::FreeLibrary(s.library);
        return false;
    }
    g_standIn = s;
    orvex::COrvexMixer::SetDeviceApi(&kDllDevices);
    return true;
}

void StopUsingStandInDllDevices() {
    if (!g_standIn.library) return;
    orvex::COrvexMixer::SetDeviceApi(nullptr);
    plat::FreeLibrary(g_standIn.library);
    g_standIn = StandIn{};
}

}  // namespace sim
