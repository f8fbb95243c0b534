// The installer's rules that need no system, and the two callbacks' log lines.
#include <gtest/gtest.h>

#include <string>

#include "common/Log.h"
#include "installer/QenSetup.h"
#include "installer/QenSetupRules.h"
#include "platform/posix/PosixSystem.h"
#include "tests/support/TempDir.h"

namespace {

TEST(QenCommandLine, OnlyTheCapitalWordAtTheStartMeansSilent) {
    struct Case {
        const char* line;
        bool silent;
    } cases[] = {{"SILENT", true},   {"SILENT /log", true}, {"SILENTLY", true}, {"silent", false},
                 {" SILENT", false}, {"SILEN", false},      {"", false},        {"\"SILENT\"", false}};
    for (const Case& c : cases) EXPECT_EQ(qen::IsSilentCommandLine(c.line), c.silent) << '[' << c.line << ']';
}

TEST(QenVersionFlags, SevenEightAndTenByMajorAndMinor) {
    struct Case {
        uint32_t major, minor;
        bool seven, eight, ten;
    } cases[] = {{5, 2, false, false, false}, {6, 0, false, false, false}, {6, 1, true, false, false},
                 {6, 2, false, true, false},  {6, 3, false, true, false},  {6, 4, false, true, false},
                 {10, 0, false, false, true}, {11, 0, false, false, false}, {7, 1, false, false, false}};
    for (const Case& c : cases) {
        qen::VersionFlags f = qen::VersionFlagsFor(c.major, c.minor);
        EXPECT_EQ(f.windows7, c.seven) << c.major << '.' << c.minor;
        EXPECT_EQ(f.windows8, c.eight) << c.major << '.' << c.minor;
        EXPECT_EQ(f.windows10, c.ten) << c.major << '.' << c.minor;
    }
}

TEST(QenNames, ProcessorArchitectures) {
    const char* names[] = {"Intel", "MIPS", "Alpha", "PPC", "SHX", "ARM", "IA64", "ALPHA64", "MSIL", "AMD64",
                           "IA32_ON_WIN64"};
    for (uint16_t code = 0; code < 11; ++code) EXPECT_STREQ(qen::ArchitectureName(code), names[code]);
    for (uint16_t code : {11, 12, 0xFFFF}) EXPECT_STREQ(qen::ArchitectureName(code), "Unknown") << code;
}

TEST(QenNames, PowerEventsAndTheAnswersToThem) {
    struct Case {
        uintptr_t event;
        const char* name;  // null: nothing written
        intptr_t answer;
    } cases[] = {
        {0, "PBT_APMQUERYSUSPEND", 0x424D5144},   {1, "PBT_APMQUERYSTANDBY", 0x424D5144},
        {2, "PBT_APMQUERYSUSPENDFAILED", 1},      {3, "PBT_APMQUERYSTANDBYFAILED", 1},
        {4, "PBT_APMSUSPEND", 1},                 {5, "PBT_APMSTANDBY", 1},
        {6, "PBT_APMRESUMECRITICAL", 1},          {7, "PBT_APMRESUMESUSPEND", 1},
        {8, "PBT_APMRESUMESTANDBY", 1},           {9, "PBT_APMBATTERYLOW", 1},
        {10, "PBT_APMPOWERSTATUSCHANGE", 1},      {11, "PBT_APMOEMEVENT", 1},
        {12, nullptr, 1},                         {17, nullptr, 1},
        {18, "PBT_APMRESUMEAUTOMATIC", 1},        {19, nullptr, 1},
        {0x8013, nullptr, 1},
    };
    for (const Case& c : cases) {
        const char* name = qen::PowerEventName(c.event);
        if (c.name)
            EXPECT_STREQ(name, c.name) << c.event;
        else
            EXPECT_EQ(name, nullptr) << c.event;
        EXPECT_EQ(qen::PowerEventAnswer(c.event), c.answer) << c.event;
    }
}

TEST(QenNames, SetupQueueNotifications) {
    struct Case {
        unsigned code;
        const char* format;
        bool paths;
        unsigned answer;
    } cases[] = {
        {1, "SPFILENOTIFY_STARTQUEUE", false, 1},
        {2, "SPFILENOTIFY_ENDQUEUE", false, 1},
        {3, "SPFILENOTIFY_STARTSUBQUEUE", false, 1},
        {4, "SPFILENOTIFY_ENDSUBQUEUE", false, 1},
        {5, "SPFILENOTIFY_STARTDELETE", false, 1},
        {6, "SPFILENOTIFY_ENDDELETE", false, 1},
        {7, "SPFILENOTIFY_DELETEERROR: %s to %s", true, 2},
        {8, "SPFILENOTIFY_STARTRENAME", false, 1},
        {9, "SPFILENOTIFY_ENDRENAME", false, 1},
        {10, "SPFILENOTIFY_RENAMEERROR: %s to %s", true, 2},
        {11, "SPFILENOTIFY_STARTCOPY: %s to %s", true, 1},
        {12, "SPFILENOTIFY_ENDCOPY", false, 1},
        {13, "SPFILENOTIFY_COPYERROR: %s to %s", true, 2},
        {14, "SPFILENOTIFY_NEEDMEDIA", false, 1},
        {15, "SPFILENOTIFY_QUEUESCAN", false, 1},
        {16, "SPFILENOTIFY_CABINETINFO", false, 1},
        {17, "SPFILENOTIFY_FILEINCABINET", false, 1},
        {18, "SPFILENOTIFY_NEEDNEWCABINET", false, 1},
        {19, "SPFILENOTIFY_FILEEXTRACTED", false, 1},
        {20, "SPFILENOTIFY_FILEOPDELAYED", false, 1},
        {21, "SPFILENOTIFY_STARTBACKUP", false, 1},
        {22, "SPFILENOTIFY_BACKUPERROR: %s to %s", true, 2},
        {23, "SPFILENOTIFY_ENDBACKUP", false, 1},
        {24, "SPFILENOTIFY_QUEUESCAN_EX", false, 1},
        {25, "SPFILENOTIFY_STARTREGISTRATION", false, 1},
        {32, "SPFILENOTIFY_ENDREGISTRATION", false, 1},
        {0, nullptr, false, 1},
        {26, nullptr, false, 1},
        {31, nullptr, false, 1},
        {33, nullptr, false, 1},
    };
    for (const Case& c : cases) {
        const char* format = qen::InfNotificationFormat(c.code);
        if (c.format)
            EXPECT_STREQ(format, c.format) << c.code;
        else
            EXPECT_EQ(format, nullptr) << c.code;
        EXPECT_EQ(qen::InfNotificationNamesPaths(c.code), c.paths) << c.code;
        EXPECT_EQ(qen::InfNotificationAnswer(c.code), c.answer) << c.code;
    }
}

TEST(QenNames, FrameworkEventLabelsArePaddedToFifteen) {
    EXPECT_EQ(qen::DifxLabel(0), "DIFXAPI_SUCCESS");
    EXPECT_EQ(qen::DifxLabel(1), "DIFXAPI_INFO   ");
    EXPECT_EQ(qen::DifxLabel(2), "DIFXAPI_WARNING");
    EXPECT_EQ(qen::DifxLabel(3), "DIFXAPI_ERROR  ");
    for (int type = 0; type < 4; ++type) EXPECT_EQ(qen::DifxLabel(type).size(), 15u);
    EXPECT_EQ(qen::DifxLabel(4), "");
    EXPECT_EQ(qen::DifxLabel(-1), "");
}

// ---- where embedded files go ----
TEST(QenInstallPath, TheDriverRowsHaveOneFormEachAndTheRestAlwaysGo) {
    const std::string d = "C:\\Program Files\\Corvane\\Qen Driver\\", w = "D:\\Setup\\";
    struct Case {
        const char* resource;
        const char* plain;  // empty: not written
        const char* ten;
    } cases[] = {
        {"PELKWDM.INF", "PelkWDM.Inf", ""},          {"W10_PELKWDM.INF", "", "PelkWDM.inf"},
        {"PELKWDM.CAT", "PelkWDM.cat", ""},          {"W10_PELKWDM.CAT", "", "PelkWDM.cat"},
        {"PELKWDM.DLL", "PelkWDM.Dll", ""},          {"W10_PELKWDM.DLL", "", "PelkWDM.dll"},
        {"PELKQEN64.SYS", "PelkQen64.sys", ""},      {"W10_PELKQEN64.SYS", "", "PelkQen64.sys"},
        {"PELKQEN64.DLL", "PelkQen64.Dll", ""},      {"W10_PELKQEN64.DLL", "", "PelkQen64.dll"},
        {"PELKDRIVER.CER", "PelkDriver.cer", "PelkDriver.cer"},
        {"PELKAPPS.INF", "PelkApps.Inf", "PelkApps.Inf"},
        {"PELKAPPS.CAT", "PelkApps.cat", "PelkApps.cat"},
        {"QENDRIVERRELEASENOTES.HTML", "QenDriverReleaseNotes.html", "QenDriverReleaseNotes.html"},
        {"PELKMIXER.EXE", "PelkMixer.exe", "PelkMixer.exe"},
        {"TAVIREMOTE.EXE", "TaviRemote.exe", "TaviRemote.exe"},
        {"PMIXER.EXE", "PMixer.exe", "PMixer.exe"},
        {"PMIXEROPTIONS.EXE", "PMixerOptions.exe", "PMixerOptions.exe"},
        {"PELKTRAYVOLUME.EXE", "PelkTrayVolume.exe", "PelkTrayVolume.exe"},
        {"PKBH32.DLL", "PKBH32.Dll", "PKBH32.Dll"},
        {"PELKDEMO.EXE", "PelkDemo.exe", "PelkDemo.exe"},
        {"QENUNINSTALL.EXE", "QenUninstall.exe", "QenUninstall.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qen::InstallPathFor(c.resource, false, d, w), *c.plain ? d + c.plain : "") << c.resource;
        EXPECT_EQ(qen::InstallPathFor(c.resource, true, d, w), *c.ten ? d + c.ten : "") << c.resource;
    }
    // The framework library goes to the working directory, in either form.
    EXPECT_EQ(qen::InstallPathFor("DIFX64.DLL", false, d, w), w + "DIFx64.Dll");
    EXPECT_EQ(qen::InstallPathFor("DIFx64.Dll", true, d, w), w + "DIFx64.Dll");
    // Names are compared without regard to case; others map to nothing.
    EXPECT_EQ(qen::InstallPathFor("pelkwdm.inf", false, d, w), d + "PelkWDM.Inf");
    EXPECT_EQ(qen::InstallPathFor("w10_PelkWdm.Inf", true, d, w), d + "PelkWDM.inf");
    for (const char* other : {"PELKWDM", "OV8028A.BIN", "PELKWDM.INF2", "", "W10_PELKDRIVER.CER"})
        EXPECT_EQ(qen::InstallPathFor(other, false, d, w), "") << other;
}

TEST(QenInstallPath, EveryUnpackedPackageFileIsRemovedAfterwards) {
    // The driver directory only goes when nothing unpacked into it is left.
    const char* resources[] = {"PELKWDM.INF",    "W10_PELKWDM.INF",   "PELKWDM.CAT",  "W10_PELKWDM.CAT",
                               "PELKWDM.DLL",    "W10_PELKWDM.DLL",   "PELKQEN64.SYS", "W10_PELKQEN64.SYS",
                               "PELKQEN64.DLL",  "W10_PELKQEN64.DLL", "PELKDRIVER.CER", "PELKAPPS.INF",
                               "PELKAPPS.CAT",   "QENDRIVERRELEASENOTES.HTML", "PELKMIXER.EXE", "TAVIREMOTE.EXE",
                               "PMIXER.EXE",     "PMIXEROPTIONS.EXE", "PELKTRAYVOLUME.EXE", "PKBH32.DLL",
                               "PELKDEMO.EXE",   "QENUNINSTALL.EXE"};
    for (bool ten : {false, true})
        for (const char* r : resources) {
            std::string path = qen::InstallPathFor(r, ten, "", "");
            if (path.empty()) continue;
            bool removed = false;
            for (const char* name : qen::kInstallerFiles) removed |= qen::SameNameIgnoringCase(path, name);
            EXPECT_TRUE(removed) << r;
        }
}

TEST(QenDirectories, ATrailingBackslashIsAddedUnlessTheLastCharacterIsOne) {
    auto single = [](uint8_t) { return false; };
    // Shift-JIS lead bytes: a trail byte may have the backslash's code.
    auto shiftJis = [](uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    EXPECT_EQ(qen::WithTrailingBackslash("C:\\Program Files\\Corvane", single), "C:\\Program Files\\Corvane\\");
    EXPECT_EQ(qen::WithTrailingBackslash("C:\\Work\\", single), "C:\\Work\\");
    EXPECT_EQ(qen::WithTrailingBackslash("", single), "\\");
    const std::string table = "C:\\\x95\x5C";  // a folder named with one double-byte character
    EXPECT_EQ(qen::WithTrailingBackslash(table, shiftJis), table + "\\");
    EXPECT_EQ(qen::WithTrailingBackslash(table + "\\", shiftJis), table + "\\");
    EXPECT_EQ(qen::WithTrailingBackslash(table, single), table);
}

TEST(QenDriverFiles, LookedForByProcessorWidth) {
    EXPECT_EQ(qen::DriverFilePaths(true, "C:\\Windows", "C:\\Windows\\system32"),
              (std::vector<std::string>{"C:\\Windows\\SysWOW64\\PelkWDM.dll", "C:\\Windows\\system32\\PelkQen64.Dll",
                                        "C:\\Windows\\system32\\Drivers\\PelkQen64.sys"}));
    EXPECT_EQ(qen::DriverFilePaths(false, "C:\\Windows", "C:\\Windows\\system32"),
              (std::vector<std::string>{"C:\\Windows\\system32\\Corda.Dll", "C:\\Windows\\system32\\Drivers\\Corda.sys",
                                        "C:\\Windows\\system32\\PelkWDM.dll",
                                        "C:\\Windows\\system32\\Drivers\\PelkWDM.sys"}));
}

// ---- cards ----
TEST(QenCards, TheVendorPrefixWhateverItsCase) {
    struct Case {
        const char* id;
        bool maker;
    } cases[] = {{"PCI\\VEN_1D5C&DEV_0028&SUBSYS_00011D5C&REV_01", true},
                 {"pci\\ven_1d5c&dev_0028", true},
                 {"PCI\\VEN_1D5C", true},
                 {"PCI\\VEN_1D5D&DEV_0028", false},
                 {"PCI\\VEN_8086&DEV_1D5C", false},
                 {"USB\\VEN_1D5C&DEV_0028", false},
                 {"PCI\\VEN_1D5", false},
                 {"", false}};
    for (const Case& c : cases) EXPECT_EQ(qen::IsMakerHardwareId(c.id), c.maker) << c.id;
}

TEST(QenCards, ModelCodesAndNamesFromTheDeviceId) {
    struct Case {
        const char* device;
        uint16_t code;
        const char* name;
    } cases[] = {
        {"0014", 20, "Pelk DU-RA"},       {"0016", 22, "Pelk DU-RA3"},      {"0020", 32, "Corda-A"},
        {"0021", 33, "Corda-B"},          {"0022", 34, "Corda-C"},          {"0023", 35, "Pelk Kell"},
        {"0024", 36, "Pelk Tarsel"},      {"0025", 37, "Pelk Tarsel-R"},    {"0028", 40, "Pelk Tarsel-X"},
        {"0029", 41, "Pelk Tarsel-XR"},   {"0030", 48, "Pelk Tarsel-XL"},   {"0033", 51, "Pelk Q8"},
        {"0034", 52, "Pelk Q4"},          {"2614", 9748, "Orvex 16"},       {"2714", 10004, "Orvex 8"},
        {"3114", 12564, "Tavi-TB"},       {"3116", 12566, "Tavi-TB3"},      {"6014", 24596, "Orvex(n)-TB"},
        {"6016", 24598, "Orvex(n)-TB3"},  {"0026", 38, "Unknown!"},         {"9999", 0x9999, "Unknown!"},
        {"0000", 0, "Unknown!"},
    };
    for (const Case& c : cases) {
        for (const char* prefix : {"PCI\\VEN_1D5C&DEV_", "pci\\ven_1d5c&dev_"}) {
            std::string id = std::string(prefix) + c.device + "&SUBSYS_00000000&REV_01";
            uint16_t code = 0;
            ASSERT_TRUE(qen::ModelCodeFromHardwareId(id, &code)) << id;
            EXPECT_EQ(code, c.code) << id;
            EXPECT_EQ(qen::ModelNameForHardwareId(id), c.name) << id;
        }
        EXPECT_STREQ(qen::ModelName(c.code), c.name);
    }
}

TEST(QenCards, AnIdTooShortForADeviceIdNamesNoModel) {
    for (const char* id : {"PCI\\VEN_1D5C", "PCI\\VEN_1D5C&DEV_", "PCI\\VEN_1D5C&DEV_002"}) {
        uint16_t code = 0x1234;
        EXPECT_FALSE(qen::ModelCodeFromHardwareId(id, &code)) << id;
        EXPECT_EQ(code, 0x1234) << id;
        EXPECT_EQ(qen::ModelNameForHardwareId(id), "Unknown!") << id;
    }
    uint16_t code = 0;
    EXPECT_TRUE(qen::ModelCodeFromHardwareId("PCI\\VEN_1D5C&DEV_0028", &code));  // exactly long enough
    EXPECT_EQ(code, 40);
}

// ---- the callbacks' log lines ----
class QenCallbackLog : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        plat::posix::Facts().modulePath = dir / "QenSetup.exe";
        orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    }
    void TearDown() override {
        orvex::LogClose();
        orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
        plat::posix::ResetFacts();
    }
    // The messages written so far, without their time stamps.
    std::vector<std::string> Messages() {
        orvex::LogClose();
        std::vector<std::string> lines;
        std::string text = ReadFileText(dir / "QenSetup.log");
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start + 20, end - start - 20));
            start = end + 1;
        }
        return lines;
    }
};

