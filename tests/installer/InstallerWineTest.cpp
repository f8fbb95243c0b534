// The installer in-process under Wine: the real dialog, SetupAPI, CryptoAPI,
// shell link, device tree and the stand-in framework library (put in place of
// the system's by the suite), with single system calls replaced where a case
// needs a fault, and always the restart, which is only written down.
#include "installer/win32/QenWin32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/Log.h"
#include "installer/QenSetup.h"
#include "installer/QenSetupRules.h"
#include "installer/win32/QenSystemWin32.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kErrorNotAllAssigned = 1300;

// The real system, with the faults a case asks for.
class TestSystem : public CQenSystemWin32 {
public:
    struct Shutdown {
        uint32_t timeout;
        bool force, reboot;
    };
    std::vector<Shutdown> shutdowns;
    std::vector<std::string> privilegeCalls;  // "+Name" enabled, "-Name" disabled, in order
    std::vector<std::string> debugOutput;
    std::set<std::string> refusedPrivileges;
    bool versionFails = false;
    uint32_t platformId = 0;  // non-zero: reported instead of the real one
    uint32_t major = 0, minor = 0;  // non-zero major: this version instead of the real one
    bool dialogFails = false;
    bool loadLibraryFails = false;
    std::string missingExport;
    bool infOpenFails = false;
    bool infSectionFails = false;
    int32_t linkResult = 0;
    bool certificateUnreadable = false;
    std::string uncreatableDirectory;
    int failingDeviceIndex = -1;
    bool everyDeviceFails = false;
    bool rescanWorks = false;

