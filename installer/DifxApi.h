#pragma once
// The driver-install framework as the installer binds it at run time: the
// system's "DIFxAPI.Dll" from Windows 7 on, the copy the installer carries
// before that. Declared here from what the installer calls; the two functions
// it only resolves are kept as plain entry points.
#include <cstdint>

#include "installer/QenSystem.h"

namespace difx {

enum DIFXAPI_LOG : int {
    DIFXAPI_SUCCESS = 0,
    DIFXAPI_INFO = 1,
    DIFXAPI_WARNING = 2,
    DIFXAPI_ERROR = 3,
};

// Install even when the system has a driver it ranks better.
inline constexpr uint32_t DRIVER_PACKAGE_FORCE = 0x4;

// The framework's answer when the package is installed already.
inline constexpr uint32_t kAlreadyInstalled = 259;

// Who installs the package; the installer passes none.
struct INSTALLERINFO_A {
    char* pApplicationId;
    char* pDisplayName;
    char* pProductName;
    char* pMfgName;
};

using DIFXAPILOGCALLBACK_A = void(QEN_WINAPI*)(DIFXAPI_LOG eventType, uint32_t errorCode, const char* eventDescription,
                                              void* callbackContext);

using DriverPackageInstallA_t = uint32_t(QEN_WINAPI*)(const char* driverPackageInfPath, uint32_t flags,
                                                      const INSTALLERINFO_A* installerInfo, int32_t* needReboot);
using SetDifxLogCallbackA_t = void(QEN_WINAPI*)(DIFXAPILOGCALLBACK_A logCallback, void* callbackContext);
using EntryPoint = void (*)();

struct DifxApi {
    DriverPackageInstallA_t DriverPackageInstallA = nullptr;
    EntryPoint DriverPackageUninstallA = nullptr;
    EntryPoint DriverPackageGetPathA = nullptr;
    SetDifxLogCallbackA_t SetDifxLogCallbackA = nullptr;
};

// Resolved in this order; the first missing one ends the binding.
inline constexpr const char* kExportNames[4] = {"DriverPackageInstallA", "DriverPackageUninstallA",
                                                "DriverPackageGetPathA", "SetDifxLogCallbackA"};

}  // namespace difx
