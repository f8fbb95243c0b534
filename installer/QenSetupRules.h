#pragma once
// The installer's fixed texts and rules that need no system: what the command
// line means, the version flags, the names it logs for codes, where each
// embedded file is installed, and how a card's hardware ID names its model.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qen {

inline constexpr const char* kBanner = "Pelk Driver Install Built: Nov 22 2019 12:59:24 Version 2.00 Build 24b";
inline constexpr const char* kCaption = "Pelk Driver Install";
inline constexpr const char* kWindowTitle = "Pelk Driver Install: Version 2.00 Build 24b";
inline constexpr const char* kNoticeText = "Copyright (C) 2019 Corvane, Inc.  All rights reserved.";
inline constexpr const char* kManufacturer = "Corvane, Inc.";
inline constexpr const char* kShortcutDescription = "Software control of the Pelk Audio Device settings";

// Companion applications closed at start-up, by the start of their window titles.
inline constexpr std::array<const char*, 4> kCompanionTitles = {"Pelk Orvex Remote Control", "Pelk Mixer",
                                                                "Tavi Remote", "PelkTrayVolume.exe"};

// Dialog template 100 and its items.
enum DialogItem : int {
    kIdDialog = 100,
    kIdBitmap = 130,
    kIdCancel = 2,
    kIdClose = 8,
    kIdInstall = 1000,
    kIdRestart = 1001,
    kIdWelcome = 1002,
    kIdWelcomeText = 1003,
    kIdCardText = 1004,
    kIdPressInstall = 1005,
    kIdInstalling = 1006,
    kIdComplete = 1007,
    kIdNotice = 1100,
};

// "SILENT" as the command line's first six characters, exactly.
bool IsSilentCommandLine(const std::string& commandLine);

struct VersionFlags {
    bool windows7 = false;   // 6.1
    bool windows8 = false;   // 6.2 and later 6.x
    bool windows10 = false;  // 10.x
};
VersionFlags VersionFlagsFor(uint32_t major, uint32_t minor);

const char* ArchitectureName(uint16_t code);
// The debugger-output name of a power event (without the line break); null when it has none.
const char* PowerEventName(uintptr_t event);
// What the dialog answers to a power event: the two queries are refused.
intptr_t PowerEventAnswer(uintptr_t event);

// Setup-queue notifications: the logged name (a format with two %s, source then
// target, for the copy start and the four errors), whether it carries file
// paths in its first parameter, and the answer.
const char* InfNotificationFormat(unsigned notification);  // null when unknown
bool InfNotificationNamesPaths(unsigned notification);
unsigned InfNotificationAnswer(unsigned notification);

// DIFxAPI event labels, padded with spaces to 15 characters; empty for other types.
std::string DifxLabel(int eventType);

// ---- embedded files ----
// The installed path of a resource (compared without regard to case); empty
// when it is not to be written in this form.
std::string InstallPathFor(const std::string& resourceName, bool windows10, const std::string& driverDir,
                           const std::string& workingDir);
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

// Files deleted from the applications directory before installing, in order.
extern const std::array<const char*, 10> kPreviousApplications;
// Unpacked package files deleted from the driver directory afterwards, in order.
extern const std::array<const char*, 17> kInstallerFiles;

// The maker's installed driver files looked for at start-up, in order.
std::vector<std::string> DriverFilePaths(bool is64Bit, const std::string& windowsDir, const std::string& systemDir);

// Appends a backslash unless the text already ends with one, walking it as
// multi-byte characters so that a trail byte equal to '\' does not count.
std::string WithTrailingBackslash(const std::string& path, const std::function<bool(uint8_t)>& isLeadByte);

// ---- cards on the PCI bus ----
inline constexpr const char* kHardwareIdPrefix = "PCI\\VEN_1D5C";
// The first 12 characters equal the maker's vendor prefix, whatever their case.
bool IsMakerHardwareId(const std::string& hardwareId);
// The four characters after "PCI\VEN_1D5C&DEV_" shifted in as 4-bit digits;
// false when the ID is too short to hold them.
bool ModelCodeFromHardwareId(const std::string& hardwareId, uint16_t* code);
const char* ModelName(uint16_t code);  // "Unknown!" for codes not in the table
std::string ModelNameForHardwareId(const std::string& hardwareId);

}  // namespace qen