    bool LookupPrivilegeValue(const char* name, uint64_t* luid) override {
        m_lastPrivilege = name;
        return CQenSystemWin32::LookupPrivilegeValue(name, luid);
    }
    bool AdjustTokenPrivileges(qen::Token token, uint64_t luid, bool enable) override {
        privilegeCalls.push_back((enable ? "+" : "-") + m_lastPrivilege);
        bool ok = CQenSystemWin32::AdjustTokenPrivileges(token, luid, enable);
        // What Windows answers for a privilege the account does not hold.
        if (enable && refusedPrivileges.count(m_lastPrivilege)) SetLastError(kErrorNotAllAssigned);
        return ok;
    }
    bool GetVersionEx(qen::OsVersionInfo* info) override {
        if (versionFails) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        bool ok = CQenSystemWin32::GetVersionEx(info);
        if (platformId) info->platformId = platformId;
        if (major) {
            info->major = major;
            info->minor = minor;
            info->servicePack = "Service Pack 2";
        }
        return ok;
    }
    void OutputDebugString(const std::string& text) override { debugOutput.push_back(text); }
    bool InitiateSystemShutdown(uint32_t timeout, bool force, bool reboot) override {
        shutdowns.push_back({timeout, force, reboot});
        return true;
    }
    qen::Window CreateDialogParam(int templateId, qen::IQenDialogProc* proc) override {
        if (!dialogFails) return CQenSystemWin32::CreateDialogParam(templateId, proc);
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    qen::Module LoadLibrary(const std::string& path) override {
        if (!loadLibraryFails) return CQenSystemWin32::LoadLibrary(path);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* GetProcAddress(qen::Module module, const char* name) override {
        return missingExport == name ? nullptr : CQenSystemWin32::GetProcAddress(module, name);
    }
    qen::InfHandle SetupOpenInfFile(const std::string& path, uint32_t style, uint32_t* errorLine) override {
        if (!infOpenFails) return CQenSystemWin32::SetupOpenInfFile(path, style, errorLine);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    bool SetupInstallFromInfSection(qen::Window owner, qen::InfHandle inf, const std::string& section,
                                    uint32_t flags, qen::RegRoot key, const char* root, uint32_t copyFlags,
                                    qen::PSP_FILE_CALLBACK_A callback, void* context) override {
        if (!infSectionFails)
            return CQenSystemWin32::SetupInstallFromInfSection(owner, inf, section, flags, key, root, copyFlags,
                                                               callback, context);
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    int32_t CreateShellLink(const std::string& target, const std::string& description,
                            const wchar_t* linkPath) override {
        return linkResult ? linkResult : CQenSystemWin32::CreateShellLink(target, description, linkPath);
    }
    qen::CertContext CryptQueryObjectFile(const wchar_t* path, uint32_t content, uint32_t format) override {
        if (!certificateUnreadable) return CQenSystemWin32::CryptQueryObjectFile(path, content, format);
        SetLastError(CRYPT_E_NO_MATCH);
        return nullptr;
    }
    bool CreateDirectory(const std::string& path) override {
        if (!uncreatableDirectory.empty() && path == uncreatableDirectory) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        return CQenSystemWin32::CreateDirectory(path);
    }
    bool SetupDiEnumDeviceInfo(qen::DevInfoSet set, uint32_t index, qen::DevInfoData* data) override {
        if (everyDeviceFails) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        // An extra entry that cannot be read, in front of the real ones from that index on.
        if (failingDeviceIndex >= 0 && index >= uint32_t(failingDeviceIndex)) {
            if (index == uint32_t(failingDeviceIndex)) {
                SetLastError(ERROR_INVALID_DATA);
                return false;
            }
            --index;
        }
        return CQenSystemWin32::SetupDiEnumDeviceInfo(set, index, data);
    }
    uint32_t CM_Locate_DevNode(uint32_t* devInst) override {
        if (!rescanWorks) return CQenSystemWin32::CM_Locate_DevNode(devInst);
        *devInst = 1;
        return qen::kCrSuccess;
    }
    uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) override {
        return rescanWorks ? qen::kCrSuccess : CQenSystemWin32::CM_Reenumerate_DevNode(devInst, flags);
    }

private:
    std::string m_lastPrivilege;
};

struct Box {
    std::string text, caption;
    unsigned type;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The log's messages without their time stamps.
std::vector<std::string> LogMessages() {
    std::vector<std::string> lines;
    std::string text = ReadAll(orvex::LogFilePath());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.size() >= 20 && line[4] == '-' && line[13] == ':' && line[19] == ' ') line = line.substr(20);
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}
size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
}

// Steps for the dialog, taken one per timer tick once their condition holds.
struct Step {
    std::function<bool(HWND)> ready;  // null: at once
    std::function<void(HWND)> act;
};

class Driver;
Driver* g_driver = nullptr;

class Driver {
public:
    Driver(CQenSetupApp& app, std::vector<Step> steps) : m_app(app), m_steps(std::move(steps)) { g_driver = this; }
    ~Driver() { g_driver = nullptr; }
    size_t done = 0;
    void Tick() {
        HWND dialog = static_cast<HWND>(m_app.DialogWindow());
        if (!dialog || !IsWindowVisible(dialog) || done >= m_steps.size()) return;
        Step& s = m_steps[done];
        if (s.ready && !s.ready(dialog)) return;
        ++done;
        if (s.act) s.act(dialog);
    }

private:
    CQenSetupApp& m_app;
    std::vector<Step> m_steps;
};

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_driver) g_driver->Tick();
}

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
void Click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
Step WaitThenClick(int waitFor, int click) {
    return {[waitFor](HWND d) { return Visible(d, waitFor); }, [click](HWND d) { Click(d, click); }};
}

class InstallerTest : public ::testing::Test {
protected:
    TestSystem system;
    std::vector<Box> boxes;
    std::vector<std::string> log;
    size_t stepsDone = 0;

    void SetUp() override {
        orvex::LogSetProgram(orvex::LogProgram::QenSetup);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return plat::DefaultAnswer(type);
        });
    }
    void TearDown() override {
        plat::SetMessageBoxAnswerer(nullptr);
        for (const char* name : {"DIFX_STANDIN_RESULT", "DIFX_STANDIN_REBOOT", "DIFX_STANDIN_HOLD"})
            SetEnvironmentVariableA(name, nullptr);
    }

    // One whole run of the program; interactive runs are driven by the steps.
    int Run(const std::string& commandLine, std::vector<Step> steps = {}) {
        orvex::LogClose();
        DeleteFileA(orvex::LogFilePath().c_str());
        CQenSetupApp app(system);
        Driver driver(app, std::move(steps));
        UINT_PTR timer = SetTimer(nullptr, 0, 50, OnTimer);
        int result = app.Run(commandLine, SW_SHOWNORMAL);
        KillTimer(nullptr, timer);
        stepsDone = driver.done;
        log = LogMessages();
        return result;
    }
    bool BoxShown(const std::string& text, const std::string& caption) {
        for (const Box& b : boxes)
            if (b.text == text && b.caption == caption) return true;
        return false;
    }
};