TEST_F(QenCallbackLog, SetupQueueNotificationsAreLoggedWithTheirPaths) {
    qen::FILEPATHS_A copy{"C:\\Program Files\\Corvane\\PelkMixer.exe", "C:\\Setup\\PelkMixer.exe", 0, 0};
    qen::FILEPATHS_A noSource{"C:\\target", nullptr, 5, 0};
    EXPECT_EQ(CQenSetupApp::InfFileCallback(nullptr, 11, reinterpret_cast<uintptr_t>(&copy), 0), 1u);
    EXPECT_EQ(CQenSetupApp::InfFileCallback(nullptr, 13, reinterpret_cast<uintptr_t>(&noSource), 0), 2u);
    EXPECT_EQ(CQenSetupApp::InfFileCallback(nullptr, 14, 0, 0), 1u);
    EXPECT_EQ(CQenSetupApp::InfFileCallback(nullptr, 7, 0, 0), 2u);
    EXPECT_EQ(CQenSetupApp::InfFileCallback(nullptr, 40, 0, 0), 1u);
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "SPFILENOTIFY_STARTCOPY: C:\\Setup\\PelkMixer.exe to C:\\Program Files\\Corvane\\PelkMixer.exe",
                              "SPFILENOTIFY_COPYERROR:  to C:\\target",
                              "SPFILENOTIFY_NEEDMEDIA",
                              "SPFILENOTIFY_DELETEERROR:  to ",
                              "InfFileCallback Unknown Notification!",
                          }));
}

TEST_F(QenCallbackLog, FrameworkEventsAreLoggedWithLabelCodeAndText) {
    CQenSetupApp::DifxLogCallback(difx::DIFXAPI_INFO, 0, "Installing", nullptr);
    CQenSetupApp::DifxLogCallback(difx::DIFXAPI_WARNING, 0x103, "Already there", nullptr);
    CQenSetupApp::DifxLogCallback(static_cast<difx::DIFXAPI_LOG>(7), 0xE0000219, "Odd", nullptr);
    CQenSetupApp::DifxLogCallback(difx::DIFXAPI_SUCCESS, 0, nullptr, nullptr);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"DIFXAPI_INFO    00000000 Installing",
                                                    "DIFXAPI_WARNING 00000103 Already there", " e0000219 Odd",
                                                    "DIFXAPI_SUCCESS 00000000 "}));
}

}  // namespace
