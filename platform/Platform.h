#pragma once
// The one OS layer of both programs: one function per OS service they use,
// shaped like the Win32 call it stands for. platform/win32 implements it on
// Windows, platform/posix on Linux (with settable facts for tests).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

// ---- time ----------------------------------------------------------------
// Millisecond tick counter; compare readings with unsigned 32-bit differences.
uint32_t GetTickCount();
void Sleep(uint32_t ms);

// Virtual clock for tests: Sleep advances it at once and every reading
// advances it by a small step so busy loops still end.
void UseVirtualClock(bool on);
bool IsVirtualClock();
void SetVirtualClockStep(uint32_t micros);   // default 10 us per reading
void AdvanceVirtualClock(uint64_t micros);
uint64_t ClockMicros();                      // virtual or real, microseconds

// Called after every Sleep and every PumpOneMessage: emulated hardware that
// has no thread of its own catches up with the clock here.
void SetIdleHook(std::function<void()> hook);

struct LocalTime {
    uint16_t year, month, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();

// ---- files ---------------------------------------------------------------
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

enum FileAccess : uint32_t { kAccessRead = 1, kAccessWrite = 2 };
enum class FileShare { None, Read };
enum class FileDisposition { CreateAlways, OpenExisting, OpenAlways };
enum FileAttribute : uint32_t {
    kAttrReadOnly = 0x1, kAttrHidden = 0x2, kAttrSystem = 0x4, kAttrNormal = 0x80, kAttrTemporary = 0x100,
};
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Win32 error codes the programs show; posix errors are mapped onto them.
enum SystemError : uint32_t {
    kErrorSuccess = 0, kErrorFileNotFound = 2, kErrorPathNotFound = 3, kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6, kErrorNotEnoughMemory = 8, kErrorWriteFault = 29, kErrorReadFault = 30,
    kErrorSharingViolation = 32, kErrorFileExists = 80, kErrorInvalidParameter = 87, kErrorDiskFull = 112,
    kErrorModNotFound = 126, kErrorProcNotFound = 127,
};

FileHandle CreateFile(const std::string& path, uint32_t access, FileShare share, FileDisposition disposition,
                      uint32_t attributes = kAttrNormal);
bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done);
bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done);
bool GetFileSize(FileHandle file, uint64_t* size);
bool CloseHandle(FileHandle file);
bool DeleteFile(const std::string& path);
// True when the folder exists afterwards (made now or there before).
bool CreateDirectory(const std::string& path);
uint32_t GetFileAttributes(const std::string& path);
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// File times are 100 ns units since 1601-01-01 UTC, as Windows keeps them.
bool GetFileTime(FileHandle file, uint64_t* creation, uint64_t* access, uint64_t* write);
bool SetFileTime(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write);
bool LocalTimeToFileTime(const LocalTime& local, uint64_t* fileTime);
bool FileTimeToLocalTime(uint64_t fileTime, LocalTime* local);

uint32_t GetLastError();
void SetLastError(uint32_t error);
std::string FormatSystemMessage(uint32_t error);  // the system's text for an error code

std::string GetTempPath();          // ends with a path separator
std::string GetModuleFileName();    // full path of the running program
std::string GetCurrentDirectory();
char PathSeparator();

// ---- device requests -------------------------------------------------------
// A buffered control request to a device opened with CreateFile (existing
// device only). The posix layer has no such devices: it always fails.
bool DeviceIoControl(FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* returned);

// ---- LZ expansion (handles of the expansion library; negative = error) --
int LZOpenFile(const std::string& path, bool createForWrite);
long LZCopy(int source, int destination);
void LZClose(int handle);

