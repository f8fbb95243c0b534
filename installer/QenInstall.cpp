// The installation: directories, unpacking, certificate, applications and
// shortcut, the driver package through DIFxAPI, and the clean-up.
#include <cstdlib>
#include <cwchar>

#include "common/EmbeddedFile.h"
#include "common/Log.h"
#include "installer/QenFormat.h"
#include "installer/QenSetup.h"
#include "installer/QenSetupRules.h"
#include "platform/Platform.h"

using namespace qen;

namespace {
constexpr size_t kMaxPath = 260;
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);  // E_INVALIDARG

// The path as wide characters, at most 259 and a terminator; false when it does not convert or fit.
bool ToWide(const std::string& path, wchar_t (&wide)[kMaxPath]) {
    size_t n = std::mbstowcs(wide, path.c_str(), kMaxPath);
    if (n == static_cast<size_t>(-1) || n >= kMaxPath) {
        wide[0] = L'\0';
        return false;
    }
    return true;
}
}  // namespace

void CQenSetupApp::PrepareDirectories() {
    m_szWindowsDir = m_System.GetWindowsDirectory();
    m_szSystemDir = m_System.GetSystemDirectory();

    m_szTempDir = plat::GetTempPath();
    if (!m_System.CreateDirectory(m_szTempDir)) {
        uint32_t error = plat::GetLastError();
        if (error != kErrorAlreadyExists && error != kErrorAccessDenied) {
            OrvexLog("Could not create the temporary directory!");
            if (!m_bSilent)
                Box(nullptr, "Could not create the temporary directory!", m_szTempDir,
                    plat::mb::Ok | plat::mb::IconWarning);
        }
    }

    std::string programFiles;
    if (!m_System.RegQueryString(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                                 "ProgramFilesDir", &programFiles) ||
        programFiles.empty())
        programFiles = Format("%c:\\Program Files", m_szWindowsDir.empty() ? 'C' : m_szWindowsDir[0]);

    m_szAppsDir = programFiles + "\\Corvane";
    m_System.CreateDirectory(m_szAppsDir);
    m_szAppsDir = EndWithBackslash(m_szAppsDir);

    m_szDriverDir = m_szAppsDir + "Qen Driver";
    m_System.CreateDirectory(m_szDriverDir);
    m_szDriverDir = EndWithBackslash(m_szDriverDir);

    m_szWorkingDir = EndWithBackslash(plat::GetCurrentDirectory());
}

std::string CQenSetupApp::GetInstallPath(const std::string& resourceName) const {
    return InstallPathFor(resourceName, m_bWindows10, m_szDriverDir, m_szWorkingDir);
}

int CQenSetupApp::OnInstall(Window window) {
    OrvexLog("OnInstall");
    plat::CursorHandle previous = nullptr;
    if (!m_bSilent) {
        previous = plat::SetWaitCursor();
        ShowPage(1);
    }
    RemoveInstalledApps();
    if (!CopyFiles(window)) {
        if (!m_bSilent) ShowPage(0);
        return 0;
    }
    AddCertificate(m_szDriverDir + "PelkDriver.cer");
    if (!m_bSilent) PumpOne(window);
    bool appsInstalled = InstallApps(window);
    if (!m_bSilent) PumpOne(window);
    if (BindDifx(m_bIs64Bit)) {
        InstallQenDriverPackage(window);
        UnbindDifx(m_bIs64Bit);
    }
    if (!m_bSilent) PumpOne(window);
    // After a failed application install the unpacked files stay for another try.
    if (appsInstalled) RemoveInstallerFiles();
    if (!m_bSilent) {
        plat::RestoreCursor(previous);
        ShowPage(2);
    }
    return 1;
}

void CQenSetupApp::RemoveInstalledApps() {
    OrvexLog("RemoveInstalledApps");
    for (const char* name : kPreviousApplications) {
        std::string path = m_szAppsDir + name;
        if (plat::DeleteFile(path)) OrvexLog("Removed %s", path.c_str());
    }
}

bool CQenSetupApp::CopyFiles(Window window) {
    OrvexLog("CopyFiles");
    orvex::EmbeddedFileForm form =
        orvex::InstallerEmbeddedForm([this](const std::string& name) { return GetInstallPath(name); });
    bool completed = m_System.EnumResourceNames([&](const char* name) {
        // The framework library is unpacked only when it is bound, into the working directory.
        if (SameNameIgnoringCase(name, "DIFx32.Dll") || SameNameIgnoringCase(name, "DIFx64.Dll")) return true;
        if (!m_bSilent) PumpOne(window);
        return orvex::ExtractEmbeddedFile(form, name);
    });
    if (completed) return true;
    uint32_t error = plat::GetLastError();
    if (!m_bSilent)
        Box(window, "Setup was unable to copy the files needed to install the driver.",
            Format("EnumResourceNames Failed! [%08lx]", (unsigned long)error), plat::mb::Ok | plat::mb::IconWarning);
    OrvexLog("CopyFiles FAILED!");
    return false;
}

