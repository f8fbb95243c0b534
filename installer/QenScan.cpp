// What is installed already: the maker's driver files with their versions, and
// the maker's cards on the PCI bus, which get their manufacturer and model names.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/Log.h"
#include "installer/QenSetup.h"
#include "installer/QenSetupRules.h"
#include "platform/Platform.h"

using namespace qen;

namespace {
constexpr uint32_t kMaxDeviceIndex = 4096;
constexpr size_t kPropertyBytes = 256;
constexpr size_t kVersionChars = 255;
}  // namespace

void CQenSetupApp::LogInstalledDriverFiles() {
    for (const std::string& path : DriverFilePaths(m_bIs64Bit, m_szWindowsDir, m_szSystemDir)) {
        if (!m_System.FindFile(path)) continue;
        std::string version;
        uint32_t size = m_System.GetFileVersionInfoSize(path);
        if (size != 0) GetFileVersionString(path, size, &version);
        OrvexLog("%s Installed.  Version %s", path.c_str(), version.c_str());
    }
}

bool CQenSetupApp::GetFileVersionString(const std::string& path, uint32_t size, std::string* version) {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block || !m_System.GetFileVersionInfo(path, size, block.get())) return false;

    const void* translations = nullptr;
    uint32_t length = 0;
    if (!m_System.VerQueryValue(block.get(), "\\VarFileInfo\\Translation", &translations, &length) || !translations)
        return false;
    bool found = false;
    for (uint32_t offset = 0; offset + 4 <= length; offset += 4) {
        uint16_t pair[2];
        std::memcpy(pair, static_cast<const uint8_t*>(translations) + offset, sizeof pair);
        char subBlock[64];
        std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\FileVersion", pair[0], pair[1]);
        const void* text = nullptr;
        uint32_t chars = 0;
        if (!m_System.VerQueryValue(block.get(), subBlock, &text, &chars) || !text) continue;
        // The last translation with a text wins, as the list is walked in order.
        size_t n = strnlen(static_cast<const char*>(text), chars < kVersionChars ? chars : kVersionChars);
        version->assign(static_cast<const char*>(text), n);
        found = true;
    }
    return found;
}

uint32_t CQenSetupApp::GetNumberOfDevices() {
    OrvexLog("GetNumberOfDevices");
    m_dwCardCount = 0;
    DevInfoSet set = m_System.SetupDiGetClassDevs("PCI", kDigcfAllClasses);
    if (set == kInvalidDevInfoSet) {
        // Without a set every index would fail alike; one line says it.
        OrvexLog("SetupDiGetClassDevs Failed %08lx", (unsigned long)plat::GetLastError());
        OrvexLog("GetNumberOfDevices Complete %lu", (unsigned long)m_dwCardCount);
        return m_dwCardCount;
    }
    for (uint32_t index = 0; index < kMaxDeviceIndex; ++index) {
        DevInfoData device{};
        if (!m_System.SetupDiEnumDeviceInfo(set, index, &device)) {
            uint32_t error = plat::GetLastError();
            if (error == kErrorNoMoreItems) break;
            OrvexLog("SetupDiEnumDeviceInfo %lu Failed %08lx %lu", (unsigned long)index, (unsigned long)error,
                     (unsigned long)error);
            continue;
        }
        char hardwareIds[kPropertyBytes + 1] = {};
        if (!m_System.SetupDiGetDeviceRegistryProperty(set, &device, kSpdrpHardwareId, hardwareIds, kPropertyBytes))
            continue;
        std::string hardwareId(hardwareIds, strnlen(hardwareIds, kPropertyBytes));  // the first of the list
        if (!IsMakerHardwareId(hardwareId)) continue;

        ++m_dwCardCount;
        std::string model = ModelNameForHardwareId(hardwareId);
        char location[kPropertyBytes + 1] = {};
        if (!m_System.SetupDiGetDeviceRegistryProperty(set, &device, kSpdrpLocationInformation, location,
                                                       kPropertyBytes))
            location[0] = '\0';
        uint32_t slot = 0;
        if (!m_System.SetupDiGetDeviceRegistryProperty(set, &device, kSpdrpUiNumber, &slot, sizeof slot)) slot = 0;

        m_System.SetupDiSetDeviceRegistryProperty(set, &device, kSpdrpMfg, kManufacturer,
                                                  static_cast<uint32_t>(std::strlen(kManufacturer)));
        m_System.SetupDiSetDeviceRegistryProperty(set, &device, kSpdrpDeviceDesc, model.c_str(),
                                                  static_cast<uint32_t>(model.size()));
        if (slot != 0)
            OrvexLog("%s at (%s) in PCI Slot %lu", model.c_str(), location, (unsigned long)slot);
        else
            OrvexLog("%s at (%s)", model.c_str(), location);
    }
    m_System.SetupDiDestroyDeviceInfoList(set);
    OrvexLog("GetNumberOfDevices Complete %lu", (unsigned long)m_dwCardCount);
    return m_dwCardCount;
}

void CQenSetupApp::OnScan() {
    OrvexLog("OnScan");
    uint32_t root = 0;
    if (m_System.CM_Locate_DevNode(&root) == kCrSuccess && m_System.CM_Reenumerate_DevNode(root, 0) == kCrSuccess)
        GetNumberOfDevices();
}
