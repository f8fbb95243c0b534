#pragma once
// The Windows services the installer uses beyond the shared OS layer: token
// privileges, the window walk, its modeless dialog, registry texts, version
// resources, SetupAPI (INF installation, device enumeration and properties),
// the configuration manager, CryptoAPI stores, the shell-link object and the
// restart. One virtual per Win32 call, named after it, with portable types:
// installer/win32 implements it on the real API; tests derive from that and
// replace single calls (the restart above all, which no test may really make).
#include <cstdint>
#include <functional>
#include <string>

// Callbacks the system calls use stdcall on 32-bit x86.
#if defined(__i386__)
#define QEN_WINAPI __attribute__((stdcall))
#else
#define QEN_WINAPI
#endif

namespace qen {

using Window = void*;       // HWND
using Module = void*;       // HMODULE
using Token = void*;        // process token HANDLE
using InfHandle = void*;    // HINF
using CertStore = void*;    // HCERTSTORE
using CertContext = const void*;  // PCCERT_CONTEXT
using DevInfoSet = void*;   // HDEVINFO
inline DevInfoSet const kInvalidDevInfoSet = reinterpret_cast<DevInfoSet>(intptr_t{-1});

// SP_DEVINFO_DATA, kept whole for the system; its size is checked against the real one.
struct DevInfoData {
    alignas(8) uint8_t bytes[32];
};

enum class RegRoot { CurrentUser, LocalMachine };

struct OsVersionInfo {
    uint32_t major = 0, minor = 0, build = 0, platformId = 0;
    std::string servicePack;
};
struct ProcessorInfo {
    uint16_t architecture = 0;
    uint32_t processors = 0;
    uint16_t level = 0, revision = 0;
};
struct MemoryInfo {
    uint64_t totalPhys = 0, availPhys = 0, totalPageFile = 0, availPageFile = 0;
};

// ---- values of the system's own constants (checked in installer/win32) ----
inline constexpr uint32_t kPlatformWin32Windows = 1, kPlatformWin32NT = 2;
inline constexpr uint16_t kArchitectureAmd64 = 9;

inline constexpr unsigned kWmDestroy = 0x0002, kWmClose = 0x0010, kWmInitDialog = 0x0110, kWmCommand = 0x0111,
                          kWmSysCommand = 0x0112, kWmPowerBroadcast = 0x0218, kWmDeviceChange = 0x0219;
inline constexpr unsigned kScClose = 0xF060;
inline constexpr uintptr_t kDbtDevNodesChanged = 0x0007;
inline constexpr intptr_t kBroadcastQueryDeny = 0x424D5144;
inline constexpr uintptr_t kPbtApmQuerySuspend = 0, kPbtApmQueryStandby = 1;

inline constexpr uint32_t kErrorSuccess = 0, kErrorFileNotFound = 2, kErrorPathNotFound = 3,
                          kErrorAccessDenied = 5, kErrorNoMoreItems = 259, kErrorAlreadyExists = 183;

// SetupAPI.
inline constexpr uint32_t kInfStyleWin4 = 0x2;
inline constexpr uint32_t kSpinstAll = 0x1FF;
inline constexpr uint32_t kSpCopySourceAbsolute = 0x40;
inline constexpr uint32_t kDigcfAllClasses = 0x4;
inline constexpr uint32_t kSpdrpDeviceDesc = 0x0, kSpdrpHardwareId = 0x1, kSpdrpMfg = 0xB,
                          kSpdrpLocationInformation = 0xD, kSpdrpUiNumber = 0x10;
inline constexpr unsigned kFileOpAbort = 0, kFileOpDoIt = 1, kFileOpSkip = 2;
inline constexpr uint32_t kCrSuccess = 0;

// CryptoAPI: a certificate file of any content type and format; the local
// machine's system store opened only when it exists; a certificate always added.
inline constexpr uint32_t kCertQueryContentFlagAll = 0x3FFE, kCertQueryFormatFlagAll = 0xE;
inline constexpr uint32_t kCertSystemStoreLocalMachine = 0x20000, kCertStoreOpenExistingFlag = 0x4000;
inline constexpr uint32_t kCertStoreAddAlways = 4;

// The file paths a setup-queue notification carries in its first parameter.
struct FILEPATHS_A {
    const char* Target;
    const char* Source;
    uint32_t Win32Error;
    uint32_t Flags;
};
using PSP_FILE_CALLBACK_A = unsigned(QEN_WINAPI*)(void* context, unsigned notification, uintptr_t param1,
                                                  uintptr_t param2);

// The installer's dialog procedure: answers whether it handled the message and,
// for handled messages with a result of their own, sets *result.
class IQenDialogProc {
public:
    virtual ~IQenDialogProc() = default;
    virtual bool DialogProc(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) = 0;
};

class IQenSystem {
public:
    virtual ~IQenSystem() = default;

    // ---- process token ----
    virtual bool OpenProcessToken(Token* token) = 0;  // for adjusting and querying privileges
    virtual bool LookupPrivilegeValue(const char* name, uint64_t* luid) = 0;
    virtual bool AdjustTokenPrivileges(Token token, uint64_t luid, bool enable) = 0;
    virtual void CloseToken(Token token) = 0;