bool CQenSetupApp::AddCertificate(const std::string& path) {
    wchar_t wide[kMaxPath];
    if (!ToWide(path, wide)) OrvexLog("AddCertificate: mbstowcs FAILED!");

    CertContext certificate =
        m_System.CryptQueryObjectFile(wide, kCertQueryContentFlagAll, kCertQueryFormatFlagAll);
    if (!certificate) {
        OrvexLog("CryptQueryObject FAILED %08lx", (unsigned long)plat::GetLastError());
        return false;
    }
    bool added = false;
    CertStore store =
        m_System.CertOpenSystemStore("TrustedPublisher", kCertSystemStoreLocalMachine | kCertStoreOpenExistingFlag);
    if (!store && plat::GetLastError() == kErrorFileNotFound) {
        // Every Windows installation has this store; a system without it (a new
        // Wine prefix) gets it made, or the certificate would be lost silently.
        OrvexLog("TrustedPublisher store missing, creating it");
        store = m_System.CertOpenSystemStore("TrustedPublisher", kCertSystemStoreLocalMachine);
    }
    if (store) {
        if (m_System.CertAddCertificateContextToStore(store, certificate, kCertStoreAddAlways)) {
            OrvexLog("Added certificate to TrustedPublisher store.");
            added = true;
        } else {
            OrvexLog("CertAddCertificateContextToStore FAILED %08lx", (unsigned long)plat::GetLastError());
        }
        m_System.CertCloseStore(store);
    } else {
        OrvexLog("CertOpenStore FAILED %08lx", (unsigned long)plat::GetLastError());
    }
    m_System.CertFreeCertificateContext(certificate);
    return added;
}

bool CQenSetupApp::InstallApps(Window window) {
    OrvexLog("InstallApps");
    bool result = true;
    uint32_t errorLine = 0;
    bool ran = false;
    uint32_t error = 0;
    InfHandle inf = m_System.SetupOpenInfFile(m_szDriverDir + "PelkApps.Inf", kInfStyleWin4, &errorLine);
    if (inf) {
        ran = m_System.SetupInstallFromInfSection(window, inf, "DefaultInstall", kSpinstAll, RegRoot::CurrentUser,
                                                  nullptr, kSpCopySourceAbsolute, InfFileCallback, nullptr);
        if (!ran) {
            error = plat::GetLastError();
            OrvexLog("SetupInstallFromInfSection Failed! %08lx %ld", (unsigned long)error, (long)errorLine);
        }
        m_System.SetupCloseInfFile(inf);
    } else {
        error = plat::GetLastError();
    }
    if (!ran) {
        // Shown in silent runs too: without the applications the installation is not complete.
        Box(window, "Setup was unable to copy the files needed to install the Pelk Applications.",
            Format("RunInf Failed! [%08lx]", (unsigned long)error), plat::mb::Ok | plat::mb::IconWarning);
        result = false;
    }

    std::string appData;
    if (m_System.RegQueryString(RegRoot::CurrentUser,
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "AppData",
                                &appData)) {
        // A profile that never had a Quick Launch folder gets one; the shortcut needs it.
        std::string folder = appData;
        for (const char* part : {"\\Microsoft", "\\Internet Explorer", "\\Quick Launch"}) {
            folder += part;
            m_System.CreateDirectory(folder);
        }
        int32_t hr = CreateLink(m_szAppsDir + "PelkMixer.exe", Format("%s\\Pelk Mixer.lnk", folder.c_str()));
        if (hr != 0) {
            OrvexLog("CreateLink FAILED! %08lx", (unsigned long)(uint32_t)hr);
            result = false;
        }
    }
    OrvexLog("Install Applications Complete");
    return result;
}

int32_t CQenSetupApp::CreateLink(const std::string& target, const std::string& linkPath) {
    wchar_t wide[kMaxPath];
    if (!ToWide(linkPath, wide)) return kInvalidArgument;
    return m_System.CreateShellLink(target, kShortcutDescription, wide);
}

unsigned QEN_WINAPI CQenSetupApp::InfFileCallback(void*, unsigned notification, uintptr_t param1, uintptr_t) {
    const char* format = InfNotificationFormat(notification);
    if (!format) {
        OrvexLog("InfFileCallback Unknown Notification!");
        return kFileOpDoIt;
    }
    if (InfNotificationNamesPaths(notification)) {
        const auto* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
        const char* source = paths && paths->Source ? paths->Source : "";
        const char* target = paths && paths->Target ? paths->Target : "";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        OrvexLog(format, source, target);
#pragma GCC diagnostic pop
    } else {
        OrvexLog("%s", format);
    }
    return InfNotificationAnswer(notification);
}

