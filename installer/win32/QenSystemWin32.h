#pragma once
// The installer's services on the real Windows API. Tests derive from it and
// replace single calls; everything they do not replace is the system's own.
#include "installer/QenSystem.h"

class CQenSystemWin32 : public qen::IQenSystem {
public:
    CQenSystemWin32();

    bool OpenProcessToken(qen::Token* token) override;
    bool LookupPrivilegeValue(const char* name, uint64_t* luid) override;
    bool AdjustTokenPrivileges(qen::Token token, uint64_t luid, bool enable) override;
    void CloseToken(qen::Token token) override;

    bool GetUserName(std::string* name) override;
    bool GetComputerName(std::string* name) override;
    bool RegQueryString(qen::RegRoot root, const std::string& key, const std::string& value,
                        std::string* out) override;
    bool GetVersionEx(qen::OsVersionInfo* info) override;
    void GetSystemInfo(qen::ProcessorInfo* info) override;
    bool GetNativeSystemInfo(qen::ProcessorInfo* info) override;
    bool GlobalMemoryStatusEx(qen::MemoryInfo* info) override;
    void OutputDebugString(const std::string& text) override;
    bool InitiateSystemShutdown(uint32_t timeoutSeconds, bool forceAppsClosed, bool reboot) override;

    qen::Window GetTopWindow() override;
    qen::Window GetNextWindow(qen::Window window) override;
    std::string GetWindowText(qen::Window window, int maxChars) override;
    intptr_t SendMessage(qen::Window window, unsigned message, uintptr_t wParam, intptr_t lParam) override;

    void InitCommonControls() override;
    qen::Window CreateDialogParam(int templateId, qen::IQenDialogProc* proc) override;
    void ShowWindow(qen::Window window, int showCommand) override;
    void UpdateWindow(qen::Window window) override;
    void RunMessageLoop(qen::Window dialog) override;
    void SetWindowText(qen::Window window, const std::string& text) override;
    void SetDlgItemText(qen::Window dialog, int id, const std::string& text) override;
    void ShowDlgItem(qen::Window dialog, int id, bool show) override;
    void EndDialog(qen::Window dialog, int result) override;
    void PostQuitMessage(int code) override;
    bool PeekAndDispatchMessage(qen::Window window) override;
    int MessageBox(qen::Window owner, const std::string& text, const std::string& caption, unsigned type) override;

    std::string GetWindowsDirectory() override;
    std::string GetSystemDirectory() override;
    bool CreateDirectory(const std::string& path) override;
    bool RemoveDirectory(const std::string& path) override;
    bool FindFile(const std::string& path) override;
    bool IsDBCSLeadByte(uint8_t byte) override;
    bool EnumResourceNames(const std::function<bool(const char* name)>& visit) override;

    uint32_t GetFileVersionInfoSize(const std::string& path) override;
    bool GetFileVersionInfo(const std::string& path, uint32_t size, void* block) override;
    bool VerQueryValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length) override;

    qen::Module LoadLibrary(const std::string& path) override;
    void* GetProcAddress(qen::Module module, const char* name) override;
    void FreeLibrary(qen::Module module) override;

    qen::CertContext CryptQueryObjectFile(const wchar_t* path, uint32_t contentFlags, uint32_t formatFlags) override;
    qen::CertStore CertOpenSystemStore(const char* name, uint32_t flags) override;
    bool CertAddCertificateContextToStore(qen::CertStore store, qen::CertContext context,
                                          uint32_t disposition) override;
    void CertCloseStore(qen::CertStore store) override;
    void CertFreeCertificateContext(qen::CertContext context) override;

    qen::InfHandle SetupOpenInfFile(const std::string& path, uint32_t style, uint32_t* errorLine) override;
    bool SetupInstallFromInfSection(qen::Window owner, qen::InfHandle inf, const std::string& section, uint32_t flags,
                                    qen::RegRoot relativeKey, const char* sourceRoot, uint32_t copyFlags,
                                    qen::PSP_FILE_CALLBACK_A callback, void* context) override;
    void SetupCloseInfFile(qen::InfHandle inf) override;

    int32_t CreateShellLink(const std::string& target, const std::string& description,
                            const wchar_t* linkPath) override;

    qen::DevInfoSet SetupDiGetClassDevs(const char* enumerator, uint32_t flags) override;
    bool SetupDiEnumDeviceInfo(qen::DevInfoSet set, uint32_t index, qen::DevInfoData* data) override;
    bool SetupDiGetDeviceRegistryProperty(qen::DevInfoSet set, qen::DevInfoData* data, uint32_t property,
                                          void* buffer, uint32_t size) override;
    bool SetupDiSetDeviceRegistryProperty(qen::DevInfoSet set, qen::DevInfoData* data, uint32_t property,
                                          const void* buffer, uint32_t size) override;
    void SetupDiDestroyDeviceInfoList(qen::DevInfoSet set) override;
    uint32_t CM_Locate_DevNode(uint32_t* devInst) override;
    uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) override;

private:
    void* m_pGetNativeSystemInfo = nullptr;  // kernel32's, when the system has it
};
