#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class LogTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    void SetUp() override { orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate); }
    void TearDown() override {
        orvex::LogClose();
        orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
        plat::posix::ResetFacts();
    }
};

TEST_F(LogTest, LinesAreTimeStampedAndRunsAppendAfterTheAsteriskLine) {
    OrvexLog("OrvexUpdate Built: Dec 21 2017 14:34:42");
    OrvexLog("Found %s", "Orvex 16 connected via Port 1");
    orvex::LogExitLine();
    orvex::LogClose();
    OrvexLog("second run");
    orvex::LogClose();

    auto lines = Lines(ReadFileText(dir / "OrvexUpdate.log"));
    ASSERT_EQ(lines.size(), 5u);
    const std::regex stamped(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (.*))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, stamped));
    EXPECT_EQ(m[1], "OrvexUpdate Built: Dec 21 2017 14:34:42");
    ASSERT_TRUE(std::regex_match(lines[1], m, stamped));
    EXPECT_EQ(m[1], "Found Orvex 16 connected via Port 1");
    ASSERT_TRUE(std::regex_match(lines[2], m, stamped));
    EXPECT_EQ(m[1], "Exiting");
    EXPECT_EQ(lines[3], std::string(77, '*'));  // no time stamp on the separator
    ASSERT_TRUE(std::regex_match(lines[4], m, stamped));
    EXPECT_EQ(m[1], "second run");
}

TEST_F(LogTest, LongMessagesAreCutAtEachProgramsLimit) {
    struct Case {
        orvex::LogProgram program;
        size_t length, kept;
    } cases[] = {
        {orvex::LogProgram::OrvexUpdate, 4095, 4095},
        {orvex::LogProgram::OrvexUpdate, 4096, 4095},
        {orvex::LogProgram::OrvexUpdate, 20000, 4095},
        {orvex::LogProgram::QenSetup, 255, 255},
        {orvex::LogProgram::QenSetup, 256, 255},
        {orvex::LogProgram::QenSetup, 5000, 255},
    };
    plat::posix::Facts().modulePath = dir / "QenSetup.exe";
    for (const Case& c : cases) {
        orvex::LogSetProgram(c.program);
        std::string log = orvex::LogFilePath();
        std::filesystem::remove(log);
        std::string message(c.length - 1, 'x');
        OrvexLog("%sE", message.c_str());
        orvex::LogClose();
        auto lines = Lines(ReadFileText(log));
        ASSERT_EQ(lines.size(), 1u);
        std::string kept = lines[0].substr(20);  // after "YYYY-MM-DD hh:mm:ss "
        EXPECT_EQ(kept.size(), c.kept) << c.length;
        EXPECT_EQ(kept.back() == 'E', c.kept == c.length) << c.length;
    }
}

TEST_F(LogTest, AnUnopenableLogIsSkippedSilentlyAndRetried) {
    // A directory where the file should be: the open fails even for root.
    std::filesystem::create_directory(dir / "OrvexUpdate.log");
    EXPECT_EQ(OrvexLog("lost %d", 1), 0);
    orvex::LogClose();  // nothing was opened: nothing to close
    std::filesystem::remove(dir / "OrvexUpdate.log");
    OrvexLog("kept");
    orvex::LogClose();
    auto lines = Lines(ReadFileText(dir / "OrvexUpdate.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" kept"), std::string::npos);
}

TEST_F(LogTest, InstallerLogsBesideItsExecutableAndFlushesEveryLine) {
    TempDir exeDir;
    plat::posix::Facts().modulePath = exeDir / "QenSetup.exe";
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    OrvexLog("Pelk Driver Install Built: Nov 22 2019 12:59:24 Version 2.00 Build 24b");
    // Still open: the line must already be on disk.
    std::string text = ReadFileText(exeDir / "QenSetup.log");
    EXPECT_NE(text.find("Pelk Driver Install Built"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "QenSetup.log"));

    orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
    EXPECT_EQ(orvex::LogFilePath(), "OrvexUpdate.log");  // bare name: the working directory
}

}  // namespace
