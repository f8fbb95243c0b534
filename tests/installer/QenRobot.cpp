// QenRobot: prepares a Wine prefix for an installer run, runs QenSetup.exe as
// a person would (answering its message boxes, pressing its buttons, asking
// for screenshots), and reports what the run left behind. One line of output
// per fact, for the suite's script to check.
//
//   QenRobot.exe COMMAND ARGS... [+ COMMAND ARGS...]...
//
//   set-version NAME               the Windows version Wine reports (win10, vista, ...)
//   use-difx FILE                  FILE becomes the system's DIFxAPI.Dll
//   add-device INSTANCE HWID LOCATION SLOT   a PCI device in the system's device tree
//   show-device INSTANCE           DEVICE lines: its manufacturer and description
//   windows TITLE...               top-level windows of this process; WINDOW lines at the end
//   mkdir DIR, rmdir DIR           a folder (with its parents) made, an empty one removed;
//                                  %VARIABLES% in DIR are expanded
//   run [--ui STEPS] EXE ARGS...   runs EXE to its end: BOX, PAGE, SHOT and EXIT lines
//   show-certs STORE               CERT lines: local machine store, SHA-1 and subject
//   show-link FILE                 LINK line: target and description of a shortcut
//
// STEPS, separated by commas, drive the dialog once it exists:
//   wait:ID       until item ID is visible     click:ID   press button ID
//   box           until one more message box has been answered
//   shot:NAME     SHOT line, then wait for NAME.png in the working directory
//   page          PAGE line with the visibility of every item
//   release       create the file named by DIFX_STANDIN_HOLD
//   close         the window's close box
#include "installer/win32/QenWin32.h"

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

int g_failures = 0;
const char* kDialogTitle = "Pelk Driver Install: Version 2.00 Build 24b";

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void Fail(const char* what) {
    Say("FAILED %s (error %lu)", what, GetLastError());
    ++g_failures;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r') c = ' ';
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void PumpAll() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// ---- prefix set-up ---------------------------------------------------------
bool SetString(HKEY root, const char* key, const char* name, const char* value) {
    HKEY k;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS) return false;
    LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(std::strlen(value) + 1));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

void SetVersion(const char* name) {
    if (!SetString(HKEY_CURRENT_USER, "Software\\Wine", "Version", name)) Fail("set-version");
}

void UseDifx(const char* file) {
    char target[MAX_PATH];
    GetSystemDirectoryA(target, MAX_PATH);
    std::strcat(target, "\\DIFxAPI.Dll");
    if (!CopyFileA(file, target, FALSE)) return Fail("use-difx copy");
    // Wine would otherwise keep its own library of that name.
    if (!SetString(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "difxapi", "native,builtin"))
        Fail("use-difx override");
}

void AddDevice(const char* instance, const char* hardwareId, const char* location, const char* slot) {
    GUID media = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiCreateDeviceInfoList(&media, nullptr);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set, instance, &media, nullptr, nullptr, 0, &device)) {
        SetupDiDestroyDeviceInfoList(set);
        return Fail("add-device create");
    }
    std::string ids = std::string(hardwareId) + '\0' + '\0';
    DWORD number = DWORD(std::strtoul(slot, nullptr, 10));
    bool ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(ids.data()), DWORD(ids.size())) &&
              SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_LOCATION_INFORMATION,
                                                reinterpret_cast<const BYTE*>(location), DWORD(std::strlen(location) + 1));
    if (ok && number)
        ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_UI_NUMBER, reinterpret_cast<const BYTE*>(&number),
                                               sizeof number);
    if (!ok || !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) Fail("add-device");
    SetupDiDestroyDeviceInfoList(set);
}

void ShowDevice(const char* instance) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiOpenDeviceInfoA(set, instance, nullptr, 0, &device)) {
        SetupDiDestroyDeviceInfoList(set);
        return Fail("show-device");
    }
    char mfg[256] = {}, desc[256] = {};
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_MFG, nullptr, reinterpret_cast<BYTE*>(mfg), 255, nullptr);
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(desc), 255,
                                      nullptr);
    Say("DEVICE %s MFG=%s DESC=%s", instance, mfg, desc);
    SetupDiDestroyDeviceInfoList(set);
}

std::string Expand(const char* path) {
    char buf[MAX_PATH * 2] = {};
    DWORD n = ExpandEnvironmentStringsA(path, buf, sizeof buf);
    return n && n <= sizeof buf ? buf : path;
}

void MakeDirectory(const char* path) {
    if (SHCreateDirectoryExA(nullptr, Expand(path).c_str(), nullptr) != ERROR_SUCCESS) Fail("mkdir");
}

void RemoveDirectory(const char* path) {
    if (!RemoveDirectoryA(Expand(path).c_str())) Fail("rmdir");
}

// ---- companion windows -------------------------------------------------------
struct CompanionWindow {
    std::string title;
    HWND hwnd = nullptr;
    bool closed = false;
};
std::vector<CompanionWindow> g_windows;

