// Windows implementation of the OS layer: each function is the Win32 call it is named after.
#include <winsock2.h>
#include <windows.h>
#include <lzexpand.h>
#include <stdlib.h>

#include "platform/win32/Win32Names.h"

#include "platform/Platform.h"
#include "platform/PlatformImpl.h"

namespace plat {

namespace impl {
uint64_t RealMicros() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart) * 1000000ULL +
           static_cast<uint64_t>(now.QuadPart % frequency.QuadPart) * 1000000ULL / frequency.QuadPart;
}
void RealSleep(uint32_t ms) { ::Sleep(ms); }
}  // namespace impl

LocalTime GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

FileHandle CreateFile(const std::string& path, uint32_t access, FileShare share, FileDisposition disposition,
                      uint32_t attributes) {
    DWORD desired = ((access & kAccessRead) ? GENERIC_READ : 0) | ((access & kAccessWrite) ? GENERIC_WRITE : 0);
    DWORD shareMode = share == FileShare::Read ? FILE_SHARE_READ : 0;
    DWORD how = disposition == FileDisposition::CreateAlways ? CREATE_ALWAYS
                : disposition == FileDisposition::OpenAlways ? OPEN_ALWAYS
                                                             : OPEN_EXISTING;
    HANDLE h = ::CreateFileA(path.c_str(), desired, shareMode, nullptr, how, attributes, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done) {
    DWORD n = 0;
    BOOL ok = ::ReadFile(reinterpret_cast<HANDLE>(file), buffer, size, &n, nullptr);
    if (done) *done = n;
    return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done) {
    DWORD n = 0;
    BOOL ok = ::WriteFile(reinterpret_cast<HANDLE>(file), buffer, size, &n, nullptr);
    if (done) *done = n;
    return ok != FALSE;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
    LARGE_INTEGER s;
    if (!::GetFileSizeEx(reinterpret_cast<HANDLE>(file), &s)) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

bool CloseHandle(FileHandle file) { return ::CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE; }
bool DeleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }
bool CreateDirectory(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE || ::GetLastError() == ERROR_ALREADY_EXISTS;
}
uint32_t GetFileAttributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }
bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

namespace {
FILETIME ToFt(uint64_t v) { return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }
uint64_t FromFt(const FILETIME& ft) { return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }
}  // namespace

bool GetFileTime(FileHandle file, uint64_t* creation, uint64_t* access, uint64_t* write) {
    FILETIME c, a, w;
    if (!::GetFileTime(reinterpret_cast<HANDLE>(file), &c, &a, &w)) return false;
    if (creation) *creation = FromFt(c);
    if (access) *access = FromFt(a);
    if (write) *write = FromFt(w);
    return true;
}

bool SetFileTime(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
    FILETIME c{}, a{}, w{};
    if (creation) c = ToFt(*creation);
    if (access) a = ToFt(*access);
    if (write) w = ToFt(*write);
    return ::SetFileTime(reinterpret_cast<HANDLE>(file), creation ? &c : nullptr, access ? &a : nullptr,
                         write ? &w : nullptr) != FALSE;
}

bool LocalTimeToFileTime(const LocalTime& t, uint64_t* fileTime) {
    SYSTEMTIME st{t.year, t.month, 0, t.day, t.hour, t.minute, t.second, t.milliseconds};
    FILETIME local, utc;
    if (!::SystemTimeToFileTime(&st, &local) || !::LocalFileTimeToFileTime(&local, &utc)) return false;
    *fileTime = FromFt(utc);
    return true;
}

bool FileTimeToLocalTime(uint64_t fileTime, LocalTime* t) {
    FILETIME utc = ToFt(fileTime), local;
    SYSTEMTIME st;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) return false;
    *t = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    return true;
}

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t error) { ::SetLastError(error); }

std::string FormatSystemMessage(uint32_t error) {
    char buf[512] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buf,
                               sizeof buf, nullptr);
    return std::string(buf, n);
}

std::string GetTempPath() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(sizeof buf, buf);
    return n && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string GetModuleFileName() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return std::string(buf, n);
}

std::string GetCurrentDirectory() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
    return n && n < sizeof buf ? std::string(buf, n) : std::string();
}

char PathSeparator() { return '\\'; }

bool DeviceIoControl(FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* returned) {
    DWORD n = 0;
    BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(device), code, const_cast<void*>(in), inSize, out, outSize,
                                &n, nullptr);
    if (returned) *returned = n;
    return ok != FALSE;
}

int LZOpenFile(const std::string& path, bool createForWrite) {
    OFSTRUCT ofs{};
    WORD style = createForWrite ? (OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE) : (OF_READ | OF_SHARE_EXCLUSIVE);
    return ::LZOpenFileA(const_cast<char*>(path.c_str()), &ofs, style);
}
long LZCopy(int source, int destination) { return ::LZCopy(source, destination); }
void LZClose(int handle) { ::LZClose(handle); }

