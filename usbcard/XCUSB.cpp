// CXCUSB: finding the USB audio driver's API library, binding it, opening the
// DO-ZAZ card, and the firmware download.
#include "usbcard/XCUSB.h"

#include <climits>
#include <cstdio>

#include "common/Log.h"
#include "platform/Dialog.h"

namespace orvex {

using namespace usbaudio;

namespace {

const CXCUSB::LibrarySource& SystemSource() {
    static const CXCUSB::LibrarySource source{
        [](const std::string& path) { return plat::LoadLibrary(path); },
        [](plat::LibraryHandle library, const char* name) { return plat::GetProcAddress(library, name); },
        [](plat::LibraryHandle library) { plat::FreeLibrary(library); },
    };
    return source;
}
const CXCUSB::LibrarySource* g_installedSource = nullptr;

constexpr const char* kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr uint32_t kRegistryBufferBytes = 260;

// A property text: up to its terminator or the end of its field, whichever
// comes first, as UTF-8 for the log.
std::string Narrow(const char16_t* text, size_t field) {
    std::string out;
    for (size_t i = 0; i < field && text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < field && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = '?';  // half a pair means nothing on its own
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

void CXCUSB::SetLibrarySource(const LibrarySource* source) { g_installedSource = source; }

CXCUSB::CXCUSB() = default;

CXCUSB::~CXCUSB() { Close(); }

std::string CXCUSB::ProgramFilesDirectory() {
    // A 32-bit program on a 64-bit system reads the registry's 32-bit view,
    // whose "ProgramFilesDir" is the x86 folder; the driver lives in the native one.
    bool wow64 = false;
    const char* value = plat::IsWow64Process(&wow64) && wow64 ? "ProgramW6432Dir" : "ProgramFilesDir";
    plat::RegistryKey key = 0;
    if (plat::RegOpenKeyEx(plat::RegistryRoot::LocalMachine, kCurrentVersionKey, &key)) {
        std::string dir;
        const bool read = plat::RegQueryValueEx(key, value, &dir, kRegistryBufferBytes);
        plat::RegCloseKey(key);
        if (read) return dir;
    }
    const std::string windows = plat::GetWindowsDirectory();
    char dir[32];
    std::snprintf(dir, sizeof dir, "%c:\\Program Files", windows.empty() ? 'C' : windows[0]);
    return dir;
}

std::array<std::string, 4> CXCUSB::LibraryPaths() {
    const std::string p = ProgramFilesDirectory();
    return {
        p + "\\Corvane" + "\\DO-ZAZ Audio Driver" + "\\" + "usbaudioapi.dll",
        p + "\\Corvane" + "\\DO-ZAZ Audio Driver" + "\\" + "xcusbaudapi.dll",
        p + "\\Harken\\Relay 4x4 Driver\\" + "harkenaudapi.dll",
        p + "\\Corvane" + "\\Tavi USB Audio Driver" + "\\" + "TaviUSBapi.dll",
    };
}

template <typename Fn>
bool CXCUSB::Resolve(const char* name, Fn* slot) {
    plat::ProcAddress address = m_pSource->resolve(m_hLibrary, name);
    if (!address) {
        plat::MessageBox("GetProcAddress failed", name, plat::mb::Ok);
        return false;
    }
    *slot = reinterpret_cast<Fn>(address);
    return true;
}

bool CXCUSB::BindFunctions() {
    // In table order; the first one missing ends the binding with its box.
    bool bound = true;
#define ORVEX_RESOLVE(result, name, parameters, arguments) \
    if (bound && !m_Api.name) bound = Resolve(#name, &m_Api.name);
    ORVEX_USBAUDIO_FUNCTIONS(ORVEX_RESOLVE)
#undef ORVEX_RESOLVE
    return bound;
}

bool CXCUSB::Open(int32_t index) {
    Close();  // a second Open must not strand what the first one holds
    m_pSource = g_installedSource ? g_installedSource : &SystemSource();

    for (const std::string& path : LibraryPaths()) {
        m_hLibrary = m_pSource->load(path);
        if (m_hLibrary) {
            OrvexLog("DO-ZAZ: Opened [%s]", path.c_str());
            break;
        }
        OrvexLog("DO-ZAZ: Unable to locate [%s]!\n", path.c_str());
    }
    if (!m_hLibrary) return false;

    if (!Resolve("USBAUDIO_GetApiVersion", &m_Api.USBAUDIO_GetApiVersion)) return false;
    OrvexLog("APIVERSION %08lx", static_cast<unsigned long>(m_Api.USBAUDIO_GetApiVersion()));
    if (!BindFunctions()) return false;

    if (m_Api.USBAUDIO_EnumerateDevices() == USBAUDIO_STATUS_CUSTOM_INI_MISSING) {
        OrvexLog("CXCUSB::Open Failure! Unable to locate CUSTOM.INI file!");
        plat::MessageBox("Unable to locate \"custom.ini\" file!", "DO-ZAZ", plat::mb::Ok);
    }

    USBAUDIO_DRIVER_INFO info{};
    if (m_Api.USBAUDIO_GetDriverInfo(&info) == USBAUDIO_STATUS_SUCCESS)
        OrvexLog("Driver %d.%d.%d", static_cast<int>(info.driverMajorVersion), static_cast<int>(info.driverMinorVersion),
                 static_cast<int>(info.driverPatchVersion));

    // A negative index names no device either.
    if (index < 0 || static_cast<uint32_t>(index) >= m_Api.USBAUDIO_GetDeviceCount()) {
        OrvexLog("CXCUSB::Open Failure! No Devices Found!");
        return false;
    }
    USBAUDIO_HANDLE handle = 0;
    if (m_Api.USBAUDIO_OpenDeviceByIndex(static_cast<uint32_t>(index), &handle) != USBAUDIO_STATUS_SUCCESS) return false;
    m_hDevice = handle;
    m_nDeviceIndex = index;

    USBAUDIO_DEVICE_PROPERTIES properties{};
    if (m_Api.USBAUDIO_GetDeviceProperties(m_hDevice, &properties) != USBAUDIO_STATUS_SUCCESS) return false;
    OrvexLog("Found DO-ZAZ [%s] [%s] [%s]", Narrow(properties.manufacturer, USBAUDIO_MAX_TEXT).c_str(),
             Narrow(properties.product, USBAUDIO_MAX_TEXT).c_str(),
             Narrow(properties.serialNumber, USBAUDIO_MAX_TEXT).c_str());
    return true;
}

void CXCUSB::Close() {
    if (m_hDevice != 0 && m_Api.USBAUDIO_CloseDevice) m_Api.USBAUDIO_CloseDevice(m_hDevice);
    m_hDevice = 0;
    if (m_hLibrary && m_pSource) m_pSource->release(m_hLibrary);
    m_hLibrary = nullptr;
    m_Api = {};
}

uint32_t CXCUSB::SetSampleRate(uint32_t hertz) {
    if (m_hDevice == 0) return kNotOpen;
    return m_Api.USBAUDIO_SetSampleRate(m_hDevice, hertz);
}

uint32_t CXCUSB::GetSampleRate(uint32_t* hertz) {
    if (m_hDevice == 0 || !hertz) return kNotOpen;
    return m_Api.USBAUDIO_GetCurrentSampleRate(m_hDevice, hertz);
}

void CXCUSB::ReportStatus(USBAUDIO_STATUS status) {
    const char* text = m_Api.USBAUDIO_StatusCodeStringA(status);
    char line[512];
    std::snprintf(line, sizeof line, "%s\t\t= 0x%08lX", text ? text : "", static_cast<unsigned long>(status));
    plat::OutputDebugString(line);
    OrvexLog("%s", line);
}

bool CXCUSB::ProgramEEPROM(const uint8_t* image, uint32_t size, plat::IDialogSurface& window, int progressId) {
    OrvexLog("ProgramEEPROM DO-ZAZ %lu", static_cast<unsigned long>(size));
    if (m_hDevice == 0 || !image) return false;

    USBAUDIO_STATUS status = m_Api.USBAUDIO_LoadFirmwareImageFromBuffer(image, size, 0);
    if (status != USBAUDIO_STATUS_SUCCESS) {
        ReportStatus(status);
        return false;
    }
    status = m_Api.USBAUDIO_StartDfuDownload(static_cast<uint32_t>(m_nDeviceIndex), 0, 0);
    if (status != USBAUDIO_STATUS_SUCCESS) {
        ReportStatus(status);
        return false;
    }

    const int range = size > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    window.SetProgressRange(progressId, 0, range);

    // A failed poll leaves the last values standing, so the bar does not jump back.
    uint32_t state = 0, bytesDone = 0, totalBytes = 0, completion = 0;
    uint32_t seenState = ~0u, seenBytes = ~0u;
    uint32_t lastChange = plat::GetTickCount();
    for (;;) {
        status = m_Api.USBAUDIO_GetDfuStatus(&state, &bytesDone, &totalBytes, &completion);
        window.SetProgressPos(progressId, bytesDone > static_cast<uint32_t>(INT_MAX) ? INT_MAX : int(bytesDone));
        plat::PumpOneMessage();
        if (status != USBAUDIO_STATUS_SUCCESS) ReportStatus(status);
        if (state == USBAUDIO_DFU_STATE_FINISHED) break;
        if (state == USBAUDIO_DFU_STATE_FAILED) {
            if (completion != USBAUDIO_STATUS_SUCCESS) ReportStatus(completion);
            break;
        }
        const uint32_t now = plat::GetTickCount();
        if (state != seenState || bytesDone != seenBytes) {
            seenState = state;
            seenBytes = bytesDone;
            lastChange = now;
        } else if (now - lastChange > kDfuStallMs) {
            OrvexLog("ProgramEEPROM DO-ZAZ no progress for %lu ms!", static_cast<unsigned long>(now - lastChange));
            break;  // the driver's end of the procedure has the last word
        }
    }

    status = m_Api.USBAUDIO_EndDfuProc();
    if (status != USBAUDIO_STATUS_SUCCESS) {
        ReportStatus(status);
        return false;
    }
    OrvexLog("ProgramEEPROM DO-ZAZ Success!");
    return true;
}

}  // namespace orvex
