// Each function is the Win32 call it is named after, or the short fixed
// sequence of calls the installer makes for one service (the shell link).
#include "installer/win32/QenWin32.h"

#include <cstddef>
#include <cstring>

#include "installer/win32/QenSystemWin32.h"
#include "platform/Platform.h"

using namespace qen;

// The installer's copies of the system's constants and records.
static_assert(kPlatformWin32Windows == VER_PLATFORM_WIN32_WINDOWS && kPlatformWin32NT == VER_PLATFORM_WIN32_NT);
static_assert(kArchitectureAmd64 == PROCESSOR_ARCHITECTURE_AMD64);
static_assert(kWmDestroy == WM_DESTROY && kWmClose == WM_CLOSE && kWmInitDialog == WM_INITDIALOG &&
              kWmCommand == WM_COMMAND && kWmSysCommand == WM_SYSCOMMAND && kWmPowerBroadcast == WM_POWERBROADCAST &&
              kWmDeviceChange == WM_DEVICECHANGE && kScClose == SC_CLOSE);
static_assert(kDbtDevNodesChanged == 0x0007);  // DBT_DEVNODES_CHANGED, <dbt.h>
static_assert(kBroadcastQueryDeny == BROADCAST_QUERY_DENY);
static_assert(kPbtApmQuerySuspend == PBT_APMQUERYSUSPEND && kPbtApmQueryStandby == PBT_APMQUERYSTANDBY);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS &&
              kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
// Every operation of the SetupAPI the installer was made with; later ones added SPINST_COPYINF.
static_assert(kSpinstAll == (SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY | SPINST_INI2REG | SPINST_FILES |
                             SPINST_BITREG | SPINST_REGSVR | SPINST_UNREGSVR | SPINST_PROFILEITEMS));
static_assert(kInfStyleWin4 == INF_STYLE_WIN4 &&
              kSpCopySourceAbsolute == SP_COPY_SOURCE_ABSOLUTE && kDigcfAllClasses == DIGCF_ALLCLASSES);
static_assert(kSpdrpDeviceDesc == SPDRP_DEVICEDESC && kSpdrpHardwareId == SPDRP_HARDWAREID &&
              kSpdrpMfg == SPDRP_MFG && kSpdrpLocationInformation == SPDRP_LOCATION_INFORMATION &&
              kSpdrpUiNumber == SPDRP_UI_NUMBER);
static_assert(kFileOpAbort == FILEOP_ABORT && kFileOpDoIt == FILEOP_DOIT && kFileOpSkip == FILEOP_SKIP);
static_assert(kCrSuccess == CR_SUCCESS);
static_assert(kCertQueryContentFlagAll == CERT_QUERY_CONTENT_FLAG_ALL &&
              kCertQueryFormatFlagAll == CERT_QUERY_FORMAT_FLAG_ALL);
static_assert(kCertSystemStoreLocalMachine == CERT_SYSTEM_STORE_LOCAL_MACHINE &&
              kCertStoreOpenExistingFlag == CERT_STORE_OPEN_EXISTING_FLAG &&
              kCertStoreAddAlways == CERT_STORE_ADD_ALWAYS);
static_assert(sizeof(SP_DEVINFO_DATA) <= sizeof(DevInfoData) && alignof(SP_DEVINFO_DATA) <= alignof(DevInfoData));
static_assert(sizeof(qen::FILEPATHS_A) == sizeof(::FILEPATHS_A) &&
              offsetof(qen::FILEPATHS_A, Target) == offsetof(::FILEPATHS_A, Target) &&
              offsetof(qen::FILEPATHS_A, Source) == offsetof(::FILEPATHS_A, Source) &&
              offsetof(qen::FILEPATHS_A, Win32Error) == offsetof(::FILEPATHS_A, Win32Error) &&
              offsetof(qen::FILEPATHS_A, Flags) == offsetof(::FILEPATHS_A, Flags));
static_assert(sizeof(wchar_t) == sizeof(WCHAR));