const std::string kExit = "Exiting";

// ---- restart --------------------------------------------------------------------
TEST_F(InstallerTest, DriverAskingForARestartShowsRestartAndTheRestartIsRequestedOnce) {
    SetEnvironmentVariableA("DIFX_STANDIN_REBOOT", "1");
    bool restartShown = false, closeShown = true;
    EXPECT_EQ(Run("", {WaitThenClick(qen::kIdInstall, qen::kIdInstall),
                       {[](HWND d) { return Visible(d, qen::kIdComplete); },
                        [&](HWND d) {
                            restartShown = Visible(d, qen::kIdRestart);
                            closeShown = Visible(d, qen::kIdClose);
                            Click(d, qen::kIdRestart);
                        }}}),
              0);
    EXPECT_EQ(stepsDone, 2u);
    EXPECT_TRUE(restartShown);
    EXPECT_FALSE(closeShown);
    ASSERT_EQ(system.shutdowns.size(), 1u);
    EXPECT_EQ(system.shutdowns[0].timeout, 0u);
    EXPECT_FALSE(system.shutdowns[0].force);
    EXPECT_TRUE(system.shutdowns[0].reboot);
    // Enabled for the request and dropped again afterwards.
    ASSERT_GE(system.privilegeCalls.size(), 2u);
    EXPECT_EQ(system.privilegeCalls[system.privilegeCalls.size() - 2], "+SeShutdownPrivilege");
    EXPECT_EQ(system.privilegeCalls.back(), "-SeShutdownPrivilege");
    EXPECT_TRUE(Has(log, ">> User Pressed INSTALL"));
    EXPECT_LT(IndexOf(log, ">> User Pressed RESTART"), IndexOf(log, "Restarting Windows..."));
    EXPECT_LT(IndexOf(log, "Restarting Windows..."), IndexOf(log, kExit));
}

TEST_F(InstallerTest, ClosingTheWindowAfterARestartRequestRestartsToo) {
    SetEnvironmentVariableA("DIFX_STANDIN_REBOOT", "1");
    Run("", {WaitThenClick(qen::kIdInstall, qen::kIdInstall),
             {[](HWND d) { return Visible(d, qen::kIdRestart); },
              [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }}});
    EXPECT_EQ(stepsDone, 2u);
    EXPECT_EQ(system.shutdowns.size(), 1u);
    EXPECT_FALSE(Has(log, ">> User Pressed RESTART"));
}

TEST_F(InstallerTest, WithoutARestartRequestCloseEndsTheRunAndNothingRestarts) {
    bool restartShown = true;
    Run("", {WaitThenClick(qen::kIdInstall, qen::kIdInstall),
             {[](HWND d) { return Visible(d, qen::kIdClose); },
              [&](HWND d) {
                  restartShown = Visible(d, qen::kIdRestart);
                  Click(d, qen::kIdClose);
              }}});
    EXPECT_EQ(stepsDone, 2u);
    EXPECT_FALSE(restartShown);
    EXPECT_TRUE(system.shutdowns.empty());
    EXPECT_TRUE(Has(log, ">> User Pressed CLOSE"));
    EXPECT_TRUE(Has(log, "DriverPackageInstall Returned 00000103 259 NeedReboot 0") ||
                Has(log, "DriverPackageInstall Returned 00000000 0 NeedReboot 0"));
}

