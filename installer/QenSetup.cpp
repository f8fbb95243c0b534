// Start-up checks, the dialog and its pages, and the end of the run.
#include "installer/QenSetup.h"

#include <cstdio>

#include "common/Log.h"
#include "installer/QenFormat.h"
#include "installer/QenSetupRules.h"
#include "platform/Platform.h"

using namespace qen;

CQenSetupApp* CQenSetupApp::s_pApp = nullptr;

CQenSetupApp::CQenSetupApp(IQenSystem& system) : m_System(system) { s_pApp = this; }

CQenSetupApp::~CQenSetupApp() {
    UnbindDifx(m_bIs64Bit);
    if (s_pApp == this) s_pApp = nullptr;
}

int CQenSetupApp::Box(Window owner, const std::string& text, const std::string& caption, unsigned type) {
    return m_System.MessageBox(owner, text, caption, type);
}

void CQenSetupApp::PumpOne(Window window) { m_System.PeekAndDispatchMessage(window); }

std::string CQenSetupApp::EndWithBackslash(const std::string& path) {
    return WithTrailingBackslash(path, [this](uint8_t byte) { return m_System.IsDBCSLeadByte(byte); });
}

bool CQenSetupApp::SetPrivilege(const char* privilege, bool enable) {
    Token token = nullptr;
    if (!m_System.OpenProcessToken(&token)) return false;
    bool ok = false;
    uint64_t luid = 0;
    if (m_System.LookupPrivilegeValue(privilege, &luid)) {
        // The adjustment succeeds even for a privilege the account does not hold;
        // only the last error tells.
        m_System.AdjustTokenPrivileges(token, luid, enable);
        ok = plat::GetLastError() == kErrorSuccess;
    }
    m_System.CloseToken(token);
    return ok;
}

bool CQenSetupApp::IsAdminstrator() {
    bool loadDriver = SetPrivilege("SeLoadDriverPrivilege", true);
    bool shutdown = SetPrivilege("SeShutdownPrivilege", true);
    return loadDriver && shutdown;
}

void CQenSetupApp::CloseWindowsByTitle(const std::string& prefix) {
    Window window = m_System.GetTopWindow();
    while (window) {
        // Taken before the close: a closed window has no place in the Z-order any more,
        // and the walk must go on past it to reach a second match.
        Window next = m_System.GetNextWindow(window);
        std::string title = m_System.GetWindowText(window, 256);
        if (!title.empty() && title.compare(0, prefix.size(), prefix) == 0)
            m_System.SendMessage(window, kWmClose, 0, 0);
        window = next;
    }
}

int CQenSetupApp::Run(const std::string& commandLine, int showCommand) {
    OrvexLog("%s", kBanner);
    m_bSilent = IsSilentCommandLine(commandLine);

    if (!IsAdminstrator()) {
        OrvexLog("IsAdminstrator FALSE!");
        if (!m_bSilent)
            Box(nullptr,
                "You must have Adminstrator privileges to run this program!\n\nPlease relaunch this application "
                "using \"Run as administrator\".",
                "No Administrator Privileges", plat::mb::Ok | plat::mb::IconError);
        EndOfRun();
        return 0;
    }

    std::string name;
    if (m_System.GetUserName(&name)) OrvexLog("User Name: %s", name.c_str());
    if (m_System.GetComputerName(&name)) OrvexLog("Computer Name: %s", name.c_str());
    const char* userInfo = "Software\\Microsoft\\MS Setup (ACME)\\User Info";
    if (m_System.RegQueryString(RegRoot::CurrentUser, userInfo, "DefName", &name)) OrvexLog("User: %s", name.c_str());
    if (m_System.RegQueryString(RegRoot::CurrentUser, userInfo, "DefCompany", &name))
        OrvexLog("Company: %s", name.c_str());

    OsVersionInfo version;
    if (!m_System.GetVersionEx(&version)) {
        OrvexLog("GetVersionEx FAILED!");
        Box(nullptr, "GetVersionEx Failed!", "", plat::mb::Ok | plat::mb::IconWarning);
        EndOfRun();
        return 0;
    }
    if (version.platformId != kPlatformWin32NT) {
        OrvexLog("VER_PLATFORM_WIN32_WINDOWS FAILED!");
        if (!m_bSilent)
            Box(nullptr, "This program does not support Windows 95/98/ME", "", plat::mb::Ok | plat::mb::IconError);
        EndOfRun();
        return 0;
    }
    OrvexLog("VER_PLATFORM_WIN32_NT %lu.%lu Build %lu %s", (unsigned long)version.major, (unsigned long)version.minor,
             (unsigned long)version.build, version.servicePack.c_str());
    VersionFlags flags = VersionFlagsFor(version.major, version.minor);
    m_bWindows7 = flags.windows7;
    m_bWindows8 = flags.windows8;
    m_bWindows10 = flags.windows10;
    if (m_bWindows10) OrvexLog("m_bWindows10 TRUE");

    ProcessorInfo processor;
    m_System.GetSystemInfo(&processor);
    OrvexLog("Processor: %lu %s Level %d Rev %04x", (unsigned long)processor.processors,
             ArchitectureName(processor.architecture), processor.level, processor.revision);
    MemoryInfo memory;
    if (m_System.GlobalMemoryStatusEx(&memory))
        OrvexLog("Memory: Phys %lu Avail %lu Page %lu Avail %lu", (unsigned long)(memory.totalPhys / 1024),
                 (unsigned long)(memory.availPhys / 1024), (unsigned long)(memory.totalPageFile / 1024),
                 (unsigned long)(memory.availPageFile / 1024));

    for (const char* title : kCompanionTitles) CloseWindowsByTitle(title);

    if (m_bSilent) {
        std::fputs("Pelk Silent Installer\n\n", stderr);
        InitDialog(nullptr);
        OnInstall(nullptr);
    } else {
        Window dialog = m_System.CreateDialogParam(kIdDialog, this);
        if (!dialog) {
            OrvexLog("CreateDialog FAILED! [%08lx]", (unsigned long)plat::GetLastError());
            Box(nullptr, "Unable to display main dialog!", kCaption, plat::mb::Ok);
        } else {
            m_System.ShowWindow(dialog, showCommand);
            m_System.UpdateWindow(dialog);
            m_System.RunMessageLoop(dialog);
        }
    }
    EndOfRun();
    return 0;
}