// ---- raw-data resources of the program's own module --------------------
struct RawResource {
    const char* name;
    const unsigned char* data;
    unsigned size;
};
using ResourceHandle = const void*;
ResourceHandle FindResource(const std::string& name);      // raw data (type 10); null when absent
const void* LoadResource(ResourceHandle resource);          // null on failure
const void* LockResource(const void* loaded);               // the bytes; null on failure
uint32_t SizeofResource(ResourceHandle resource);
void FreeResource(const void* loaded);
std::vector<std::string> EnumResourceNames();               // raw-data names, in the system's order
std::string LoadString(unsigned id);                        // empty when absent

// ---- user interface services -------------------------------------------
namespace mb {
enum : unsigned {
    Ok = 0x0, OkCancel = 0x1, YesNoCancel = 0x3, YesNo = 0x4,
    IconError = 0x10, IconQuestion = 0x20, IconWarning = 0x30, IconInformation = 0x40,
    DefButton2 = 0x100,
};
}
namespace id {
enum : int { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };
}

// A message box with no owner window.
int MessageBox(const std::string& text, const std::string& caption, unsigned type);
// When set, every message box (owned or not) is answered by this instead of a person.
using MessageBoxAnswerer = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
const MessageBoxAnswerer& GetMessageBoxAnswerer();
// The answer a box would get without a person: OK where offered, else the first button.
int DefaultAnswer(unsigned type);

// Takes at most one pending window message and dispatches it; false when none was waiting.
bool PumpOneMessage();
using CursorHandle = void*;
CursorHandle SetWaitCursor();              // returns the cursor shown before
void RestoreCursor(CursorHandle previous);
enum VirtualKey : int { kVkShift = 0x10, kVkControl = 0x11 };
bool IsKeyDown(int virtualKey);            // high bit of the asynchronous key state

// ---- system ----------------------------------------------------------------
// Asks for Winsock 1.1 and accepts exactly 1.1; anything else is shut down again.
bool StartSockets();
void StopSockets();

inline constexpr uint32_t kPlatformWin32s = 0, kPlatformWindows = 1, kPlatformNT = 2;
struct OsVersion {
    uint32_t platformId, major, minor, build;
};
bool GetVersionEx(OsVersion* version);

struct PowerStatus {
    uint8_t acLineStatus;  // 0 offline, 1 online, 255 unknown
    uint8_t batteryFlag;
    uint8_t batteryLifePercent;
};
bool GetSystemPowerStatus(PowerStatus* status);

std::vector<std::string> GetCommandLineArgs();  // without the program name

std::string GetWindowsDirectory();  // e.g. "C:\\Windows"; empty on failure
// The system's IsWow64Process for this process, found by name in kernel32 once
// per run; false when the system has no such function or the call fails.
bool IsWow64Process(bool* wow64);
void OutputDebugString(const std::string& text);  // the debugger's output

// ---- registry (reads only) ---------------------------------------------------
using RegistryKey = intptr_t;
enum class RegistryRoot { LocalMachine, CurrentUser };
// Opens root\subKey for reading; false when it cannot be opened.
bool RegOpenKeyEx(RegistryRoot root, const std::string& subKey, RegistryKey* key);
// A text value read into a buffer of bufferBytes bytes (its terminator included);
// false when it is missing, not text, or does not fit.
bool RegQueryValueEx(RegistryKey key, const std::string& name, std::string* text, uint32_t bufferBytes);
void RegCloseKey(RegistryKey key);

// ---- libraries loaded at run time --------------------------------------------
using LibraryHandle = void*;
using ProcAddress = void (*)();
// A bare file name is looked for beside the program first, as Windows does;
// the posix layer then also takes "name.so" for a "name.dll".
LibraryHandle LoadLibrary(const std::string& path);  // null when it cannot be loaded
ProcAddress GetProcAddress(LibraryHandle library, const char* name);  // null when not exported
bool FreeLibrary(LibraryHandle library);