TEST_F(InstallerTest, ASilentRunRestartsWhenTheDriverAsksForIt) {
    SetEnvironmentVariableA("DIFX_STANDIN_REBOOT", "1");
    EXPECT_EQ(Run("SILENT"), 0);
    EXPECT_EQ(system.shutdowns.size(), 1u);
    EXPECT_TRUE(Has(log, "DriverPackageInstall Returned 00000103 259 NeedReboot 1") ||
                Has(log, "DriverPackageInstall Returned 00000000 0 NeedReboot 1"));
    SetEnvironmentVariableA("DIFX_STANDIN_REBOOT", nullptr);
    system.shutdowns.clear();
    Run("SILENT");
    EXPECT_TRUE(system.shutdowns.empty());
}

TEST_F(InstallerTest, RestartThatTheAccountMayNotRequestIsDroppedSilently) {
    SetEnvironmentVariableA("DIFX_STANDIN_REBOOT", "1");
    Run("", {WaitThenClick(qen::kIdInstall, qen::kIdInstall),
             {[](HWND d) { return Visible(d, qen::kIdRestart); },
              [this](HWND d) {
                  system.refusedPrivileges.insert("SeShutdownPrivilege");
                  Click(d, qen::kIdRestart);
              }}});
    EXPECT_TRUE(system.shutdowns.empty());
    EXPECT_EQ(system.privilegeCalls.back(), "-SeShutdownPrivilege");
    for (const Box& b : boxes) EXPECT_NE(b.caption, "No Administrator Privileges");
}

// ---- the dialog's messages ---------------------------------------------------------
TEST_F(InstallerTest, PowerQueriesAreRefusedAndNotificationsGoToTheDebugger) {
    std::map<int, LRESULT> answers;
    bool stillOpen = false;
    Run("", {{nullptr,
              [&](HWND d) {
                  for (int event : {0, 1, 4, 7, 10, 12, 18})
                      answers[event] = SendMessageA(d, WM_POWERBROADCAST, event, 0);
                  SendMessageA(d, WM_DEVICECHANGE, 0x0007, 0);  // DBT_DEVNODES_CHANGED
                  SendMessageA(d, WM_DEVICECHANGE, 0x8000, 0);  // DBT_DEVICEARRIVAL: not written
                  // An accelerator's Cancel (no control) does nothing.
                  SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
                  stillOpen = IsWindowVisible(d) != FALSE;
                  Click(d, qen::kIdCancel);
              }}});
    EXPECT_EQ(answers[0], BROADCAST_QUERY_DENY);
    EXPECT_EQ(answers[1], BROADCAST_QUERY_DENY);
    for (int event : {4, 7, 10, 12, 18}) EXPECT_EQ(answers[event], 1) << event;
    EXPECT_EQ(system.debugOutput,
              (std::vector<std::string>{"PBT_APMQUERYSUSPEND\n", "PBT_APMQUERYSTANDBY\n", "PBT_APMSUSPEND\n",
                                        "PBT_APMRESUMESUSPEND\n", "PBT_APMPOWERSTATUSCHANGE\n",
                                        "PBT_APMRESUMEAUTOMATIC\n", "DBT_DEVNODES_CHANGED\n"}));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(Count(log, ">> User Pressed CANCEL"), 1u);
    EXPECT_FALSE(Has(log, "OnInstall"));
    EXPECT_EQ(log[log.size() - 2], kExit);
}

TEST_F(InstallerTest, TheWelcomePageShowsItsTextsAndTheWindowItsTitle) {
    std::map<int, bool> shown;
    std::string title, notice;
    Run("", {{nullptr, [&](HWND d) {
                  for (int id : {1002, 1003, 1004, 1005, 1006, 1007, 1000, 1001, 8, 2}) shown[id] = Visible(d, id);
                  char buf[256] = {};
                  GetWindowTextA(d, buf, sizeof buf);
                  title = buf;
                  GetDlgItemTextA(d, qen::kIdNotice, buf, sizeof buf);
                  notice = buf;
                  Click(d, qen::kIdCancel);
              }}});
    EXPECT_EQ(title, "Pelk Driver Install: Version 2.00 Build 24b");
    EXPECT_EQ(notice, qen::kNoticeText);
    for (int id : {1002, 1003, 1004, 1005, 1000, 2}) EXPECT_TRUE(shown[id]) << id;
    for (int id : {1006, 1007, 1001, 8}) EXPECT_FALSE(shown[id]) << id;
}

