#include "installer/QenSetupRules.h"

#include <cstring>

#include "installer/QenSystem.h"

namespace qen {

bool IsSilentCommandLine(const std::string& commandLine) { return commandLine.compare(0, 6, "SILENT") == 0; }

VersionFlags VersionFlagsFor(uint32_t major, uint32_t minor) {
    VersionFlags flags;
    flags.windows7 = major == 6 && minor == 1;
    flags.windows8 = major == 6 && minor >= 2;
    flags.windows10 = major == 10;
    return flags;
}

const char* ArchitectureName(uint16_t code) {
    static constexpr std::array<const char*, 11> kNames = {
        "Intel", "MIPS", "Alpha", "PPC", "SHX", "ARM", "IA64", "ALPHA64", "MSIL", "AMD64", "IA32_ON_WIN64"};
    return code < kNames.size() ? kNames[code] : "Unknown";
}

const char* PowerEventName(uintptr_t event) {
    static constexpr std::array<const char*, 12> kNames = {
        "PBT_APMQUERYSUSPEND",       "PBT_APMQUERYSTANDBY",  "PBT_APMQUERYSUSPENDFAILED",
        "PBT_APMQUERYSTANDBYFAILED", "PBT_APMSUSPEND",       "PBT_APMSTANDBY",
        "PBT_APMRESUMECRITICAL",     "PBT_APMRESUMESUSPEND", "PBT_APMRESUMESTANDBY",
        "PBT_APMBATTERYLOW",         "PBT_APMPOWERSTATUSCHANGE", "PBT_APMOEMEVENT"};
    if (event < kNames.size()) return kNames[event];
    if (event == 18) return "PBT_APMRESUMEAUTOMATIC";
    return nullptr;
}

intptr_t PowerEventAnswer(uintptr_t event) {
    // Refusing the queries keeps the computer awake while files are being installed.
    return event == kPbtApmQuerySuspend || event == kPbtApmQueryStandby ? kBroadcastQueryDeny : 1;
}

namespace {
struct Notification {
    unsigned code;
    const char* format;
    bool paths;
    bool error;
};
constexpr std::array<Notification, 26> kNotifications = {{
    {1, "SPFILENOTIFY_STARTQUEUE", false, false},
    {2, "SPFILENOTIFY_ENDQUEUE", false, false},
    {3, "SPFILENOTIFY_STARTSUBQUEUE", false, false},
    {4, "SPFILENOTIFY_ENDSUBQUEUE", false, false},
    {5, "SPFILENOTIFY_STARTDELETE", false, false},
    {6, "SPFILENOTIFY_ENDDELETE", false, false},
    {7, "SPFILENOTIFY_DELETEERROR: %s to %s", true, true},
    {8, "SPFILENOTIFY_STARTRENAME", false, false},
    {9, "SPFILENOTIFY_ENDRENAME", false, false},
    {10, "SPFILENOTIFY_RENAMEERROR: %s to %s", true, true},
    {11, "SPFILENOTIFY_STARTCOPY: %s to %s", true, false},
    {12, "SPFILENOTIFY_ENDCOPY", false, false},
    {13, "SPFILENOTIFY_COPYERROR: %s to %s", true, true},
    {14, "SPFILENOTIFY_NEEDMEDIA", false, false},
    {15, "SPFILENOTIFY_QUEUESCAN", false, false},
    {16, "SPFILENOTIFY_CABINETINFO", false, false},
    {17, "SPFILENOTIFY_FILEINCABINET", false, false},
    {18, "SPFILENOTIFY_NEEDNEWCABINET", false, false},
    {19, "SPFILENOTIFY_FILEEXTRACTED", false, false},
    {20, "SPFILENOTIFY_FILEOPDELAYED", false, false},
    {21, "SPFILENOTIFY_STARTBACKUP", false, false},
    {22, "SPFILENOTIFY_BACKUPERROR: %s to %s", true, true},
    {23, "SPFILENOTIFY_ENDBACKUP", false, false},
    {24, "SPFILENOTIFY_QUEUESCAN_EX", false, false},
    {25, "SPFILENOTIFY_STARTREGISTRATION", false, false},
    {32, "SPFILENOTIFY_ENDREGISTRATION", false, false},
}};
const Notification* FindNotification(unsigned code) {
    for (const Notification& n : kNotifications)
        if (n.code == code) return &n;
    return nullptr;
}
}  // namespace

const char* InfNotificationFormat(unsigned notification) {
    const Notification* n = FindNotification(notification);
    return n ? n->format : nullptr;
}
bool InfNotificationNamesPaths(unsigned notification) {
    const Notification* n = FindNotification(notification);
    return n && n->paths;
}
unsigned InfNotificationAnswer(unsigned notification) {
    // A file that cannot be deleted, renamed, copied or backed up is skipped, not fatal.
    const Notification* n = FindNotification(notification);
    return n && n->error ? kFileOpSkip : kFileOpDoIt;
}

std::string DifxLabel(int eventType) {
    static constexpr std::array<const char*, 4> kLabels = {"DIFXAPI_SUCCESS", "DIFXAPI_INFO", "DIFXAPI_WARNING",
                                                           "DIFXAPI_ERROR"};
    if (eventType < 0 || eventType >= static_cast<int>(kLabels.size())) return {};
    std::string label = kLabels[eventType];
    label.resize(15, ' ');
    return label;
}

// ---- embedded files ----
bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

namespace {
enum class Form { Both, Plain, Windows10, WorkingDirectory };
struct InstalledFile {
    const char* resource;
    Form form;
    const char* installedAs;
};
constexpr std::array<InstalledFile, 24> kInstalledFiles = {{
    {"PELKWDM.INF", Form::Plain, "PelkWDM.Inf"},
    {"W10_PELKWDM.INF", Form::Windows10, "PelkWDM.inf"},
    {"PELKWDM.CAT", Form::Plain, "PelkWDM.cat"},
    {"W10_PELKWDM.CAT", Form::Windows10, "PelkWDM.cat"},
    {"PELKWDM.DLL", Form::Plain, "PelkWDM.Dll"},
    {"W10_PELKWDM.DLL", Form::Windows10, "PelkWDM.dll"},
    {"PELKQEN64.SYS", Form::Plain, "PelkQen64.sys"},
    {"W10_PELKQEN64.SYS", Form::Windows10, "PelkQen64.sys"},
    {"PELKQEN64.DLL", Form::Plain, "PelkQen64.Dll"},
    {"W10_PELKQEN64.DLL", Form::Windows10, "PelkQen64.dll"},
    {"PELKDRIVER.CER", Form::Both, "PelkDriver.cer"},
    {"PELKAPPS.INF", Form::Both, "PelkApps.Inf"},
    {"PELKAPPS.CAT", Form::Both, "PelkApps.cat"},
    {"QENDRIVERRELEASENOTES.HTML", Form::Both, "QenDriverReleaseNotes.html"},
    {"PELKMIXER.EXE", Form::Both, "PelkMixer.exe"},
    {"TAVIREMOTE.EXE", Form::Both, "TaviRemote.exe"},
    {"PMIXER.EXE", Form::Both, "PMixer.exe"},
    {"PMIXEROPTIONS.EXE", Form::Both, "PMixerOptions.exe"},
    {"PELKTRAYVOLUME.EXE", Form::Both, "PelkTrayVolume.exe"},
    {"PKBH32.DLL", Form::Both, "PKBH32.Dll"},
    {"PELKDEMO.EXE", Form::Both, "PelkDemo.exe"},
    {"QENUNINSTALL.EXE", Form::Both, "QenUninstall.exe"},
    {"DIFX64.DLL", Form::WorkingDirectory, "DIFx64.Dll"},
    {"DIFX32.DLL", Form::WorkingDirectory, "DIFx32.Dll"},
}};
}  // namespace

std::string InstallPathFor(const std::string& resourceName, bool windows10, const std::string& driverDir,
                           const std::string& workingDir) {
    for (const InstalledFile& f : kInstalledFiles) {
        if (!SameNameIgnoringCase(resourceName, f.resource)) continue;
        switch (f.form) {
            case Form::Both: return driverDir + f.installedAs;
            case Form::Plain: return windows10 ? std::string() : driverDir + f.installedAs;
            case Form::Windows10: return windows10 ? driverDir + f.installedAs : std::string();
            case Form::WorkingDirectory: return workingDir + f.installedAs;
        }
    }
    return {};
}

const std::array<const char*, 10> kPreviousApplications = {
    "TaviRemote.exe",     "PKBH32.Dll",   "PMixer.exe", "PMixerOptions.exe", "PelkDemo.exe", "PelkMixer.exe",
    "PelkTrayVolume.exe", "QenDriverReleaseNotes.html", "QenUninstall.exe", "QenUninstall64.exe"};

const std::array<const char*, 17> kInstallerFiles = {
    "PelkWDM.Inf",    "PelkWDM.cat",       "PelkWDM.Dll",  "PelkQen64.sys", "PelkQen64.Dll", "PelkDriver.cer",
    "PelkApps.Inf",   "PelkApps.cat",      "PelkMixer.exe", "TaviRemote.exe", "PMixer.exe", "PMixerOptions.exe",
    "PelkDemo.exe",   "PelkTrayVolume.exe", "PKBH32.Dll",  "QenDriverReleaseNotes.html", "QenUninstall.exe"};

std::vector<std::string> DriverFilePaths(bool is64Bit, const std::string& windowsDir, const std::string& systemDir) {
    if (is64Bit)
        return {windowsDir + "\\SysWOW64\\PelkWDM.dll", systemDir + "\\PelkQen64.Dll",
                systemDir + "\\Drivers\\PelkQen64.sys"};
    return {systemDir + "\\Corda.Dll", systemDir + "\\Drivers\\Corda.sys", systemDir + "\\PelkWDM.dll",
            systemDir + "\\Drivers\\PelkWDM.sys"};
}

std::string WithTrailingBackslash(const std::string& path, const std::function<bool(uint8_t)>& isLeadByte) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        last = i;
        if (isLeadByte(static_cast<uint8_t>(path[i])) && i + 1 < path.size()) ++i;
    }
    if (last != std::string::npos && path[last] == '\\' ) return path;
    return path + "\\";
}

