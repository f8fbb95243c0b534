// The main window's firmware images: the embedded names, the name rule, a
// user's own image file and loading the chosen image before programming.
#include <cstdio>
#include <cstring>
#include <new>

#include "common/EmbeddedFile.h"
#include "common/Log.h"
#include "resources/resource.h"
#include "updater/FirmwareRules.h"
#include "updater/OrvexUpdateDlg.h"

namespace {
constexpr const char* kCaption = "Orvex Firmware Update";
}  // namespace

void COrvexUpdateDlg::CollectResourceNames() {
    m_nResourceNames = 0;
    std::memset(m_szResourceNames, 0, sizeof m_szResourceNames);
    for (const std::string& name : plat::EnumResourceNames()) {
        // A cut name would name another resource, so names that do not fit are passed over.
        if (name.size() >= sizeof m_szResourceNames[0]) {
            OrvexLog("Embedded image name too long: %s not used", name.c_str());
            continue;
        }
        if (m_nResourceNames >= kMaxResourceNames) {
            OrvexLog("Embedded image table full: %s not used", name.c_str());
            continue;
        }
        std::snprintf(m_szResourceNames[m_nResourceNames++], sizeof m_szResourceNames[0], "%s", name.c_str());
    }
}

bool COrvexUpdateDlg::GetDeviceIDFromFileName(const char* name, uint8_t* deviceID, uint16_t* version, uint8_t* pcb) {
    rules::ImageName image;
    const bool known = rules::ReadImageName(name, &image);
    *deviceID = image.deviceID;
    *version = image.version;
    *pcb = image.pcb;
    if (!known) m_pSurface->MessageBox("Unable to determine DeviceID from File Name", kCaption, plat::mb::Ok);
    return known;
}

void COrvexUpdateDlg::SelectNewFirmware(const char* path) {
    m_bFileSpecified = true;
    std::snprintf(m_szFirmwareFile, sizeof m_szFirmwareFile, "%s", path);
    const std::string base = rules::BaseName(path, true);
    if (!GetDeviceIDFromFileName(base.c_str(), &m_ucNewDeviceID, &m_wNewVersion, &m_ucNewPCBRev)) return;
    OrvexLog("SelectNewFirmware %s", path);

    // A path longer than the window keeps could not be opened again when loading.
    plat::FileHandle file = std::strlen(path) < sizeof m_szFirmwareFile
                                ? plat::CreateFile(path, plat::kAccessRead, plat::FileShare::Read,
                                                   plat::FileDisposition::OpenExisting)
                                : plat::kInvalidFile;
    if (file == plat::kInvalidFile) {
        char text[600];
        std::snprintf(text, sizeof text,
                      "Unable to open file '%s' specified on the command line!\n\nReverting to default firmware.", path);
        OrvexLog("%s", text);
        m_pSurface->MessageBox(text, kCaption, plat::mb::Ok);
        m_bFileSpecified = false;
        return;
    }
    uint64_t written = 0;
    const bool timed = plat::GetFileTime(file, nullptr, nullptr, &written);
    plat::CloseHandle(file);

    ShowValue(IDC_NEW_VERSION, std::to_string(m_wNewVersion));
    plat::LocalTime local{};
    if (timed && plat::FileTimeToLocalTime(written, &local))
        m_pNewFirmwareDate = std::make_unique<plat::LocalTime>(local);
    else
        m_pNewFirmwareDate.reset();
    ShowDate(IDC_NEW_DATE, m_pNewFirmwareDate.get());
}

void COrvexUpdateDlg::OnDropFiles(const std::vector<std::string>& paths) {
    if (paths.empty() || m_nView == kViewProgramming) return;
    char path[260] = {};
    std::snprintf(path, sizeof path, "%s", paths.front().c_str());
    OrvexLog("OnDropFiles: %s", path);
    SelectNewFirmware(path);
}

bool COrvexUpdateDlg::LoadFirmware() {
    std::string path;
    const bool extracted = !m_bFileSpecified;
    if (m_bFileSpecified) {
        path = m_szFirmwareFile;
    } else {
        orvex::EmbeddedFileForm form = orvex::UpdaterEmbeddedForm();
        form.messageBox = [this](const std::string& text, const std::string& caption, unsigned type) {
            return m_pSurface->MessageBox(text, caption, type);
        };
        if (!orvex::ExtractEmbeddedFile(form, m_szFirmwareFile, &path)) return false;
    }
    // The expanded copy is ours to remove on every way out; a user's file never is.
    auto fail = [&] {
        if (extracted) plat::DeleteFile(path);
        return false;
    };

    if (!GetDeviceIDFromFileName(rules::BaseName(path, false).c_str(), &m_ucNewDeviceID, &m_wNewVersion,
                                 &m_ucNewPCBRev))
        return fail();

    plat::FileHandle file =
        plat::CreateFile(path, plat::kAccessRead, plat::FileShare::None, plat::FileDisposition::OpenExisting);
    if (file == plat::kInvalidFile) {
        const unsigned long error = plat::GetLastError();
        char text[600], caption[64];
        std::snprintf(text, sizeof text, "Unable to open file '%s'!", path.c_str());
        std::snprintf(caption, sizeof caption, "CreateFile Failure! [%08lx]", error);
        m_pSurface->MessageBox(text, caption, plat::mb::Ok | plat::mb::IconWarning);
        return fail();
    }

    uint64_t size = 0;
    plat::GetFileSize(file, &size);
    m_dwFirmwareSize = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    if (m_dwFirmwareSize == 0) {
        m_pSurface->MessageBox("Unable to get Firmware file size!", "", plat::mb::Ok | plat::mb::IconWarning);
        plat::CloseHandle(file);
        return fail();
    }

    // The zeros behind the image let the last packet go out whole.
    constexpr uint32_t kPadding = 1024;
    if (size <= UINT32_MAX - kPadding) m_pFirmware.reset(new (std::nothrow) uint8_t[m_dwFirmwareSize + kPadding]);
    if (!m_pFirmware) {
        m_pSurface->MessageBox("Unable to allocate enough RAM to load the Firmware!", "Out of Memory",
                               plat::mb::Ok | plat::mb::IconWarning);
        plat::CloseHandle(file);
        return fail();
    }
    std::memset(m_pFirmware.get(), 0, m_dwFirmwareSize + kPadding);
    uint32_t done = 0;
    const bool read = plat::ReadFile(file, m_pFirmware.get(), m_dwFirmwareSize, &done);
    plat::CloseHandle(file);
    if (!read || done < m_dwFirmwareSize) {
        m_pSurface->MessageBox("Unable to read Firmware into Memory!", kCaption, plat::mb::Ok | plat::mb::IconWarning);
        return fail();
    }
    if (extracted) plat::DeleteFile(path);
    return true;
}