// ---- start-up refusals ----------------------------------------------------------------
TEST_F(InstallerTest, WithoutAdministratorRightsASilentRunEndsWithoutABox) {
    system.refusedPrivileges.insert("SeLoadDriverPrivilege");
    EXPECT_EQ(Run("SILENT"), 0);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "IsAdminstrator FALSE!");
    EXPECT_EQ(log[2], kExit);
    // Both privileges are asked for.
    EXPECT_EQ(system.privilegeCalls, (std::vector<std::string>{"+SeLoadDriverPrivilege", "+SeShutdownPrivilege"}));
}

TEST_F(InstallerTest, WithoutAdministratorRightsAnInteractiveRunSaysSo) {
    system.refusedPrivileges.insert("SeShutdownPrivilege");
    EXPECT_EQ(Run("Silent"), 0);  // not the word in capitals: interactive
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "You must have Adminstrator privileges to run this program!\n\nPlease relaunch this application using "
              "\"Run as administrator\".");
    EXPECT_EQ(boxes[0].caption, "No Administrator Privileges");
    EXPECT_EQ(boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
    EXPECT_TRUE(Has(log, "IsAdminstrator FALSE!"));
}

TEST_F(InstallerTest, AFailedVersionQueryIsShownEvenInSilentRuns) {
    system.versionFails = true;
    Run("SILENT");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "GetVersionEx Failed!");
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].type, unsigned(MB_OK | MB_ICONWARNING));
    EXPECT_TRUE(Has(log, "GetVersionEx FAILED!"));
    EXPECT_FALSE(Has(log, "OnInstall"));
    EXPECT_EQ(log[log.size() - 2], kExit);
}

TEST_F(InstallerTest, WindowsOutsideTheNtFamilyIsRefused) {
    system.platformId = qen::kPlatformWin32Windows;
    Run("SILENT");
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(Has(log, "VER_PLATFORM_WIN32_WINDOWS FAILED!"));
    Run(" SILENT");  // a blank first: interactive
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "This program does not support Windows 95/98/ME");
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
    EXPECT_FALSE(Has(log, "Is64Bit TRUE"));
}

TEST_F(InstallerTest, ADialogThatCannotBeCreatedIsReported) {
    system.dialogFails = true;
    EXPECT_EQ(Run(""), 0);
    EXPECT_TRUE(Has(log, "CreateDialog FAILED! [00000716]"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to display main dialog!");
    EXPECT_EQ(boxes[0].caption, "Pelk Driver Install");
    EXPECT_EQ(boxes[0].type, unsigned(MB_OK));
    EXPECT_EQ(log[log.size() - 2], kExit);
}

// ---- installation faults ------------------------------------------------------------------
TEST_F(InstallerTest, ATemporaryDirectoryThatCannotBeMadeIsReportedAndTheRunGoesOn) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    system.uncreatableDirectory = temp;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "Could not create the temporary directory!"));
    EXPECT_TRUE(Has(log, "OnInstall"));
    for (const Box& b : boxes) EXPECT_NE(b.text, "Could not create the temporary directory!");
    boxes.clear();
    Run("", {{nullptr, [](HWND d) { Click(d, qen::kIdCancel); }}});
    EXPECT_TRUE(BoxShown("Could not create the temporary directory!", temp));
}

TEST_F(InstallerTest, AFrameworkErrorEventIsShownEvenInSilentRuns) {
    SetEnvironmentVariableA("DIFX_STANDIN_RESULT", "0xE0000219");
    Run("SILENT");
    bool shown = false;
    for (const Box& b : boxes)
        if (b.caption == "DIFXAPI_ERROR" && b.type == unsigned(MB_OK | MB_ICONERROR) &&
            b.text.find("failed") != std::string::npos)
            shown = true;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(Has(log, "DriverPackageInstall Returned e0000219 3758096921 NeedReboot 0"));
    bool logged = false;
    for (const std::string& line : log)
        if (line.rfind("DIFXAPI_ERROR   e0000219 ", 0) == 0) logged = true;
    EXPECT_TRUE(logged);
    EXPECT_TRUE(Has(log, "RemoveInstallerFiles"));
}