namespace {
HWND H(Window w) { return static_cast<HWND>(w); }
HKEY Root(RegRoot root) { return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
SP_DEVINFO_DATA* Device(DevInfoData* data) { return reinterpret_cast<SP_DEVINFO_DATA*>(data->bytes); }

ProcessorInfo FromSystemInfo(const SYSTEM_INFO& si) {
    ProcessorInfo info;
    info.architecture = si.wProcessorArchitecture;
    info.processors = si.dwNumberOfProcessors;
    info.level = si.wProcessorLevel;
    info.revision = si.wProcessorRevision;
    return info;
}

INT_PTR CALLBACK QenDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    auto* proc = reinterpret_cast<IQenDialogProc*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!proc) return FALSE;
    intptr_t result = 0;
    if (!proc->DialogProc(hwnd, message, wParam, lParam, &result)) return FALSE;
    // The dialog manager takes WM_INITDIALOG's answer from the return value and
    // every other message's from DWLP_MSGRESULT.
    if (message == WM_INITDIALOG) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

BOOL CALLBACK VisitName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name)) return TRUE;
    return (*reinterpret_cast<const std::function<bool(const char*)>*>(param))(name) ? TRUE : FALSE;
}
}  // namespace

CQenSystemWin32::CQenSystemWin32() {
    // Not every system has it; the installer asks by name.
    if (HMODULE kernel = GetModuleHandleA("kernel32"))
        m_pGetNativeSystemInfo = reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo"));
}

bool CQenSystemWin32::OpenProcessToken(Token* token) {
    HANDLE h = nullptr;
    if (!::OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &h)) return false;
    *token = h;
    return true;
}

bool CQenSystemWin32::LookupPrivilegeValue(const char* name, uint64_t* luid) {
    LUID value;
    if (!::LookupPrivilegeValueA(nullptr, name, &value)) return false;
    *luid = (uint64_t{static_cast<uint32_t>(value.HighPart)} << 32) | value.LowPart;
    return true;
}

bool CQenSystemWin32::AdjustTokenPrivileges(Token token, uint64_t luid, bool enable) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    return ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) != FALSE;
}

void CQenSystemWin32::CloseToken(Token token) { ::CloseHandle(token); }

bool CQenSystemWin32::GetUserName(std::string* name) {
    char buf[256] = {};
    DWORD n = sizeof buf;
    if (!::GetUserNameA(buf, &n)) return false;
    buf[sizeof buf - 1] = '\0';
    *name = buf;
    return true;
}

bool CQenSystemWin32::GetComputerName(std::string* name) {
    char buf[256] = {};
    DWORD n = sizeof buf;
    if (!::GetComputerNameA(buf, &n)) return false;
    buf[sizeof buf - 1] = '\0';
    *name = buf;
    return true;
}

bool CQenSystemWin32::RegQueryString(RegRoot root, const std::string& key, const std::string& value,
                                     std::string* out) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(Root(root), key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    char buf[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH, type = 0;
    LONG r = RegQueryValueExA(k, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    *out = std::string(buf, strnlen(buf, size));
    return true;
}

bool CQenSystemWin32::GetVersionEx(OsVersionInfo* info) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (!::GetVersionExA(&v)) return false;
    info->major = v.dwMajorVersion;
    info->minor = v.dwMinorVersion;
    info->build = v.dwBuildNumber;
    info->platformId = v.dwPlatformId;
    info->servicePack = std::string(v.szCSDVersion, strnlen(v.szCSDVersion, sizeof v.szCSDVersion));
    return true;
}

void CQenSystemWin32::GetSystemInfo(ProcessorInfo* info) {
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    *info = FromSystemInfo(si);
}

bool CQenSystemWin32::GetNativeSystemInfo(ProcessorInfo* info) {
    if (!m_pGetNativeSystemInfo) return false;
    SYSTEM_INFO si;
    reinterpret_cast<void(WINAPI*)(SYSTEM_INFO*)>(m_pGetNativeSystemInfo)(&si);
    *info = FromSystemInfo(si);
    return true;
}

bool CQenSystemWin32::GlobalMemoryStatusEx(MemoryInfo* info) {
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof m;
    if (!::GlobalMemoryStatusEx(&m)) return false;
    info->totalPhys = m.ullTotalPhys;
    info->availPhys = m.ullAvailPhys;
    info->totalPageFile = m.ullTotalPageFile;
    info->availPageFile = m.ullAvailPageFile;
    return true;
}

void CQenSystemWin32::OutputDebugString(const std::string& text) { ::OutputDebugStringA(text.c_str()); }

bool CQenSystemWin32::InitiateSystemShutdown(uint32_t timeoutSeconds, bool forceAppsClosed, bool reboot) {
    return ::InitiateSystemShutdownA(nullptr, nullptr, timeoutSeconds, forceAppsClosed, reboot) != FALSE;
}

Window CQenSystemWin32::GetTopWindow() { return ::GetTopWindow(nullptr); }
Window CQenSystemWin32::GetNextWindow(Window window) { return ::GetWindow(H(window), GW_HWNDNEXT); }

std::string CQenSystemWin32::GetWindowText(Window window, int maxChars) {
    char buf[1024] = {};
    if (maxChars < 0) maxChars = 0;
    if (maxChars > static_cast<int>(sizeof buf) - 1) maxChars = sizeof buf - 1;
    int n = ::GetWindowTextA(H(window), buf, maxChars + 1);
    return std::string(buf, n > 0 ? n : 0);
}

intptr_t CQenSystemWin32::SendMessage(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return ::SendMessageA(H(window), message, wParam, lParam);
}

void CQenSystemWin32::InitCommonControls() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
}

