// Linux implementation of the OS layer: real files, clock and LZ expansion
// (our own SZDD expander), and settable facts for the rest.
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <thread>

#include "common/Szdd.h"
#include "platform/Platform.h"
#include "platform/PlatformImpl.h"
#include "platform/posix/PosixSystem.h"

namespace plat {

namespace impl {
uint64_t RealMicros() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
void RealSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace impl

namespace posix {
SystemFacts& Facts() {
    static SystemFacts facts;
    return facts;
}
void ResetFacts() { Facts() = SystemFacts{}; }

namespace {
struct ResourceTable {
    const RawResource* table = nullptr;
    unsigned count = 0;
};
ResourceTable& Resources() {
    static ResourceTable r;
    return r;
}
std::map<unsigned, std::string>& Strings() {
    static std::map<unsigned, std::string> s;
    return s;
}
}  // namespace
void SetRawResources(const RawResource* table, unsigned count) { Resources() = {table, count}; }
void SetString(unsigned id, const std::string& text) { Strings()[id] = text; }
}  // namespace posix

namespace {
thread_local uint32_t t_lastError = 0;

uint32_t MapErrno(int e) {
    switch (e) {
        case 0: return kErrorSuccess;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: case ENAMETOOLONG: return kErrorPathNotFound;
        case EACCES: case EPERM: case EROFS: case EISDIR: return kErrorAccessDenied;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EEXIST: return kErrorFileExists;
        case EINVAL: return kErrorInvalidParameter;
        case ENOSPC: return kErrorDiskFull;
        default: return kErrorWriteFault;
    }
}
void SetErrnoError() { t_lastError = MapErrno(errno); }
// Windows tells a missing directory on the way from a missing file.
void SetErrnoError(const std::string& path) {
    int e = errno;
    t_lastError = MapErrno(e);
    if (e == ENOENT) {
        size_t cut = path.find_last_of('/');
        struct stat st{};
        if (cut != std::string::npos && cut > 0 && stat(path.substr(0, cut).c_str(), &st) != 0)
            t_lastError = kErrorPathNotFound;
    }
}

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ULL;

uint64_t ToFileTime(const timespec& ts) {
    return kEpochDelta + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 100;
}
timespec FromFileTime(uint64_t ft) {
    timespec ts{};
    uint64_t t = ft > kEpochDelta ? ft - kEpochDelta : 0;
    ts.tv_sec = static_cast<time_t>(t / 10000000ULL);
    ts.tv_nsec = static_cast<long>((t % 10000000ULL) * 100);
    return ts;
}
}  // namespace

LocalTime GetLocalTime() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm t{};
    localtime_r(&tv.tv_sec, &t);
    return {static_cast<uint16_t>(t.tm_year + 1900), static_cast<uint16_t>(t.tm_mon + 1),
            static_cast<uint16_t>(t.tm_mday), static_cast<uint16_t>(t.tm_hour), static_cast<uint16_t>(t.tm_min),
            static_cast<uint16_t>(t.tm_sec), static_cast<uint16_t>(tv.tv_usec / 1000)};
}

FileHandle CreateFile(const std::string& path, uint32_t access, FileShare, FileDisposition disposition,
                      uint32_t attributes) {
    int flags = 0;
    if ((access & kAccessRead) && (access & kAccessWrite)) flags = O_RDWR;
    else if (access & kAccessWrite) flags = O_WRONLY;
    else flags = O_RDONLY;
    switch (disposition) {
        case FileDisposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case FileDisposition::OpenAlways: flags |= O_CREAT; break;
        case FileDisposition::OpenExisting: break;
    }
    mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0644;
    // Windows refuses to replace a read-only file; so do we.
    if (disposition != FileDisposition::OpenExisting && (access & kAccessWrite)) {
        struct stat st{};
        if (stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
            t_lastError = kErrorAccessDenied;
            return kInvalidFile;
        }
    }
    int fd = open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) {
        SetErrnoError(path);
        return kInvalidFile;
    }
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        t_lastError = kErrorAccessDenied;
        return kInvalidFile;
    }
    t_lastError = 0;
    return fd;
}

bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done) {
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = read(static_cast<int>(file), static_cast<char*>(buffer) + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetErrnoError();
            if (done) *done = total;
            return false;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done) {
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = write(static_cast<int>(file), static_cast<const char*>(buffer) + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetErrnoError();
            if (done) *done = total;
            return false;
        }
        total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
    struct stat st{};
    if (fstat(static_cast<int>(file), &st) != 0) {
        SetErrnoError();
        return false;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool CloseHandle(FileHandle file) {
    if (file == kInvalidFile) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    return close(static_cast<int>(file)) == 0;
}

bool CreateDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool DeleteFile(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
        t_lastError = kErrorAccessDenied;  // read-only files cannot be deleted on Windows
        return false;
    }
    if (unlink(path.c_str()) != 0) {
        SetErrnoError();
        return false;
    }
    return true;
}

uint32_t GetFileAttributes(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        SetErrnoError();
        return kInvalidAttributes;
    }
    uint32_t attrs = 0;
    if (!(st.st_mode & S_IWUSR)) attrs |= kAttrReadOnly;
    if (S_ISDIR(st.st_mode)) attrs |= 0x10;
    return attrs ? attrs : kAttrNormal;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        SetErrnoError();
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
    if (chmod(path.c_str(), mode) != 0) {
        SetErrnoError();
        return false;
    }
    return true;
}

bool GetFileTime(FileHandle file, uint64_t* creation, uint64_t* access, uint64_t* write) {
    struct stat st{};
    if (fstat(static_cast<int>(file), &st) != 0) {
        SetErrnoError();
        return false;
    }
    // Linux keeps no creation time we can set; the change time stands in for it.
    if (creation) *creation = ToFileTime(st.st_ctim);
    if (access) *access = ToFileTime(st.st_atim);
    if (write) *write = ToFileTime(st.st_mtim);
    return true;
}

bool SetFileTime(FileHandle file, const uint64_t*, const uint64_t* access, const uint64_t* write) {
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (access) times[0] = FromFileTime(*access);
    if (write) times[1] = FromFileTime(*write);
    if (futimens(static_cast<int>(file), times) != 0) {
        SetErrnoError();
        return false;
    }
    return true;
}

bool LocalTimeToFileTime(const LocalTime& local, uint64_t* fileTime) {
    tm t{};
    t.tm_year = local.year - 1900;
    t.tm_mon = local.month - 1;
    t.tm_mday = local.day;
    t.tm_hour = local.hour;
    t.tm_min = local.minute;
    t.tm_sec = local.second;
    t.tm_isdst = -1;
    time_t secs = mktime(&t);
    if (secs == static_cast<time_t>(-1)) return false;
    timespec ts{secs, static_cast<long>(local.milliseconds) * 1000000L};
    *fileTime = ToFileTime(ts);
    return true;
}

bool FileTimeToLocalTime(uint64_t fileTime, LocalTime* local) {
    timespec ts = FromFileTime(fileTime);
    tm t{};
    if (!localtime_r(&ts.tv_sec, &t)) return false;
    *local = {static_cast<uint16_t>(t.tm_year + 1900), static_cast<uint16_t>(t.tm_mon + 1),
              static_cast<uint16_t>(t.tm_mday), static_cast<uint16_t>(t.tm_hour), static_cast<uint16_t>(t.tm_min),
              static_cast<uint16_t>(t.tm_sec), static_cast<uint16_t>(ts.tv_nsec / 1000000)};
    return true;
}

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t error) { t_lastError = error; }

std::string FormatSystemMessage(uint32_t error) {
    switch (error) {
        case kErrorSuccess: return "The operation completed successfully.\r\n";
        case kErrorFileNotFound: return "The system cannot find the file specified.\r\n";
        case kErrorPathNotFound: return "The system cannot find the path specified.\r\n";
        case kErrorAccessDenied: return "Access is denied.\r\n";
        case kErrorInvalidHandle: return "The handle is invalid.\r\n";
        case kErrorNotEnoughMemory: return "Not enough memory resources are available to process this command.\r\n";
        case kErrorSharingViolation:
            return "The process cannot access the file because it is being used by another process.\r\n";
        case kErrorFileExists: return "The file exists.\r\n";
        case kErrorInvalidParameter: return "The parameter is incorrect.\r\n";
        case kErrorDiskFull: return "There is not enough space on the disk.\r\n";
        default: return "";
    }
}

std::string GetTempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