LRESULT CALLBACK CompanionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        for (CompanionWindow& w : g_windows)
            if (w.hwnd == hwnd) w.closed = true;
        DestroyWindow(hwnd);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Windows(const std::vector<std::string>& titles) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CompanionProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QenRobotCompanion";
    RegisterClassA(&wc);
    for (const std::string& title : titles) {
        CompanionWindow w;
        w.title = title;
        w.hwnd = CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 20, 20, 200, 80, nullptr,
                                 nullptr, wc.hInstance, nullptr);
        if (!w.hwnd) Fail("windows");
        ShowWindow(w.hwnd, SW_SHOWNOACTIVATE);
        g_windows.push_back(w);
    }
}

// ---- the run -------------------------------------------------------------------
struct Run {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
    std::vector<std::string> steps;
    size_t step = 0;
    DWORD stepStarted = 0;
    int boxesAnswered = 0;
    int boxesAwaited = 0;
};

struct FindBox {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM param) {
    auto* f = reinterpret_cast<FindBox*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {}, title[256] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    if (pid == f->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(hwnd) &&
        std::strcmp(title, kDialogTitle) != 0) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM param) {
    auto* text = reinterpret_cast<std::string*>(param);
    char cls[32] = {}, buf[1024] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Static") == 0 && GetWindowTextA(child, buf, sizeof buf) > int(text->size())) *text = buf;
    return TRUE;
}

// A message box of the run: written down and answered with its first button.
bool AnswerBox(Run& run) {
    FindBox f{run.process.dwProcessId, nullptr};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
    if (!f.found) return false;
    char caption[256] = {};
    GetWindowTextA(f.found, caption, sizeof caption);
    std::string text;
    EnumChildWindows(f.found, LongestStatic, reinterpret_cast<LPARAM>(&text));
    Say("BOX [%s] %s", caption, OneLine(text).c_str());
    ++run.boxesAnswered;
    int answer = GetDlgItem(f.found, IDOK) ? IDOK : IDCANCEL;
    PostMessageA(f.found, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), LPARAM(GetDlgItem(f.found, answer)));
    // Wait for it to go so it is not written down twice.
    for (int i = 0; i < 200 && IsWindow(f.found) && IsWindowVisible(f.found); ++i) {
        PumpAll();
        Sleep(10);
    }
    return true;
}

bool Visible(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item && (GetWindowLongA(item, GWL_STYLE) & WS_VISIBLE);
}

std::string PageLine(HWND dialog) {
    static const int kItems[] = {1002, 1003, 1004, 1005, 1006, 1007, 1000, 1001, 8, 2};
    std::string line = "PAGE";
    for (int id : kItems) {
        char item[24];
        std::snprintf(item, sizeof item, " %d=%d", id, Visible(dialog, id) ? 1 : 0);
        line += item;
    }
    return line;
}

// The installer changes its page item by item; the line is written once it holds still.
void SayPage(HWND dialog) {
    std::string line = PageLine(dialog);
    for (int i = 0; i < 50; ++i) {
        Sleep(100);
        std::string again = PageLine(dialog);
        if (again == line) break;
        line = again;
    }
    Say("%s", line.c_str());
}