Window CQenSystemWin32::CreateDialogParam(int templateId, IQenDialogProc* proc) {
    return ::CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, QenDialogProc,
                                reinterpret_cast<LPARAM>(proc));
}

void CQenSystemWin32::ShowWindow(Window window, int showCommand) { ::ShowWindow(H(window), showCommand); }
void CQenSystemWin32::UpdateWindow(Window window) { ::UpdateWindow(H(window)); }

void CQenSystemWin32::RunMessageLoop(Window dialog) {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsWindow(H(dialog)) && IsDialogMessageA(H(dialog), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // The window goes with the loop; the quit its destruction posts is not for anyone.
    if (IsWindow(H(dialog))) {
        DestroyWindow(H(dialog));
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
}

void CQenSystemWin32::SetWindowText(Window window, const std::string& text) {
    ::SetWindowTextA(H(window), text.c_str());
}
void CQenSystemWin32::SetDlgItemText(Window dialog, int id, const std::string& text) {
    ::SetDlgItemTextA(H(dialog), id, text.c_str());
}
void CQenSystemWin32::ShowDlgItem(Window dialog, int id, bool show) {
    ::ShowWindow(GetDlgItem(H(dialog), id), show ? SW_SHOW : SW_HIDE);
}
void CQenSystemWin32::EndDialog(Window dialog, int result) { ::EndDialog(H(dialog), result); }
void CQenSystemWin32::PostQuitMessage(int code) { ::PostQuitMessage(code); }

bool CQenSystemWin32::PeekAndDispatchMessage(Window window) {
    MSG msg;
    if (!PeekMessageA(&msg, H(window), 0, 0, PM_REMOVE)) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

int CQenSystemWin32::MessageBox(Window owner, const std::string& text, const std::string& caption, unsigned type) {
    if (const auto& answerer = plat::GetMessageBoxAnswerer()) return answerer(text, caption, type);
    return ::MessageBoxA(H(owner), text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

std::string CQenSystemWin32::GetWindowsDirectory() {
    char buf[MAX_PATH + 1] = {};
    UINT n = ::GetWindowsDirectoryA(buf, MAX_PATH);
    return n && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::string CQenSystemWin32::GetSystemDirectory() {
    char buf[MAX_PATH + 1] = {};
    UINT n = ::GetSystemDirectoryA(buf, MAX_PATH);
    return n && n < MAX_PATH ? std::string(buf, n) : std::string();
}

bool CQenSystemWin32::CreateDirectory(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr); }
bool CQenSystemWin32::RemoveDirectory(const std::string& path) { return ::RemoveDirectoryA(path.c_str()); }

bool CQenSystemWin32::FindFile(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(path.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

bool CQenSystemWin32::IsDBCSLeadByte(uint8_t byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

bool CQenSystemWin32::EnumResourceNames(const std::function<bool(const char* name)>& visit) {
    return ::EnumResourceNamesA(nullptr, MAKEINTRESOURCEA(10), VisitName, reinterpret_cast<LONG_PTR>(&visit)) !=
           FALSE;
}

uint32_t CQenSystemWin32::GetFileVersionInfoSize(const std::string& path) {
    DWORD handle = 0;
    return ::GetFileVersionInfoSizeA(path.c_str(), &handle);
}

bool CQenSystemWin32::GetFileVersionInfo(const std::string& path, uint32_t size, void* block) {
    return ::GetFileVersionInfoA(path.c_str(), 0, size, block) != FALSE;
}

bool CQenSystemWin32::VerQueryValue(const void* block, const std::string& subBlock, const void** value,
                                    uint32_t* length) {
    void* v = nullptr;
    UINT n = 0;
    if (!::VerQueryValueA(block, subBlock.c_str(), &v, &n)) return false;
    *value = v;
    *length = n;
    return true;
}

Module CQenSystemWin32::LoadLibrary(const std::string& path) { return ::LoadLibraryA(path.c_str()); }
void* CQenSystemWin32::GetProcAddress(Module module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}
void CQenSystemWin32::FreeLibrary(Module module) { ::FreeLibrary(static_cast<HMODULE>(module)); }

CertContext CQenSystemWin32::CryptQueryObjectFile(const wchar_t* path, uint32_t contentFlags, uint32_t formatFlags) {
    const void* context = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, contentFlags, formatFlags, 0, nullptr, nullptr, nullptr,
                          nullptr, nullptr, &context))
        return nullptr;
    return context;
}

CertStore CQenSystemWin32::CertOpenSystemStore(const char* name, uint32_t flags) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, flags, name);
}

bool CQenSystemWin32::CertAddCertificateContextToStore(CertStore store, CertContext context, uint32_t disposition) {
    return ::CertAddCertificateContextToStore(store, static_cast<PCCERT_CONTEXT>(context), disposition, nullptr) !=
           FALSE;
}

void CQenSystemWin32::CertCloseStore(CertStore store) { ::CertCloseStore(store, 0); }
void CQenSystemWin32::CertFreeCertificateContext(CertContext context) {
    ::CertFreeCertificateContext(static_cast<PCCERT_CONTEXT>(context));
}

InfHandle CQenSystemWin32::SetupOpenInfFile(const std::string& path, uint32_t style, uint32_t* errorLine) {
    UINT line = 0;
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, style, &line);
    if (errorLine) *errorLine = line;
    return inf == INVALID_HANDLE_VALUE ? nullptr : inf;
}

bool CQenSystemWin32::SetupInstallFromInfSection(Window owner, InfHandle inf, const std::string& section,
                                                 uint32_t flags, RegRoot relativeKey, const char* sourceRoot,
                                                 uint32_t copyFlags, PSP_FILE_CALLBACK_A callback, void* context) {
    return SetupInstallFromInfSectionA(H(owner), inf, section.c_str(), flags, Root(relativeKey), sourceRoot,
                                       copyFlags, reinterpret_cast<::PSP_FILE_CALLBACK_A>(callback), context,
                                       nullptr, nullptr) != FALSE;
}

void CQenSystemWin32::SetupCloseInfFile(InfHandle inf) { ::SetupCloseInfFile(inf); }

int32_t CQenSystemWin32::CreateShellLink(const std::string& target, const std::string& description,
                                         const wchar_t* linkPath) {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return hr;
    IShellLinkA* link = nullptr;
    hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                          reinterpret_cast<void**>(&link));
    if (FAILED(hr)) return hr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(hr = link->SetPath(target.c_str())) && SUCCEEDED(hr = link->SetDescription(description.c_str())) &&
        SUCCEEDED(hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        hr = file->Save(linkPath, TRUE);
        file->Release();
    }
    link->Release();
    return FAILED(hr) ? hr : 0;
}

DevInfoSet CQenSystemWin32::SetupDiGetClassDevs(const char* enumerator, uint32_t flags) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, enumerator, nullptr, flags);
    return set == INVALID_HANDLE_VALUE ? kInvalidDevInfoSet : set;
}