void CQenSetupApp::EndOfRun() {
    orvex::LogExitLine();
    orvex::LogClose();
    if (!m_bRestart) return;
    if (SetPrivilege("SeShutdownPrivilege", true)) m_System.InitiateSystemShutdown(0, false, true);
    SetPrivilege("SeShutdownPrivilege", false);
}

int CQenSetupApp::InitDialog(Window dialog) {
    m_hDialog = dialog;
    if (!m_bSilent) {
        m_System.SetWindowText(dialog, kWindowTitle);
        m_System.InitCommonControls();
        m_System.SetDlgItemText(dialog, kIdNotice, kNoticeText);
    }
    ProcessorInfo native;
    m_bIs64Bit = m_System.GetNativeSystemInfo(&native) && native.architecture == kArchitectureAmd64;
    OrvexLog(m_bIs64Bit ? "Is64Bit TRUE" : "Is64Bit FALSE");

    m_bRestart = false;
    m_dwCardCount = 0;
    PrepareDirectories();
    LogInstalledDriverFiles();
    if (!m_bSilent) ShowPage(0);
    if (GetNumberOfDevices() == 0) OnScan();
    return 1;
}

void CQenSetupApp::ShowPage(int page) {
    struct Item {
        int id;
        bool shown;
    };
    const bool restart = m_bRestart;
    const Item pages[3][10] = {
        {{kIdWelcome, true}, {kIdWelcomeText, true}, {kIdCardText, true}, {kIdPressInstall, true},
         {kIdInstall, true}, {kIdCancel, true}, {kIdInstalling, false}, {kIdComplete, false},
         {kIdRestart, false}, {kIdClose, false}},
        {{kIdInstalling, true}, {kIdWelcome, false}, {kIdWelcomeText, false}, {kIdCardText, false},
         {kIdPressInstall, false}, {kIdComplete, false}, {kIdInstall, false}, {kIdRestart, false},
         {kIdClose, false}, {kIdCancel, false}},
        {{kIdComplete, true}, {kIdRestart, restart}, {kIdClose, !restart}, {kIdWelcome, false},
         {kIdWelcomeText, false}, {kIdCardText, false}, {kIdPressInstall, false}, {kIdInstalling, false},
         {kIdInstall, false}, {kIdCancel, false}},
    };
    if (page < 0 || page > 2) return;
    // Hidden first: Install, Restart and Close share one place and never show together.
    for (const Item& item : pages[page])
        if (!item.shown) m_System.ShowDlgItem(m_hDialog, item.id, false);
    for (const Item& item : pages[page])
        if (item.shown) m_System.ShowDlgItem(m_hDialog, item.id, true);
    PumpOne(m_hDialog);
}

intptr_t CQenSetupApp::OnPowerBroadcast(uintptr_t event) {
    if (const char* name = PowerEventName(event)) m_System.OutputDebugString(std::string(name) + "\n");
    return PowerEventAnswer(event);
}

void CQenSetupApp::OnCommand(Window dialog, int id) {
    switch (id) {
        case kIdCancel:
            OrvexLog(">> User Pressed CANCEL");
            m_System.EndDialog(dialog, kIdCancel);
            m_System.PostQuitMessage(0);
            break;
        case kIdClose:
            OrvexLog(">> User Pressed CLOSE");
            m_System.EndDialog(dialog, kIdClose);
            m_System.PostQuitMessage(0);
            break;
        case kIdInstall:
            OrvexLog(">> User Pressed INSTALL");
            OnInstall(dialog);
            break;
        case kIdRestart:
            OrvexLog(">> User Pressed RESTART");
            OrvexLog("Restarting Windows...");
            m_bRestart = true;
            m_System.EndDialog(dialog, 1);
            m_System.PostQuitMessage(0);
            break;
        default:
            break;
    }
}

bool CQenSetupApp::DialogProc(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    switch (message) {
        case kWmInitDialog:
            *result = InitDialog(dialog);
            return true;
        case kWmCommand:
            // Only controls act; a menu or an accelerator is taken and ignored.
            if (lParam != 0) OnCommand(dialog, static_cast<int>(wParam & 0xFFFF));
            return true;
        case kWmSysCommand:
            if ((wParam & 0xFFF0) != kScClose) return false;
            m_System.PostQuitMessage(0);
            return true;
        case kWmDestroy:
            m_System.PostQuitMessage(0);
            return true;
        case kWmPowerBroadcast:
            *result = OnPowerBroadcast(wParam);
            return true;
        case kWmDeviceChange:
            if (wParam == kDbtDevNodesChanged) m_System.OutputDebugString("DBT_DEVNODES_CHANGED\n");
            return true;
        default:
            return false;
    }
}