// ---- UDP sockets over IPv4 (Winsock's calls and semantics) ------------------
// The system's socket handle: SOCKET on Windows, a descriptor elsewhere. The
// DNS-SD client hands out the same type, so its table uses this one too.
#if defined(_WIN32)
using Socket = uintptr_t;
#else
using Socket = int;
#endif
inline constexpr Socket kInvalidSocket = static_cast<Socket>(~static_cast<Socket>(0));
inline constexpr int kSocketError = -1;
inline constexpr int kAfInet = 2, kSockDgram = 2, kIpprotoUdp = 17;
inline constexpr long kFionbio = static_cast<long>(0x8004667EUL);
inline constexpr uint32_t kInaddrAny = 0;
// Winsock error codes; posix errors are mapped onto them.
enum WsaError : int {
    kWsaEInterrupted = 10004, kWsaEBadF = 10009, kWsaEInval = 10022, kWsaEMFile = 10024,
    kWsaEWouldBlock = 10035, kWsaENotSock = 10038, kWsaEMsgSize = 10040, kWsaEAfNoSupport = 10047,
    kWsaEAddrInUse = 10048, kWsaEAddrNotAvail = 10049, kWsaENetUnreach = 10051, kWsaEConnReset = 10054,
    kWsaENoBufs = 10055, kWsaEHostUnreach = 10065, kWsaNotInitialised = 10093,
};

// Address and port in network byte order.
struct SockAddrIn {
    uint32_t address = 0;
    uint16_t port = 0;
};
// Winsock's fd_set layout with room for 1024 sockets.
inline constexpr uint32_t kFdSetSize = 1024;
struct FdSet {
    uint32_t fd_count = 0;
    Socket fd_array[kFdSetSize];
};
struct TimeVal {
    long tv_sec;
    long tv_usec;
};

// The socket layer counts its start-ups; version is MAKEWORD(major, minor).
int WSAStartup(uint16_t version, uint16_t* started);  // 0 or a WsaError
int WSACleanup();                                      // 0, or kSocketError (kWsaNotInitialised when not started)
int WSAGetLastError();
Socket socket(int af, int type, int protocol);
int ioctlsocket(Socket s, long command, uint32_t* argument);  // FIONBIO only
int bind(Socket s, const SockAddrIn& local);
int getsockname(Socket s, SockAddrIn* local);
int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn& to);
// A datagram longer than the buffer fails with kWsaEMsgSize (its bytes are lost).
int recv(Socket s, void* buffer, int length, int flags);
int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from);
// The address a datagram was sent to (IP_PKTINFO, read with WSARecvMsg): a
// system may bind a loopback address to the whole interface (Wine does), and
// one socket then takes datagrams for several addresses.
int EnablePacketInfo(Socket s);
int WSARecvMsg(Socket s, void* buffer, int length, SockAddrIn* from, uint32_t* destination);
// Leaves in each set the sockets that are ready; null timeout waits for ever.
// A wait runs the idle hook afterwards, as Sleep does; under the virtual clock
// the wait advances the clock at once instead of passing.
int select(FdSet* readSet, FdSet* writeSet, const TimeVal* timeout);
bool WSAFDIsSet(Socket s, const FdSet* set);  // __WSAFDIsSet
int closesocket(Socket s);

// Byte order and dotted text, as Winsock's helpers.
inline uint16_t htons(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    uint16_t r;
    __builtin_memcpy(&r, b, 2);
    return r;
}
inline uint16_t ntohs(uint16_t v) { return htons(v); }
inline uint32_t htonl(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v)};
    uint32_t r;
    __builtin_memcpy(&r, b, 4);
    return r;
}
inline uint32_t ntohl(uint32_t v) { return htonl(v); }
const char* inet_ntoa(uint32_t address);   // a buffer of this thread's, until the next call
uint32_t inet_addr(const char* text);      // 0xFFFFFFFF (INADDR_NONE) for a malformed text

// One row of the IPv4 address table (GetIpAddrTable): interface index, address and mask in network order.
struct IpAddrRow {
    uint32_t index;
    uint32_t address;
    uint32_t mask;
};
bool GetIpAddrTable(std::vector<IpAddrRow>* rows);

}  // namespace plat