    // ---- the machine ----
    virtual bool GetUserName(std::string* name) = 0;
    virtual bool GetComputerName(std::string* name) = 0;
    // A text value (REG_SZ) of a key of the current user or the local machine.
    virtual bool RegQueryString(RegRoot root, const std::string& key, const std::string& value, std::string* out) = 0;
    virtual bool GetVersionEx(OsVersionInfo* info) = 0;
    virtual void GetSystemInfo(ProcessorInfo* info) = 0;
    // Looked up by name in kernel32 at start-up; false when the system has no such function.
    virtual bool GetNativeSystemInfo(ProcessorInfo* info) = 0;
    virtual bool GlobalMemoryStatusEx(MemoryInfo* info) = 0;
    virtual void OutputDebugString(const std::string& text) = 0;
    // Shut down and restart: no message, the given delay, applications not forced.
    virtual bool InitiateSystemShutdown(uint32_t timeoutSeconds, bool forceAppsClosed, bool reboot) = 0;

    // ---- top-level windows ----
    virtual Window GetTopWindow() = 0;
    virtual Window GetNextWindow(Window window) = 0;  // the next one down the Z-order
    virtual std::string GetWindowText(Window window, int maxChars) = 0;
    virtual intptr_t SendMessage(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) = 0;

    // ---- the dialog ----
    virtual void InitCommonControls() = 0;  // standard classes
    virtual Window CreateDialogParam(int templateId, IQenDialogProc* proc) = 0;  // modeless, no owner
    virtual void ShowWindow(Window window, int showCommand) = 0;
    virtual void UpdateWindow(Window window) = 0;
    // GetMessage until the quit message; the dialog's messages go through the dialog manager.
    virtual void RunMessageLoop(Window dialog) = 0;
    virtual void SetWindowText(Window window, const std::string& text) = 0;
    virtual void SetDlgItemText(Window dialog, int id, const std::string& text) = 0;
    virtual void ShowDlgItem(Window dialog, int id, bool show) = 0;
    virtual void EndDialog(Window dialog, int result) = 0;
    virtual void PostQuitMessage(int code) = 0;
    // Takes at most one pending message for the window (any window when null) and dispatches it.
    virtual bool PeekAndDispatchMessage(Window window) = 0;
    // owner may be null. An answerer installed in the OS layer takes every box.
    virtual int MessageBox(Window owner, const std::string& text, const std::string& caption, unsigned type) = 0;

    // ---- directories and files ----
    virtual std::string GetWindowsDirectory() = 0;
    virtual std::string GetSystemDirectory() = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
    virtual bool RemoveDirectory(const std::string& path) = 0;
    virtual bool FindFile(const std::string& path) = 0;  // a file search for exactly this path
    virtual bool IsDBCSLeadByte(uint8_t byte) = 0;
    // The program's raw-data resource names in the system's order; the visitor
    // answers false to stop, and the call then fails with the system's error code.
    virtual bool EnumResourceNames(const std::function<bool(const char* name)>& visit) = 0;

    // ---- version resources ----
    virtual uint32_t GetFileVersionInfoSize(const std::string& path) = 0;
    virtual bool GetFileVersionInfo(const std::string& path, uint32_t size, void* block) = 0;
    virtual bool VerQueryValue(const void* block, const std::string& subBlock, const void** value, uint32_t* length) = 0;

    // ---- libraries ----
    virtual Module LoadLibrary(const std::string& path) = 0;
    virtual void* GetProcAddress(Module module, const char* name) = 0;
    virtual void FreeLibrary(Module module) = 0;

    // ---- certificates ----
    // The file queried as a certificate object; null on failure.
    virtual CertContext CryptQueryObjectFile(const wchar_t* path, uint32_t contentFlags, uint32_t formatFlags) = 0;
    virtual CertStore CertOpenSystemStore(const char* name, uint32_t flags) = 0;
    virtual bool CertAddCertificateContextToStore(CertStore store, CertContext context, uint32_t disposition) = 0;
    virtual void CertCloseStore(CertStore store) = 0;
    virtual void CertFreeCertificateContext(CertContext context) = 0;

    // ---- INF files ----
    virtual InfHandle SetupOpenInfFile(const std::string& path, uint32_t style, uint32_t* errorLine) = 0;  // null on failure
    virtual bool SetupInstallFromInfSection(Window owner, InfHandle inf, const std::string& section, uint32_t flags,
                                            RegRoot relativeKey, const char* sourceRoot, uint32_t copyFlags,
                                            PSP_FILE_CALLBACK_A callback, void* context) = 0;
    virtual void SetupCloseInfFile(InfHandle inf) = 0;

    // ---- shell link ----
    // Component library for the thread, the shell-link object, its target and
    // description, saved through its persist-file interface; 0 or the failing step's result.
    virtual int32_t CreateShellLink(const std::string& target, const std::string& description,
                                    const wchar_t* linkPath) = 0;

    // ---- devices ----
    virtual DevInfoSet SetupDiGetClassDevs(const char* enumerator, uint32_t flags) = 0;
    virtual bool SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* data) = 0;
    virtual bool SetupDiGetDeviceRegistryProperty(DevInfoSet set, DevInfoData* data, uint32_t property, void* buffer,
                                                  uint32_t size) = 0;
    virtual bool SetupDiSetDeviceRegistryProperty(DevInfoSet set, DevInfoData* data, uint32_t property,
                                                  const void* buffer, uint32_t size) = 0;
    virtual void SetupDiDestroyDeviceInfoList(DevInfoSet set) = 0;
    virtual uint32_t CM_Locate_DevNode(uint32_t* devInst) = 0;  // the root of the device tree
    virtual uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) = 0;
};

}  // namespace qen