ResourceHandle FindResource(const std::string& name) {
    return ::FindResourceA(nullptr, name.c_str(), MAKEINTRESOURCEA(10));
}
const void* LoadResource(ResourceHandle resource) {
    return ::LoadResource(nullptr, static_cast<HRSRC>(const_cast<void*>(resource)));
}
const void* LockResource(const void* loaded) { return ::LockResource(const_cast<void*>(loaded)); }
uint32_t SizeofResource(ResourceHandle resource) {
    return ::SizeofResource(nullptr, static_cast<HRSRC>(const_cast<void*>(resource)));
}
void FreeResource(const void* loaded) { ::FreeResource(const_cast<void*>(loaded)); }

namespace {
BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::string>*>(param)->emplace_back(name);
    return TRUE;
}
}  // namespace
std::vector<std::string> EnumResourceNames() {
    std::vector<std::string> names;
    ::EnumResourceNamesA(nullptr, MAKEINTRESOURCEA(10), CollectName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}
std::string LoadString(unsigned id) {
    char buf[256] = {};
    int n = ::LoadStringA(::GetModuleHandleA(nullptr), id, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

int MessageBox(const std::string& text, const std::string& caption, unsigned type) {
    if (const auto& answerer = GetMessageBoxAnswerer()) return answerer(text, caption, type);
    return ::MessageBoxA(nullptr, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

bool PumpOneMessage() {
    MSG msg;
    bool took = ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    if (took) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    impl::RunIdleHook();
    return took;
}
CursorHandle SetWaitCursor() { return ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT)); }
void RestoreCursor(CursorHandle previous) { ::SetCursor(static_cast<HCURSOR>(previous)); }
bool IsKeyDown(int virtualKey) { return (::GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

bool StartSockets() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    if (data.wVersion != MAKEWORD(1, 1)) {
        ::WSACleanup();
        return false;
    }
    return true;
}
void StopSockets() { ::WSACleanup(); }

bool GetVersionEx(OsVersion* version) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExA(&info)) return false;
    *version = {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    return true;
}

bool GetSystemPowerStatus(PowerStatus* status) {
    SYSTEM_POWER_STATUS s;
    if (!::GetSystemPowerStatus(&s)) return false;
    *status = {s.ACLineStatus, s.BatteryFlag, s.BatteryLifePercent};
    return true;
}

std::vector<std::string> GetCommandLineArgs() {
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i]);
    return args;
}

std::string GetWindowsDirectory() {
    char buf[MAX_PATH + 1] = {};
    UINT n = ::GetWindowsDirectoryA(buf, sizeof buf);
    return n && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool IsWow64Process(bool* wow64) {
    // Older systems lack the function, so it is found by name rather than linked.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const IsWow64ProcessFn isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("kernel32"), "IsWow64Process")));
    BOOL result = FALSE;
    if (!isWow64 || !isWow64(::GetCurrentProcess(), &result)) return false;
    *wow64 = result != FALSE;
    return true;
}

void OutputDebugString(const std::string& text) { ::OutputDebugStringA(text.c_str()); }

bool RegOpenKeyEx(RegistryRoot root, const std::string& subKey, RegistryKey* key) {
    HKEY opened = nullptr;
    HKEY base = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (::RegOpenKeyExA(base, subKey.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    *key = reinterpret_cast<RegistryKey>(opened);
    return true;
}

bool RegQueryValueEx(RegistryKey key, const std::string& name, std::string* text, uint32_t bufferBytes) {
    std::string buffer(bufferBytes, '\0');
    DWORD type = 0, size = bufferBytes;
    if (::RegQueryValueExA(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // The stored text need not carry its terminator; it ends at the first one either way.
    buffer.resize(size < bufferBytes ? size : bufferBytes);
    size_t end = buffer.find('\0');
    *text = end == std::string::npos ? buffer : buffer.substr(0, end);
    return true;
}

void RegCloseKey(RegistryKey key) { ::RegCloseKey(reinterpret_cast<HKEY>(key)); }

LibraryHandle LoadLibrary(const std::string& path) { return ::LoadLibraryA(path.c_str()); }
ProcAddress GetProcAddress(LibraryHandle library, const char* name) {
    return reinterpret_cast<ProcAddress>(
        reinterpret_cast<void (*)()>(::GetProcAddress(static_cast<HMODULE>(library), name)));
}
bool FreeLibrary(LibraryHandle library) { return ::FreeLibrary(static_cast<HMODULE>(library)) != FALSE; }

}  // namespace plat