std::string GetModuleFileName() {
    if (!posix::Facts().modulePath.empty()) return posix::Facts().modulePath;
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string GetCurrentDirectory() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

char PathSeparator() { return '/'; }

// ---- device requests ---------------------------------------------------------
bool DeviceIoControl(FileHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t* returned) {
    if (returned) *returned = 0;
    t_lastError = 1;  // ERROR_INVALID_FUNCTION
    return false;
}

// ---- LZ expansion ------------------------------------------------------------
namespace {
struct LzHandle {
    bool used = false;
    bool output = false;
    int fd = -1;
    std::vector<uint8_t> data;  // whole source, read at open
};
constexpr int kMaxLzHandles = 16;
LzHandle g_lz[kMaxLzHandles];

LzHandle* LzGet(int h) {
    if (h < 0 || h >= kMaxLzHandles || !g_lz[h].used) return nullptr;
    return &g_lz[h];
}
}  // namespace

int LZOpenFile(const std::string& path, bool createForWrite) {
    int slot = -1;
    for (int i = 0; i < kMaxLzHandles; ++i)
        if (!g_lz[i].used) {
            slot = i;
            break;
        }
    if (slot < 0) return orvex::kLzErrorGlobAlloc;
    LzHandle& h = g_lz[slot];
    if (createForWrite) {
        FileHandle f = CreateFile(path, kAccessRead | kAccessWrite, FileShare::None, FileDisposition::CreateAlways);
        if (f == kInvalidFile) return orvex::kLzErrorBadOutHandle;
        h = {true, true, static_cast<int>(f), {}};
        return slot;
    }
    FileHandle f = CreateFile(path, kAccessRead, FileShare::None, FileDisposition::OpenExisting);
    if (f == kInvalidFile) return orvex::kLzErrorBadInHandle;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    uint32_t n = 0;
    while (ReadFile(f, buf, sizeof buf, &n) && n > 0) data.insert(data.end(), buf, buf + n);
    h = {true, false, static_cast<int>(f), std::move(data)};
    return slot;
}

long LZCopy(int source, int destination) {
    LzHandle* src = LzGet(source);
    LzHandle* dst = LzGet(destination);
    if (!src || src->output) return orvex::kLzErrorBadInHandle;
    if (!dst || !dst->output) return orvex::kLzErrorBadOutHandle;
    std::vector<uint8_t> out;
    long result = orvex::SzddExpandBuffer(src->data.data(), src->data.size(), out);
    if (result < 0) return result;
    uint32_t written = 0;
    if (!WriteFile(dst->fd, out.data(), static_cast<uint32_t>(out.size()), &written) || written != out.size())
        return orvex::kLzErrorWrite;
    return static_cast<long>(out.size());
}

void LZClose(int handle) {
    LzHandle* h = LzGet(handle);
    if (!h) return;
    if (h->fd >= 0) close(h->fd);
    *h = LzHandle{};
}

// ---- resources ---------------------------------------------------------------
ResourceHandle FindResource(const std::string& name) {
    const auto& r = posix::Resources();
    for (unsigned i = 0; i < r.count; ++i)
        if (strcasecmp(r.table[i].name, name.c_str()) == 0) return &r.table[i];
    t_lastError = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND
    return nullptr;
}
const void* LoadResource(ResourceHandle resource) { return resource; }
const void* LockResource(const void* loaded) {
    return loaded ? static_cast<const RawResource*>(loaded)->data : nullptr;
}
uint32_t SizeofResource(ResourceHandle resource) {
    return resource ? static_cast<const RawResource*>(resource)->size : 0;
}
void FreeResource(const void*) {}
std::vector<std::string> EnumResourceNames() {
    std::vector<std::string> names;
    const auto& r = posix::Resources();
    for (unsigned i = 0; i < r.count; ++i) names.emplace_back(r.table[i].name);
    return names;
}
std::string LoadString(unsigned id) {
    auto it = posix::Strings().find(id);
    return it == posix::Strings().end() ? std::string() : it->second;
}

// ---- user interface ----------------------------------------------------------
int MessageBox(const std::string& text, const std::string& caption, unsigned type) {
    if (const auto& answerer = GetMessageBoxAnswerer()) return answerer(text, caption, type);
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return DefaultAnswer(type);
}

bool PumpOneMessage() {
    ++posix::Facts().pumpedMessages;
    impl::RunIdleHook();
    return false;
}
CursorHandle SetWaitCursor() {
    ++posix::Facts().waitCursorDepth;
    return reinterpret_cast<CursorHandle>(static_cast<uintptr_t>(posix::Facts().waitCursorDepth));
}
void RestoreCursor(CursorHandle) { --posix::Facts().waitCursorDepth; }
bool IsKeyDown(int virtualKey) {
    if (virtualKey == kVkShift) return posix::Facts().shiftDown;
    if (virtualKey == kVkControl) return posix::Facts().controlDown;
    return false;
}

// ---- system ----------------------------------------------------------------------
bool StartSockets() { return posix::Facts().socketsOk; }
void StopSockets() {}
bool GetVersionEx(OsVersion* version) {
    if (!posix::Facts().versionOk) return false;
    *version = posix::Facts().version;
    return true;
}
bool GetSystemPowerStatus(PowerStatus* status) {
    if (!posix::Facts().powerOk) {
        t_lastError = 50;  // ERROR_NOT_SUPPORTED
        return false;
    }
    *status = posix::Facts().power;
    return true;
}
std::vector<std::string> GetCommandLineArgs() { return posix::Facts().args; }

std::string GetWindowsDirectory() { return posix::Facts().windowsDirectory; }

bool IsWow64Process(bool* wow64) {
    if (!posix::Facts().wow64Available) {
        t_lastError = kErrorProcNotFound;
        return false;
    }
    *wow64 = posix::Facts().wow64;
    return true;
}

void OutputDebugString(const std::string& text) { posix::Facts().debugOutput.push_back(text); }

// ---- registry ------------------------------------------------------------------
namespace {
// Open keys by handle - 1; an empty name is a closed slot.
std::vector<std::string>& OpenKeys() {
    static std::vector<std::string> keys;
    return keys;
}
// The registry ignores case in key and value names.
template <typename Map>
auto FindNoCase(Map& map, const std::string& name) {
    for (auto it = map.begin(); it != map.end(); ++it)
        if (strcasecmp(it->first.c_str(), name.c_str()) == 0) return it;
    return map.end();
}
}  // namespace

bool RegOpenKeyEx(RegistryRoot root, const std::string& subKey, RegistryKey* key) {
    const std::string name = (root == RegistryRoot::LocalMachine ? "HKLM\\" : "HKCU\\") + subKey;
    if (FindNoCase(posix::Facts().registry, name) == posix::Facts().registry.end()) {
        t_lastError = kErrorFileNotFound;
        return false;
    }
    auto& keys = OpenKeys();
    size_t slot = 0;
    while (slot < keys.size() && !keys[slot].empty()) ++slot;
    if (slot == keys.size()) keys.emplace_back();
    keys[slot] = name;
    *key = static_cast<RegistryKey>(slot + 1);
    return true;
}

bool RegQueryValueEx(RegistryKey key, const std::string& name, std::string* text, uint32_t bufferBytes) {
    auto& keys = OpenKeys();
    if (key < 1 || static_cast<size_t>(key) > keys.size() || keys[key - 1].empty()) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    auto entry = FindNoCase(posix::Facts().registry, keys[key - 1]);
    if (entry == posix::Facts().registry.end()) {
        t_lastError = kErrorFileNotFound;
        return false;
    }
    auto value = FindNoCase(entry->second, name);
    if (value == entry->second.end()) {
        t_lastError = kErrorFileNotFound;
        return false;
    }
    if (value->second.size() + 1 > bufferBytes) {
        t_lastError = 234;  // ERROR_MORE_DATA
        return false;
    }
    *text = value->second;
    return true;
}

void RegCloseKey(RegistryKey key) {
    auto& keys = OpenKeys();
    if (key >= 1 && static_cast<size_t>(key) <= keys.size()) keys[key - 1].clear();
}

// ---- libraries --------------------------------------------------------------------
namespace {
// "X:\\dir\\file" becomes the drive's stand-in directory and "/dir/file".
std::string HostPath(const std::string& path) {
    std::string out = path;
    if (out.size() >= 2 && out[1] == ':') {
        auto root = posix::Facts().driveRoots.find(static_cast<char>(std::toupper(static_cast<unsigned char>(out[0]))));
        if (root == posix::Facts().driveRoots.end()) return {};
        out = root->second + out.substr(2);
    }
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}
}  // namespace

LibraryHandle LoadLibrary(const std::string& path) {
    // A bare name is looked for beside the program first (also as "name.so" for
    // a "name.dll"), then where the system keeps its libraries, as Windows
    // searches (the adapter driver's DLL and the DNS-SD library are bound so).
    if (!path.empty() && path.find_first_of("/\\") == std::string::npos) {
        const std::string exe = GetModuleFileName();
        const size_t cut = exe.find_last_of('/');
        const std::string dir = cut == std::string::npos ? std::string("./") : exe.substr(0, cut + 1);
        std::vector<std::string> beside{dir + path};
        if (path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".dll") == 0)
            beside.push_back(dir + path.substr(0, path.size() - 4) + ".so");
        for (const std::string& candidate : beside) {
            struct stat st{};
            if (stat(candidate.c_str(), &st) != 0) continue;
            if (void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
        }
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) t_lastError = kErrorModNotFound;
        return library;
    }
    const std::string host = HostPath(path);
    struct stat st{};
    if (host.empty() || stat(host.c_str(), &st) != 0) {
        t_lastError = kErrorModNotFound;
        return nullptr;
    }
    void* library = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) t_lastError = kErrorModNotFound;
    return library;
}

ProcAddress GetProcAddress(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    void* symbol = dlsym(library, name);
    if (!symbol) {
        t_lastError = kErrorProcNotFound;
        return nullptr;
    }
    return reinterpret_cast<ProcAddress>(symbol);
}

bool FreeLibrary(LibraryHandle library) { return library && dlclose(library) == 0; }

}  // namespace plat