TEST_F(InstallerTest, AMissingFrameworkExportEndsTheBindingWithItsName) {
    system.missingExport = "DriverPackageGetPathA";
    Run("SILENT");
    EXPECT_TRUE(BoxShown("GetProcAddress failed", "DriverPackageGetPathA"));
    EXPECT_FALSE(Has(log, "InstallQenDriverPackage"));
    EXPECT_TRUE(Has(log, "RemoveInstallerFiles"));
}

TEST_F(InstallerTest, AFrameworkLibraryThatCannotBeLoadedIsReported) {
    system.loadLibraryFails = true;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "LoadLibrary (DIFxAPI.Dll) Failed!"));
    EXPECT_TRUE(BoxShown("LoadLibrary failed", "DIFxAPI.Dll"));
    EXPECT_FALSE(Has(log, "InstallQenDriverPackage"));
}

TEST_F(InstallerTest, AnApplicationsInfThatFailsKeepsTheUnpackedFiles) {
    system.infOpenFails = true;
    Run("SILENT");
    EXPECT_TRUE(BoxShown("Setup was unable to copy the files needed to install the Pelk Applications.",
                         "RunInf Failed! [00000002]"));
    EXPECT_TRUE(Has(log, "Install Applications Complete"));
    EXPECT_TRUE(Has(log, "InstallQenDriverPackage"));
    EXPECT_FALSE(Has(log, "RemoveInstallerFiles"));
    char programFiles[MAX_PATH];
    ExpandEnvironmentStringsA("%ProgramFiles%\\Corvane\\Qen Driver\\PelkWDM.Inf", programFiles, MAX_PATH);
    EXPECT_NE(GetFileAttributesA(programFiles), INVALID_FILE_ATTRIBUTES) << programFiles;
    // The next good run clears it up.
    system.infOpenFails = false;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "RemoveInstallerFiles"));
    EXPECT_EQ(GetFileAttributesA(programFiles), INVALID_FILE_ATTRIBUTES);
}

TEST_F(InstallerTest, AnApplicationsSectionThatFailsIsLoggedWithTheErrorAndShown) {
    system.infSectionFails = true;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "SetupInstallFromInfSection Failed! 0000000d 0"));
    EXPECT_TRUE(BoxShown("Setup was unable to copy the files needed to install the Pelk Applications.",
                         "RunInf Failed! [0000000d]"));
    EXPECT_FALSE(Has(log, "RemoveInstallerFiles"));
}

TEST_F(InstallerTest, BeforeWindows7ACarriedLibraryThatWillNotLoadIsReportedAndRemoved) {
    system.major = 6;
    system.minor = 0;
    system.loadLibraryFails = true;
    char cwd[MAX_PATH], temp[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    GetTempPathA(MAX_PATH, temp);
    std::string unpacked = std::string(cwd) + "\\DIFx64.Dll";
    Run("SILENT");
    EXPECT_TRUE(Has(log, "Writing DIFx64.Dll to " + unpacked + " from " + temp + "DIFx64.Dl$")) << unpacked;
    EXPECT_TRUE(Has(log, "LoadLibrary (DIFx64.Dll) Failed!"));
    EXPECT_TRUE(BoxShown("LoadLibrary failed", "DIFx64.Dll"));
    EXPECT_TRUE(Has(log, "DeleteFile " + unpacked));
    EXPECT_EQ(GetFileAttributesA(unpacked.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(Has(log, "InstallQenDriverPackage"));
}

TEST_F(InstallerTest, AShortcutThatCannotBeMadeIsLoggedAndKeepsTheUnpackedFiles) {
    system.linkResult = E_FAIL;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "CreateLink FAILED! 80004005"));
    EXPECT_FALSE(Has(log, "RemoveInstallerFiles"));
}

TEST_F(InstallerTest, WithoutAnAppDataValueTheApplicationsInstallWithoutAShortcut) {
    const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ | KEY_WRITE, &k), ERROR_SUCCESS);
    char appData[MAX_PATH] = {};
    DWORD size = sizeof appData;
    ASSERT_EQ(RegQueryValueExA(k, "AppData", nullptr, nullptr, reinterpret_cast<BYTE*>(appData), &size),
              ERROR_SUCCESS);
    std::string link = std::string(appData) + "\\Microsoft\\Internet Explorer\\Quick Launch\\Pelk Mixer.lnk";
    DeleteFileA(link.c_str());
    ASSERT_EQ(RegDeleteValueA(k, "AppData"), ERROR_SUCCESS);
    Run("SILENT");
    RegSetValueExA(k, "AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(appData), DWORD(strlen(appData) + 1));
    RegCloseKey(k);
    EXPECT_EQ(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Has(log, "Install Applications Complete"));
    EXPECT_TRUE(Has(log, "RemoveInstallerFiles"));  // the applications counted as installed
    for (const std::string& line : log) EXPECT_EQ(line.find("CreateLink"), std::string::npos) << line;
}

