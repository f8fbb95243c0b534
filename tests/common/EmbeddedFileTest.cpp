#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "common/EmbeddedFile.h"
#include "common/Log.h"
#include "common/Szdd.h"
#include "platform/posix/PosixSystem.h"
#include "tests/support/TempDir.h"

#include "tests/support/EmbeddedImages.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct Box {
    std::string text, caption;
    unsigned type;
};

class EmbeddedFileTest : public ::testing::Test {
protected:
    TempDir temp, logDir;
    ChangeDir cd{logDir.path};
    std::vector<Box> boxes;
    std::vector<uint8_t> hello = orvex::SzddCompress(reinterpret_cast<const uint8_t*>("hello, world\n"), 13, 'X');
    std::vector<uint8_t> truncated;
    std::vector<uint8_t> badSignature = Bytes("MZ this is not a compressed file");
    std::vector<plat::RawResource> table;

    void SetUp() override {
        setenv("TMPDIR", temp.path.c_str(), 1);
        truncated.assign(hello.begin(), hello.end() - 3);
        table = {{"A", hello.data(), unsigned(hello.size())},
                 {"HELLO.TXT", hello.data(), unsigned(hello.size())},
                 {"TRUNC.BIN", truncated.data(), unsigned(truncated.size())},
                 {"BADSIG.BIN", badSignature.data(), unsigned(badSignature.size())}};
        plat::posix::SetRawResources(table.data(), unsigned(table.size()));
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return 1;
        });
    }
    void TearDown() override {
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
        orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
        plat::posix::ResetFacts();
        unsetenv("TMPDIR");
    }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(logDir / "OrvexUpdate.log");
    }
};

TEST_F(EmbeddedFileTest, UpdaterExpandsEveryEmbeddedImageIntoTheTemporaryDirectory) {
    plat::posix::SetRawResources(g_embeddedResources, g_embeddedResourceCount);
    ASSERT_EQ(plat::EnumResourceNames().size(), 9u);
    for (const std::string& name : plat::EnumResourceNames()) {
        std::string destination;
        ASSERT_TRUE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), name, &destination)) << name;
        EXPECT_EQ(destination, temp / name);
        EXPECT_EQ(ReadFileText(destination), ReadFileText(std::string(ORVEX_RAW_IMAGE_DIR) + "/" + name)) << name;
        std::string compressed = temp / name;
        compressed.back() = '_';
        EXPECT_FALSE(std::filesystem::exists(compressed)) << "temporary compressed file left behind";
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Log(), "");  // the updater's form logs nothing
}

TEST_F(EmbeddedFileTest, OneCharacterNameGivesTheMarkerAsTemporaryName) {
    EXPECT_EQ(orvex::CompressedTempPath(orvex::UpdaterEmbeddedForm(), "A"), temp / "_");
    EXPECT_EQ(orvex::CompressedTempPath(orvex::InstallerEmbeddedForm(nullptr), "A"), temp / "$");
    std::string destination;
    ASSERT_TRUE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), "A", &destination));
    EXPECT_EQ(ReadFileText(destination), "hello, world\n");
}

TEST_F(EmbeddedFileTest, FailuresShowTheirTextsAndCaptions) {
    struct Case {
        const char* name;
        bool installer;
        std::string text, caption, log;
        bool compressedLeft;
    } cases[] = {
        {"NOPE.BIN", false, "Cannot Find Resource", "NOPE.BIN", "", false},
        {"NOPE.BIN", true, "Cannot Find Resource", "NOPE.BIN", "FindResource FAILED!", false},
        {"BADSIG.BIN", false, "Unable to expand file '" + temp / "BADSIG.BIN" + "'!", "File Copy Failure! [-8]", "",
         true},
        {"TRUNC.BIN", false, "Unable to expand file '" + temp / "TRUNC.BIN" + "'!", "File Copy Failure! [-3]", "",
         true},
        {"TRUNC.BIN", true, "Unable to expand file '" + temp / "out/TRUNC.BIN" + "'!", "File Copy Failure! [-3]",
         "LZCopy Failure! [-3] " + temp / "out/TRUNC.BIN", true},
    };
    std::filesystem::create_directory(temp / "out");
    for (const Case& c : cases) {
        boxes.clear();
        std::filesystem::remove(logDir / "OrvexUpdate.log");
        auto form = c.installer ? orvex::InstallerEmbeddedForm([&](const std::string& n) { return temp / "out/" + n; })
                                : orvex::UpdaterEmbeddedForm();
        EXPECT_FALSE(orvex::ExtractEmbeddedFile(form, c.name)) << c.name;
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
        std::string log = Log();
        if (c.log.empty())
            EXPECT_EQ(log.find("LZCopy"), std::string::npos);
        else
            EXPECT_NE(log.find(c.log), std::string::npos) << log;
        std::string compressed = orvex::CompressedTempPath(form, c.name);
        EXPECT_EQ(std::filesystem::exists(compressed), c.compressedLeft) << c.name;
        // A failed expansion never leaves a partial file where the real one belongs.
        EXPECT_FALSE(std::filesystem::exists(c.installer ? temp / "out/" + c.name : temp / c.name)) << c.name;
    }
}