bool CQenSetupApp::BindDifx(bool is64Bit) {
    if (m_bWindows7 || m_bWindows8 || m_bWindows10) {
        // The system's own copy, from the system directory only: a library of that
        // name beside a downloaded installer must not be loaded in its place.
        const char* name = "DIFxAPI.Dll";
        m_hDifx = m_System.LoadLibrary(m_szSystemDir + "\\" + name);
        if (!m_hDifx) {
            OrvexLog("LoadLibrary (%s) Failed!", name);
            Box(nullptr, "LoadLibrary failed", name, plat::mb::Ok);
            return false;
        }
        m_bDifxEmbedded = false;
    } else {
        const char* name = is64Bit ? "DIFx64.Dll" : "DIFx32.Dll";
        std::string path = m_szWorkingDir + name;
        plat::DeleteFile(path);
        orvex::EmbeddedFileForm form =
            orvex::InstallerEmbeddedForm([this](const std::string& n) { return GetInstallPath(n); });
        orvex::ExtractEmbeddedFile(form, name);
        // Loaded by its full path: the copy just unpacked, not whatever the search order finds first.
        m_hDifx = m_System.LoadLibrary(path);
        if (!m_hDifx) {
            OrvexLog("LoadLibrary (%s) Failed!", name);
            Box(nullptr, "LoadLibrary failed", name, plat::mb::Ok);
            if (plat::GetFileAttributes(path) != plat::kInvalidAttributes) DeleteUnpackedDifx(path);
            return false;
        }
        m_bDifxEmbedded = true;
    }

    void* entries[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        entries[i] = m_System.GetProcAddress(m_hDifx, difx::kExportNames[i]);
        if (!entries[i]) {
            Box(nullptr, "GetProcAddress failed", difx::kExportNames[i], plat::mb::Ok);
            UnbindDifx(is64Bit);
            return false;
        }
    }
    m_Difx.DriverPackageInstallA = reinterpret_cast<difx::DriverPackageInstallA_t>(entries[0]);
    m_Difx.DriverPackageUninstallA = reinterpret_cast<difx::EntryPoint>(entries[1]);
    m_Difx.DriverPackageGetPathA = reinterpret_cast<difx::EntryPoint>(entries[2]);
    m_Difx.SetDifxLogCallbackA = reinterpret_cast<difx::SetDifxLogCallbackA_t>(entries[3]);
    return true;
}

bool CQenSetupApp::UnbindDifx(bool is64Bit) {
    if (!m_hDifx) return true;
    m_System.FreeLibrary(m_hDifx);
    // Only the copy this program unpacked is deleted; the system's library is not ours.
    if (m_bDifxEmbedded) DeleteUnpackedDifx(m_szWorkingDir + (is64Bit ? "DIFx64.Dll" : "DIFx32.Dll"));
    m_hDifx = nullptr;
    m_bDifxEmbedded = false;
    m_Difx = {};
    return true;
}

void CQenSetupApp::DeleteUnpackedDifx(const std::string& path) {
    if (plat::DeleteFile(path))
        OrvexLog("DeleteFile %s", path.c_str());
    else
        OrvexLog("DeleteFile %s FAILED %08lx", path.c_str(), (unsigned long)plat::GetLastError());
}

bool CQenSetupApp::InstallQenDriverPackage(Window window) {
    m_bDifxErrorBoxes = true;
    m_Difx.SetDifxLogCallbackA(DifxLogCallback, window);
    OrvexLog("InstallQenDriverPackage");
    int32_t needReboot = 0;
    std::string inf = m_szDriverDir + "PelkWDM.Inf";
    uint32_t result = m_Difx.DriverPackageInstallA(inf.c_str(), difx::DRIVER_PACKAGE_FORCE, nullptr, &needReboot);
    OrvexLog("DriverPackageInstall Returned %08lx %lu NeedReboot %d", (unsigned long)result, (unsigned long)result,
             (int)needReboot);
    if (needReboot) m_bRestart = true;
    if (result == difx::kAlreadyInstalled)
        Box(window, "The driver is already installed.", "Driver Package Install",
            plat::mb::Ok | plat::mb::IconError);
    return result == 0;
}

void QEN_WINAPI CQenSetupApp::DifxLogCallback(difx::DIFXAPI_LOG eventType, uint32_t errorCode, const char* text,
                                              void* context) {
    CQenSetupApp* app = s_pApp;
    if (!text) text = "";
    std::string label = DifxLabel(eventType);
    if (eventType == difx::DIFXAPI_ERROR && app && app->m_bDifxErrorBoxes)
        app->Box(nullptr, text, "DIFXAPI_ERROR", plat::mb::Ok | plat::mb::IconError);
    if (app) app->PumpOne(static_cast<Window>(context));
    OrvexLog("%s %08lx %s", label.c_str(), (unsigned long)errorCode, text);
}

void CQenSetupApp::RemoveInstallerFiles() {
    OrvexLog("RemoveInstallerFiles");
    for (const char* name : kInstallerFiles) {
        std::string path = m_szDriverDir + name;
        if (plat::DeleteFile(path)) OrvexLog("Removed %s", path.c_str());
    }
    if (m_System.RemoveDirectory(m_szDriverDir)) OrvexLog("Removed Directory %s", m_szDriverDir.c_str());
}