TEST_F(InstallerTest, ACertificateFileThatCannotBeReadIsLogged) {
    system.certificateUnreadable = true;
    Run("SILENT");
    EXPECT_TRUE(Has(log, "CryptQueryObject FAILED 80092009"));
    EXPECT_FALSE(Has(log, "Added certificate to TrustedPublisher store."));
    EXPECT_TRUE(Has(log, "InstallApps"));
}

TEST_F(InstallerTest, TheCardScanLooksAt4096DevicesAtMost) {
    system.everyDeviceFails = true;
    Run("SILENT");
    size_t errors = 0;
    for (const std::string& line : log)
        if (line.rfind("SetupDiEnumDeviceInfo ", 0) == 0) ++errors;
    EXPECT_EQ(errors, 4096u);
    EXPECT_TRUE(Has(log, "SetupDiEnumDeviceInfo 0 Failed 0000000d 13"));
    EXPECT_TRUE(Has(log, "SetupDiEnumDeviceInfo 4095 Failed 0000000d 13"));
    EXPECT_TRUE(Has(log, "GetNumberOfDevices Complete 0"));
}

// ---- cards and driver files --------------------------------------------------------------
void AddCard(const char* instance, const char* hardwareId, const char* location, DWORD slot) {
    GUID media = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiCreateDeviceInfoList(&media, nullptr);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, instance, &media, nullptr, nullptr, 0, &device)) << GetLastError();
    std::string ids = std::string(hardwareId) + '\0' + '\0';
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(ids.data()), DWORD(ids.size())));
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_LOCATION_INFORMATION,
                                                  reinterpret_cast<const BYTE*>(location), DWORD(strlen(location) + 1)));
    if (slot) {
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_UI_NUMBER,
                                                      reinterpret_cast<const BYTE*>(&slot), sizeof slot));
    }
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) << GetLastError();
    SetupDiDestroyDeviceInfoList(set);
}

std::string DeviceText(const char* instance, DWORD property) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    char text[256] = {};
    if (SetupDiOpenDeviceInfoA(set, instance, nullptr, 0, &device))
        SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr, reinterpret_cast<BYTE*>(text), 255,
                                          nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return text;
}

