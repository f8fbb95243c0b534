// A stand-in for the driver-install framework library, exporting its four
// functions. It is carried by the installer as "DIFx64.Dll" (systems before
// Windows 7) and the tests put it in place of the system's "DIFxAPI.Dll".
//
// DriverPackageInstallA stages the package into the system's driver store
// with SetupAPI (259 when an identical package is there already), installs
// the package's files for every present card of the maker, and reports each
// step through the registered log callback. Tests steer it through the
// environment:
//   DIFX_STANDIN_RESULT  answer this result instead of doing the work (decimal or 0x...)
//   DIFX_STANDIN_REBOOT  1: ask for a restart
//   DIFX_STANDIN_HOLD    a file path: wait (up to a minute, keeping the
//                        caller's window alive) until that file exists
#include <windows.h>
#include <setupapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum LogType { kSuccess = 0, kInfo = 1, kWarning = 2, kError = 3 };
using LogCallback = void(WINAPI*)(int eventType, DWORD errorCode, const char* text, void* context);

LogCallback g_callback = nullptr;
void* g_context = nullptr;

void Event(int type, DWORD code, const char* format, ...) {
    if (!g_callback) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_callback(type, code, text, g_context);
}

bool Env(const char* name, char* out, DWORD size) {
    DWORD n = GetEnvironmentVariableA(name, out, size);
    return n > 0 && n < size;
}

void HoldIfAsked() {
    char path[MAX_PATH];
    if (!Env("DIFX_STANDIN_HOLD", path, sizeof path)) return;
    Event(kInfo, 0, "Waiting for %s", path);
    for (int waited = 0; waited < 60000 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; waited += 20) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

// The service a card with the driver installed is bound to.
const char kService[] = "PelkQen";

bool IsMakerCard(const char* hardwareId) { return _strnicmp(hardwareId, "PCI\\VEN_1D5C", 12) == 0; }

// Copies the package's driver files for every card of the maker that is present
// and does not have the driver yet; answers how many it did.
DWORD InstallOnCards(const char* inf, DWORD* installed) {
    *installed = 0;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return GetLastError();
    UINT errorLine = 0;
    HINF hinf = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, &errorLine);
    if (hinf == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        SetupDiDestroyDeviceInfoList(set);
        return error;
    }
    DWORD result = ERROR_SUCCESS;
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, i, &device)) break;
        char ids[512] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - 2, nullptr) ||
            !IsMakerCard(ids))
            continue;
        char service[64] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(service),
                                              sizeof service - 1, nullptr) &&
            std::strcmp(service, kService) == 0)
            continue;
        void* queueContext = SetupInitDefaultQueueCallbackEx(nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr);
        BOOL ok = SetupInstallFromInfSectionA(nullptr, hinf, "PelkQen.NTamd64", SPINST_FILES, nullptr, nullptr,
                                              SP_COPY_NEWER_OR_SAME, SetupDefaultQueueCallbackA, queueContext, set,
                                              &device);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        SetupTermDefaultQueueCallback(queueContext);
        if (ok) {
            SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, reinterpret_cast<const BYTE*>(kService),
                                              sizeof kService);
            ++*installed;
            Event(kInfo, 0, "Installed the driver for %s", ids);
        } else {
            Event(kError, error, "Could not install the driver for %s", ids);
            result = error;
        }
    }
    SetupCloseInfFile(hinf);
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

DWORD Install(const char* inf) {
    if (GetFileAttributesA(inf) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        Event(kError, error, "The driver package %s cannot be found.", inf);
        return error;
    }
    char staged[MAX_PATH] = {};
    DWORD needed = 0;
    bool wasStaged = false;
    if (SetupCopyOEMInfA(inf, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, staged, sizeof staged, &needed, nullptr)) {
        Event(kInfo, 0, "Driver package added to the driver store as %s.", staged);
    } else {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS) {
            Event(kError, error, "Could not add %s to the driver store.", inf);
            return error;
        }
        wasStaged = true;
        Event(kInfo, 0, "The driver package is already in the driver store as %s.", staged);
    }
    DWORD installed = 0;
    DWORD result = InstallOnCards(inf, &installed);
    // Nothing new to do: what the framework answers for a package installed already.
    if (result == ERROR_SUCCESS && wasStaged && installed == 0) return ERROR_NO_MORE_ITEMS;
    return result;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI DriverPackageInstallA(const char* driverPackageInfPath, DWORD flags,
                                                         const void* installerInfo, BOOL* needReboot) {
    (void)installerInfo;
    if (needReboot) *needReboot = FALSE;
    const char* inf = driverPackageInfPath ? driverPackageInfPath : "";
    Event(kInfo, 0, "Installing driver package %s (flags %08lx).", inf, (unsigned long)flags);
    HoldIfAsked();

    char value[64];
    DWORD result;
    if (Env("DIFX_STANDIN_RESULT", value, sizeof value)) {
        result = static_cast<DWORD>(std::strtoul(value, nullptr, 0));
        if (result != ERROR_SUCCESS && result != ERROR_NO_MORE_ITEMS)
            Event(kError, result, "Installing %s failed.", inf);
    } else {
        result = Install(inf);
    }
    if (Env("DIFX_STANDIN_REBOOT", value, sizeof value) && std::strcmp(value, "1") == 0 && needReboot) {
        *needReboot = TRUE;
        Event(kWarning, 0, "A restart is needed to finish installing %s.", inf);
    }
    if (result == ERROR_SUCCESS) Event(kSuccess, 0, "Installed %s.", inf);
    return result;
}

// Not offered by the stand-in: the installer only binds them.
__declspec(dllexport) DWORD WINAPI DriverPackageUninstallA(const char* driverPackageInfPath, DWORD flags,
                                                           const void* installerInfo, BOOL* needReboot) {
    (void)flags;
    (void)installerInfo;
    if (needReboot) *needReboot = FALSE;
    Event(kError, ERROR_CALL_NOT_IMPLEMENTED, "Uninstalling %s is not offered.",
          driverPackageInfPath ? driverPackageInfPath : "");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

__declspec(dllexport) DWORD WINAPI DriverPackageGetPathA(const char* driverPackageInfPath, char* destInfPath,
                                                         DWORD* numOfChars) {
    (void)driverPackageInfPath;
    (void)destInfPath;
    (void)numOfChars;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

__declspec(dllexport) void WINAPI SetDifxLogCallbackA(LogCallback logCallback, void* callbackContext) {
    g_callback = logCallback;
    g_context = callbackContext;
}

}  // extern "C"
