#pragma once
// QenSetup: the driver installer. One process-wide instance holds the run's
// state; it runs the start-up checks, its modeless dialog (or, silently, the
// installation alone), the installation itself and the restart at the end.
// Every OS service it needs beyond the shared OS layer comes through IQenSystem.
#include <cstdint>
#include <string>

#include "installer/DifxApi.h"
#include "installer/QenSystem.h"

class CQenSetupApp final : public qen::IQenDialogProc {
public:
    explicit CQenSetupApp(qen::IQenSystem& system);
    ~CQenSetupApp() override;
    CQenSetupApp(const CQenSetupApp&) = delete;
    CQenSetupApp& operator=(const CQenSetupApp&) = delete;

    // Program entry: the command line after the program's name and the show command; answers 0.
    int Run(const std::string& commandLine, int showCommand);

    // ---- start-up (the dialog's) ----
    bool SetPrivilege(const char* privilege, bool enable);
    bool IsAdminstrator();
    void CloseWindowsByTitle(const std::string& prefix);
    int InitDialog(qen::Window dialog);  // WM_INITDIALOG, and the silent run without a window
    void ShowPage(int page);
    bool DialogProc(qen::Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam,
                    intptr_t* result) override;

    // ---- installation ----
    void PrepareDirectories();
    int OnInstall(qen::Window window);
    void RemoveInstalledApps();
    bool CopyFiles(qen::Window window);
    std::string GetInstallPath(const std::string& resourceName) const;
    bool AddCertificate(const std::string& path);
    bool InstallApps(qen::Window window);
    int32_t CreateLink(const std::string& target, const std::string& linkPath);
    bool BindDifx(bool is64Bit);
    bool UnbindDifx(bool is64Bit);
    bool InstallQenDriverPackage(qen::Window window);
    void RemoveInstallerFiles();
    static unsigned QEN_WINAPI InfFileCallback(void* context, unsigned notification, uintptr_t param1,
                                              uintptr_t param2);
    static void QEN_WINAPI DifxLogCallback(difx::DIFXAPI_LOG eventType, uint32_t errorCode, const char* text,
                                          void* context);

    // ---- installed drivers and cards ----
    void LogInstalledDriverFiles();
    bool GetFileVersionString(const std::string& path, uint32_t size, std::string* version);
    uint32_t GetNumberOfDevices();
    void OnScan();

    // ---- state, for the tests and the dialog host ----
    bool Silent() const { return m_bSilent; }
    bool RestartRequested() const { return m_bRestart; }
    bool Windows7() const { return m_bWindows7; }
    bool Windows8() const { return m_bWindows8; }
    bool Windows10() const { return m_bWindows10; }
    bool Is64Bit() const { return m_bIs64Bit; }
    uint32_t CardCount() const { return m_dwCardCount; }
    qen::Window DialogWindow() const { return m_hDialog; }
    const std::string& WindowsDirectory() const { return m_szWindowsDir; }
    const std::string& SystemDirectory() const { return m_szSystemDir; }
    const std::string& TempDirectory() const { return m_szTempDir; }
    const std::string& ApplicationsDirectory() const { return m_szAppsDir; }
    const std::string& DriverDirectory() const { return m_szDriverDir; }
    const std::string& WorkingDirectory() const { return m_szWorkingDir; }

private:
    void OnCommand(qen::Window dialog, int id);
    intptr_t OnPowerBroadcast(uintptr_t event);
    void PumpOne(qen::Window window);
    int Box(qen::Window owner, const std::string& text, const std::string& caption, unsigned type);
    std::string EndWithBackslash(const std::string& path);
    void DeleteUnpackedDifx(const std::string& path);
    void EndOfRun();

    static CQenSetupApp* s_pApp;  // the callbacks reach the process-wide state through it

    qen::IQenSystem& m_System;
    bool m_bSilent = false;
    bool m_bRestart = false;
    bool m_bWindows7 = false;
    bool m_bWindows8 = false;
    bool m_bWindows10 = false;
    bool m_bIs64Bit = false;
    bool m_bDifxErrorBoxes = false;
    uint32_t m_dwCardCount = 0;
    qen::Window m_hDialog = nullptr;

    std::string m_szWindowsDir, m_szSystemDir, m_szTempDir, m_szAppsDir, m_szDriverDir, m_szWorkingDir;

    qen::Module m_hDifx = nullptr;
    bool m_bDifxEmbedded = false;  // the library is the unpacked copy in the working directory
    difx::DifxApi m_Difx;
};