// Defined last, so it runs last: the cards it adds stay in the prefix.
TEST_F(InstallerTest, CardsAreNamedCountedAndGetTheirPropertiesAndTheirDriverFilesAreLogged) {
    // No card yet: the rescan is asked for; Wine's configuration manager does not offer it.
    Run("SILENT");
    EXPECT_EQ(Count(log, "GetNumberOfDevices"), 1u);
    EXPECT_TRUE(Has(log, "OnScan"));
    EXPECT_TRUE(Has(log, "GetNumberOfDevices Complete 0"));
    system.rescanWorks = true;
    Run("SILENT");
    EXPECT_EQ(Count(log, "GetNumberOfDevices"), 2u);
    system.rescanWorks = false;

    const char* tarsel = "PCI\\VEN_1D5C&DEV_0028&SUBSYS_00011D5C&REV_01\\4&2B8E0F7&0&00E0";
    const char* orvex = "PCI\\VEN_1D5C&DEV_2614&SUBSYS_00000000&REV_02\\4&1C3A2B1&0&0008";
    const char* odd = "PCI\\VEN_1D5C&DEV_9999&SUBSYS_00000000&REV_00\\4&11111111&0&0010";
    const char* other = "PCI\\VEN_8086&DEV_0028&SUBSYS_00000000&REV_00\\3&22222222&0&00F8";
    AddCard(tarsel, "PCI\\VEN_1D5C&DEV_0028&SUBSYS_00011D5C&REV_01", "PCI bus 3, device 0, function 0", 2);
    AddCard(orvex, "pci\\ven_1d5c&dev_2614&SUBSYS_00000000&REV_02", "PCI bus 5, device 0, function 0", 0);
    AddCard(odd, "PCI\\VEN_1D5C&DEV_9999&SUBSYS_00000000&REV_00", "PCI bus 6, device 1, function 0", 4);
    AddCard(other, "PCI\\VEN_8086&DEV_0028&SUBSYS_00000000&REV_00", "PCI bus 0, device 31, function 0", 0);

    system.failingDeviceIndex = 0;
    Run("SILENT");
    system.failingDeviceIndex = -1;
    EXPECT_TRUE(Has(log, "SetupDiEnumDeviceInfo 0 Failed 0000000d 13"));
    EXPECT_TRUE(Has(log, "Pelk Tarsel-X at (PCI bus 3, device 0, function 0) in PCI Slot 2"));
    EXPECT_TRUE(Has(log, "Orvex 16 at (PCI bus 5, device 0, function 0)"));
    EXPECT_TRUE(Has(log, "Unknown! at (PCI bus 6, device 1, function 0) in PCI Slot 4"));
    EXPECT_TRUE(Has(log, "GetNumberOfDevices Complete 3"));
    EXPECT_FALSE(Has(log, "OnScan"));
    EXPECT_EQ(DeviceText(tarsel, SPDRP_MFG), "Corvane, Inc.");
    EXPECT_EQ(DeviceText(tarsel, SPDRP_DEVICEDESC), "Pelk Tarsel-X");
    EXPECT_EQ(DeviceText(orvex, SPDRP_DEVICEDESC), "Orvex 16");
    EXPECT_EQ(DeviceText(odd, SPDRP_DEVICEDESC), "Unknown!");
    EXPECT_EQ(DeviceText(other, SPDRP_MFG), "");

    // That run installed the driver on the cards; this one finds its files.
    Run("SILENT");
    char windows[MAX_PATH], sys[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(sys, MAX_PATH);
    std::string wdm = std::string(windows) + "\\SysWOW64\\PelkWDM.dll";
    std::string lib = std::string(sys) + "\\PelkQen64.Dll";
    std::string driver = std::string(sys) + "\\Drivers\\PelkQen64.sys";
    EXPECT_TRUE(Has(log, wdm + " Installed.  Version 2.0.24.2"));
    EXPECT_TRUE(Has(log, lib + " Installed.  Version 2.0.24.2"));
    EXPECT_TRUE(Has(log, driver + " Installed.  Version 2.0.24.2"));
    EXPECT_LT(IndexOf(log, wdm + " Installed.  Version 2.0.24.2"), IndexOf(log, "GetNumberOfDevices"));

    // A file without a version resource is still named, with an empty version.
    {
        std::ofstream(lib, std::ios::binary | std::ios::trunc) << "no version here";
    }
    Run("SILENT");
    DeleteFileA(lib.c_str());
    DeleteFileA(wdm.c_str());
    DeleteFileA(driver.c_str());
    EXPECT_TRUE(Has(log, lib + " Installed.  Version ")) << lib;
    // None left: no line (the run installs them again for the cards, after looking).
    Run("SILENT");
    for (const std::string& line : log) EXPECT_EQ(line.find(" Installed.  Version"), std::string::npos) << line;
    DeleteFileA(lib.c_str());
    DeleteFileA(wdm.c_str());
    DeleteFileA(driver.c_str());
}

}  // namespace
