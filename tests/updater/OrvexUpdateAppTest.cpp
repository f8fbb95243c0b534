#include <gtest/gtest.h>

#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "updater/OrvexUpdateApp.h"

namespace {

struct Box {
    std::string text, caption;
    unsigned type;
};

class AppTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    std::vector<Box> boxes;
    int windows = 0;

    void SetUp() override {
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return plat::DefaultAnswer(type);
        });
    }
    void TearDown() override {
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
        plat::posix::ResetFacts();
    }
    int Run() {
        COrvexUpdateApp app(UnitControlFactories{}, [this](COrvexUpdateDlg& dlg) {
            ++windows;
            RecorderSurface surface;
            dlg.OnInitDialog(surface);
            dlg.OnDestroy();
            return surface.endResult;
        });
        return app.Run();
    }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
};

TEST_F(AppTest, StartUpChecksEndTheProcessEarlyWithoutTheExitLine) {
    struct Case {
        const char* what;
        void (*arrange)(plat::posix::SystemFacts&);
        std::string box, caption;
        unsigned type;
        std::string logged;
    } cases[] = {
        {"sockets", [](auto& f) { f.socketsOk = false; }, "Windows Sockets 1.1 could not be initialized.",
         "Orvex Firmware Update", plat::mb::Ok | plat::mb::IconError, ""},
        {"version query", [](auto& f) { f.versionOk = false; }, "GetVersionEx Failed!", "",
         plat::mb::Ok | plat::mb::IconWarning, ""},
        {"Windows 98", [](auto& f) { f.version.platformId = plat::kPlatformWindows; },
         "Orvex Firmware Update does not support this operating system.", "", plat::mb::Ok | plat::mb::IconWarning,
         "Terminating: Unsupported Operating System."},
        {"battery", [](auto& f) { f.power.acLineStatus = 0; },
         "This computer must be connected to AC power to update firmware.", "On Battery Power",
         plat::mb::Ok | plat::mb::IconError, "Terminating: On Battery Power"},
    };
    for (const Case& c : cases) {
        plat::posix::ResetFacts();
        boxes.clear();
        windows = 0;
        std::filesystem::remove(dir / "OrvexUpdate.log");
        c.arrange(plat::posix::Facts());
        EXPECT_NE(Run(), 0) << c.what;
        EXPECT_EQ(windows, 0) << c.what;
        ASSERT_EQ(boxes.size(), 1u) << c.what;
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].type, c.type);
        std::string log = Log();
        EXPECT_EQ(log.find("OrvexUpdate Built: Dec 21 2017 14:34:42"), 20u) << c.what;
        if (!c.logged.empty()) {
            EXPECT_NE(log.find(c.logged), std::string::npos) << c.what;
        }
        EXPECT_EQ(log.find("Exiting"), std::string::npos) << c.what;
    }
}

TEST_F(AppTest, OnlyAnOfflineAcLineStopsTheProgram) {
    for (uint8_t ac : {1, 255}) {
        plat::posix::ResetFacts();
        plat::posix::Facts().power.acLineStatus = ac;
        windows = 0;
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(windows, 1) << int(ac);
    }
    plat::posix::ResetFacts();
    plat::posix::Facts().powerOk = false;
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(Log().find("GetSystemPowerStatus FAILED! [00000032]"), std::string::npos);
}

TEST_F(AppTest, ARunEndsWithTheExitLineAfterTheWindow) {
    EXPECT_EQ(Run(), 0);
    std::string log = Log();
    EXPECT_EQ(log.find("OrvexUpdate Built: Dec 21 2017 14:34:42"), 20u);
    size_t exiting = log.find(" Exiting\n" + std::string(77, '*') + "\n");
    ASSERT_NE(exiting, std::string::npos);
    EXPECT_EQ(exiting + 9 + 77 + 1, log.size()) << "exit line is last";
    EXPECT_LT(log.find("Unable to locate an Orvex!"), exiting);
}

TEST_F(AppTest, TheLogCanBeUnopenableAndTheProgramStillEndsCleanly) {
    std::filesystem::create_directory(dir / "OrvexUpdate.log");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(windows, 1);
}

TEST_F(AppTest, AutoAnswerFlagAnswersAndLogsEveryBox) {
    plat::SetMessageBoxAnswerer(nullptr);
    plat::posix::Facts().args = {"-autoanswer"};
    EXPECT_EQ(Run(), 0);
    plat::SetMessageBoxAnswerer(nullptr);
    EXPECT_NE(Log().find("Message box answered automatically [Orvex Firmware Update] Unable to locate an Orvex! -> 1"),
              std::string::npos);
}

TEST(CommandLine, TheFirstNonFlagArgumentNamesTheImage) {
    struct Case {
        std::vector<std::string> args;
        std::string file;
    } cases[] = {
        {{}, ""},
        {{"-autoanswer", "/x", "-"}, ""},
        {{"/flag", "first.bin", "second.bin"}, "first.bin"},
        {{"C:\\images\\OVF031B.BIN"}, "C:\\images\\OVF031B.BIN"},
        {{"", "a.bin"}, "a.bin"},
    };
    for (const Case& c : cases) EXPECT_EQ(COrvexUpdateApp::FirmwareFileFromArgs(c.args), c.file);
}

}  // namespace