// Runs the next step when it can; answers false while it waits.
bool Step(Run& run) {
    if (run.step >= run.steps.size()) return false;
    if (!run.dialog) run.dialog = FindWindowA(nullptr, kDialogTitle);
    if (!run.dialog || !IsWindowVisible(run.dialog)) return false;
    const std::string& s = run.steps[run.step];
    std::string verb = s.substr(0, s.find(':'));
    std::string arg = s.find(':') == std::string::npos ? "" : s.substr(s.find(':') + 1);
    bool done = true;
    if (verb == "wait") {
        done = Visible(run.dialog, std::atoi(arg.c_str()));
    } else if (verb == "box") {
        done = run.boxesAnswered > run.boxesAwaited;
        if (done) ++run.boxesAwaited;
    } else if (verb == "click") {
        int id = std::atoi(arg.c_str());
        PostMessageA(run.dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(run.dialog, id)));
    } else if (verb == "close") {
        PostMessageA(run.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (verb == "page") {
        SayPage(run.dialog);
    } else if (verb == "release") {
        char hold[MAX_PATH];
        if (GetEnvironmentVariableA("DIFX_STANDIN_HOLD", hold, sizeof hold)) {
            HANDLE h = CreateFileA(hold, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    } else if (verb == "shot") {
        RedrawWindow(run.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);  // the display catches up with the drawing
        RECT r;
        GetWindowRect(run.dialog, &r);
        Say("SHOT %s %ld %ld %ld %ld", arg.c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top);
        std::string png = arg + ".png";
        for (int i = 0; i < 3000 && GetFileAttributesA(png.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
        if (GetFileAttributesA(png.c_str()) == INVALID_FILE_ATTRIBUTES) Fail(("shot " + arg).c_str());
    } else {
        Fail(("unknown step " + s).c_str());
    }
    if (!done) {
        if (GetTickCount() - run.stepStarted > 30000) {
            Fail(("step timed out: " + s).c_str());
            SayPage(run.dialog);
            ++run.step;
            run.stepStarted = GetTickCount();
        }
        return false;
    }
    ++run.step;
    run.stepStarted = GetTickCount();
    return true;
}

void RunProgram(const std::vector<std::string>& args) {
    Run run;
    size_t first = 0;
    if (args.size() >= 2 && args[0] == "--ui") {
        std::string steps = args[1];
        for (size_t start = 0; start <= steps.size();) {
            size_t comma = steps.find(',', start);
            if (comma == std::string::npos) comma = steps.size();
            if (comma > start) run.steps.push_back(steps.substr(start, comma - start));
            start = comma + 1;
        }
        first = 2;
    }
    if (first >= args.size()) return Fail("run: no program");
    std::string command = "\"" + args[first] + "\"";
    for (size_t i = first + 1; i < args.size(); ++i) command += " " + args[i];
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &run.process))
        return Fail("run: CreateProcess");
    run.stepStarted = GetTickCount();
    DWORD started = GetTickCount();
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &run.process.hProcess, FALSE, 20, QS_ALLINPUT);
        PumpAll();
        if (r == WAIT_OBJECT_0) break;
        while (AnswerBox(run)) {
        }
        while (Step(run)) {
        }
        if (GetTickCount() - started > 60000) {
            Fail("run: the program did not end");
            TerminateProcess(run.process.hProcess, 1);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(run.process.hProcess, &code);
    if (run.step < run.steps.size()) Fail(("steps left: " + run.steps[run.step]).c_str());
    Say("EXIT %lu", code);
    CloseHandle(run.process.hProcess);
    CloseHandle(run.process.hThread);
}

// ---- what was left ---------------------------------------------------------------
void ShowCerts(const char* name) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, name);
    if (!store) {
        Say("CERTSTORE %s missing", name);
        return;
    }
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert))) {
        BYTE hash[20];
        DWORD size = sizeof hash;
        char subject[256] = {};
        CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size);
        CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, subject, sizeof subject);
        std::string hex;
        for (DWORD i = 0; i < size; ++i) {
            char b[3];
            std::snprintf(b, sizeof b, "%02X", hash[i]);
            hex += b;
        }
        Say("CERT %s %s", hex.c_str(), subject);
    }
    CertCloseStore(store, 0);
}

void ShowLink(const char* file) {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* persist = nullptr;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, file, -1, wide, MAX_PATH);
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) ||
        FAILED(persist->Load(wide, STGM_READ))) {
        Say("LINK %s missing", file);
    } else {
        char target[MAX_PATH] = {}, description[MAX_PATH] = {};
        link->GetPath(target, MAX_PATH, nullptr, 0);
        link->GetDescription(description, MAX_PATH);
        Say("LINK target=%s description=%s", target, description);
    }
    if (persist) persist->Release();
    if (link) link->Release();
}

}  // namespace

int main(int argc, char** argv) {
    // Lines end in a plain line feed, for the script that reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::vector<std::string>> commands(1);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "+") == 0)
            commands.emplace_back();
        else
            commands.back().emplace_back(argv[i]);
    }
    struct Command {
        const char* verb;
        size_t arguments;  // at least
        std::function<void(const std::vector<std::string>&)> run;
    };
    const Command table[] = {
        {"set-version", 1, [](auto& a) { SetVersion(a[0].c_str()); }},
        {"use-difx", 1, [](auto& a) { UseDifx(a[0].c_str()); }},
        {"add-device", 4, [](auto& a) { AddDevice(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str()); }},
        {"show-device", 1, [](auto& a) { ShowDevice(a[0].c_str()); }},
        {"windows", 0, [](auto& a) { Windows(a); }},
        {"mkdir", 1, [](auto& a) { MakeDirectory(a[0].c_str()); }},
        {"rmdir", 1, [](auto& a) { RemoveDirectory(a[0].c_str()); }},
        {"run", 1, [](auto& a) { RunProgram(a); }},
        {"show-certs", 1, [](auto& a) { ShowCerts(a[0].c_str()); }},
        {"show-link", 1, [](auto& a) { ShowLink(a[0].c_str()); }},
    };
    for (const auto& c : commands) {
        if (c.empty()) continue;
        std::vector<std::string> arguments(c.begin() + 1, c.end());
        const Command* command = nullptr;
        for (const Command& t : table)
            if (c[0] == t.verb) command = &t;
        if (!command)
            Fail(("unknown command " + c[0]).c_str());
        else if (arguments.size() < command->arguments)
            Fail((c[0] + ": arguments missing").c_str());
        else
            command->run(arguments);
    }
    PumpAll();
    for (const CompanionWindow& w : g_windows) Say("WINDOW [%s] %s", w.title.c_str(), w.closed ? "closed" : "open");
    return g_failures == 0 ? 0 : 1;
}