TEST_F(EmbeddedFileTest, CreateAndDestinationFailuresNameThePathAndTheError) {
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    plat::posix::Facts().modulePath = logDir / "QenSetup.exe";
    std::string missing = temp / "no/such/dir/HELLO.TXT";
    auto form = orvex::InstallerEmbeddedForm([&](const std::string&) { return missing; });
    EXPECT_FALSE(orvex::ExtractEmbeddedFile(form, "HELLO.TXT"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to open destination file '" + missing +
                                 "'!\n\nThe system cannot find the path specified.\r\n");
    EXPECT_EQ(boxes[0].caption, "File Open Failure! [00000003]");
    orvex::LogClose();
    std::string log = ReadFileText(logDir / "QenSetup.log");
    EXPECT_NE(log.find("Destination: LZOpenFile Failure! [00000003] " + missing), std::string::npos) << log;

    boxes.clear();
    setenv("TMPDIR", (temp / "gone").c_str(), 1);
    EXPECT_FALSE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), "HELLO.TXT"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to create compressed file '" + temp / "gone/HELLO.TX_" + "'!");
    EXPECT_EQ(boxes[0].caption, "Create File Failure! [00000003]");
}

TEST_F(EmbeddedFileTest, InstallerSkipsUnmappedNamesReplacesReadOnlyFilesAndStampsTheFixedTime) {
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    plat::posix::Facts().modulePath = logDir / "QenSetup.exe";
    std::string target = temp / "installed.txt";
    auto form = orvex::InstallerEmbeddedForm([&](const std::string& n) { return n == "HELLO.TXT" ? target : ""; });

    EXPECT_TRUE(orvex::ExtractEmbeddedFile(form, "A"));  // mapped to nothing: success, nothing written
    EXPECT_FALSE(std::filesystem::exists(temp / "$"));

    { std::ofstream(target) << "old"; }
    chmod(target.c_str(), 0444);
    ASSERT_TRUE(orvex::ExtractEmbeddedFile(form, "HELLO.TXT"));
    EXPECT_TRUE(boxes.empty());
    struct stat st{};
    ASSERT_EQ(stat(target.c_str(), &st), 0);  // before reading it moves the access time
    EXPECT_EQ(ReadFileText(target), "hello, world\n");
    orvex::LogClose();
    std::string log = ReadFileText(logDir / "QenSetup.log");
    EXPECT_NE(log.find("Writing HELLO.TXT to " + target + " from " + temp / "HELLO.TX$"), std::string::npos) << log;
    EXPECT_NE(log.find("File Already Exists... Removed " + target), std::string::npos) << log;

    tm local{};
    localtime_r(&st.st_mtim.tv_sec, &local);
    EXPECT_EQ(local.tm_year + 1900, 2019);
    EXPECT_EQ(local.tm_mon + 1, 11);
    EXPECT_EQ(local.tm_mday, 20);
    EXPECT_EQ(local.tm_hour, 2);
    EXPECT_EQ(local.tm_min, 0);
    EXPECT_EQ(local.tm_sec, 24);
    EXPECT_EQ(st.st_mtim.tv_nsec / 1000000, 2);
    EXPECT_EQ(st.st_atim.tv_sec, st.st_mtim.tv_sec);
}

}  // namespace