bool CQenSystemWin32::SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, DevInfoData* data) {
    std::memset(data->bytes, 0, sizeof data->bytes);
    Device(data)->cbSize = sizeof(SP_DEVINFO_DATA);
    return ::SetupDiEnumDeviceInfo(set, index, Device(data)) != FALSE;
}

bool CQenSystemWin32::SetupDiGetDeviceRegistryProperty(DevInfoSet set, DevInfoData* data, uint32_t property,
                                                       void* buffer, uint32_t size) {
    return SetupDiGetDeviceRegistryPropertyA(set, Device(data), property, nullptr, static_cast<BYTE*>(buffer), size,
                                             nullptr) != FALSE;
}

bool CQenSystemWin32::SetupDiSetDeviceRegistryProperty(DevInfoSet set, DevInfoData* data, uint32_t property,
                                                       const void* buffer, uint32_t size) {
    return SetupDiSetDeviceRegistryPropertyA(set, Device(data), property, static_cast<const BYTE*>(buffer), size) !=
           FALSE;
}

void CQenSystemWin32::SetupDiDestroyDeviceInfoList(DevInfoSet set) { ::SetupDiDestroyDeviceInfoList(set); }

uint32_t CQenSystemWin32::CM_Locate_DevNode(uint32_t* devInst) {
    DEVINST root = 0;
    CONFIGRET r = CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    *devInst = root;
    return r;
}

uint32_t CQenSystemWin32::CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) {
    return ::CM_Reenumerate_DevNode(devInst, flags);
}