// ---- cards ----
bool IsMakerHardwareId(const std::string& hardwareId) {
    return hardwareId.size() >= 12 && SameNameIgnoringCase(hardwareId.substr(0, 12), kHardwareIdPrefix);
}

bool ModelCodeFromHardwareId(const std::string& hardwareId, uint16_t* code) {
    // "PCI\VEN_1D5C&DEV_" is 17 characters; the device ID follows.
    constexpr size_t kFirst = 17, kDigits = 4;
    if (hardwareId.size() < kFirst + kDigits) return false;
    uint16_t value = 0;
    for (size_t i = kFirst; i < kFirst + kDigits; ++i)
        value = static_cast<uint16_t>((value << 4) + (static_cast<unsigned char>(hardwareId[i]) - '0'));
    *code = value;
    return true;
}

const char* ModelName(uint16_t code) {
    struct Model {
        uint16_t code;
        const char* name;
    };
    static constexpr std::array<Model, 19> kModels = {{
        {20, "Pelk DU-RA"},       {22, "Pelk DU-RA3"},      {32, "Corda-A"},        {33, "Corda-B"},
        {34, "Corda-C"},          {35, "Pelk Kell"},        {36, "Pelk Tarsel"},    {37, "Pelk Tarsel-R"},
        {40, "Pelk Tarsel-X"},    {41, "Pelk Tarsel-XR"},   {48, "Pelk Tarsel-XL"}, {51, "Pelk Q8"},
        {52, "Pelk Q4"},          {9748, "Orvex 16"},       {10004, "Orvex 8"},     {12564, "Tavi-TB"},
        {12566, "Tavi-TB3"},      {24596, "Orvex(n)-TB"},   {24598, "Orvex(n)-TB3"},
    }};
    for (const Model& m : kModels)
        if (m.code == code) return m.name;
    return "Unknown!";
}

std::string ModelNameForHardwareId(const std::string& hardwareId) {
    uint16_t code = 0;
    return ModelCodeFromHardwareId(hardwareId, &code) ? ModelName(code) : "Unknown!";
}

}  // namespace qen
