// The OS layer against the real Windows API: resources, the system's LZ
// expansion next to our own expander, embedded-file extraction and the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/EmbeddedFile.h"
#include "common/Log.h"
#include "common/Szdd.h"
#include "platform/Platform.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ResourceBytes(const std::string& name, const uint8_t** data, uint32_t* size) {
    plat::ResourceHandle r = plat::FindResource(name);
    if (!r) return false;
    *data = static_cast<const uint8_t*>(plat::LockResource(plat::LoadResource(r)));
    *size = plat::SizeofResource(r);
    return *data != nullptr;
}

struct Boxes {
    std::vector<std::string> texts, captions;
    Boxes() {
        plat::SetMessageBoxAnswerer([this](const std::string& t, const std::string& c, unsigned) {
            texts.push_back(t);
            captions.push_back(c);
            return 1;
        });
    }
    ~Boxes() { plat::SetMessageBoxAnswerer(nullptr); }
};

TEST(WindowsResources, TheNineImagesAndTheFixturesAreEnumeratedAndFound) {
    std::vector<std::string> names = plat::EnumResourceNames();
    for (const char* name : {"OV8028A.BIN", "OV8031B.BIN", "OVF028A.BIN", "OVF031B.BIN", "XCDNT0102NC.BIN",
                             "XCHD015B.BIN", "XCMA006B.BIN", "XCUSB10V00.BIN", "XCUSB5V30.BIN", "A"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_NE(plat::FindResource("xcusb5v30.bin"), nullptr) << "names are found whatever their case";
    EXPECT_EQ(plat::FindResource("NOPE.BIN"), nullptr);
}

// The system's LZ32 and our expander must give the same bytes for the same container.
TEST(WindowsLz, SystemExpansionAndOurExpanderAgree) {
    struct Case {
        const char* name;
        uint32_t size;
    } cases[] = {{"EMPTY.BIN", 0},          {"ONE.BIN", 1},           {"A", 44},
                 {"REPEAT.BIN", 5000},      {"XCUSB5V30.BIN", 47616}, {"OVF031B.BIN", 212392},
                 {"XCDNT0102NC.BIN", 340884}};
    std::string temp = plat::GetTempPath();
    for (const Case& c : cases) {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(ResourceBytes(c.name, &data, &size)) << c.name;

        std::vector<uint8_t> ours;
        ASSERT_EQ(orvex::SzddExpandBuffer(data, size, ours), long(c.size)) << c.name;

        std::string packed = temp + "lzcheck.in", expanded = temp + "lzcheck.out";
        {
            std::ofstream out(packed, std::ios::binary);
            out.write(reinterpret_cast<const char*>(data), size);
        }
        int src = plat::LZOpenFile(packed, false);
        int dst = plat::LZOpenFile(expanded, true);
        ASSERT_GE(src, 0) << c.name;
        ASSERT_GE(dst, 0) << c.name;
        long result = plat::LZCopy(src, dst);
        plat::LZClose(src);
        plat::LZClose(dst);
        EXPECT_EQ(result, long(c.size)) << c.name;
        std::string system = ReadAll(expanded);
        EXPECT_EQ(system.size(), ours.size()) << c.name;
        EXPECT_TRUE(system == std::string(ours.begin(), ours.end())) << c.name;
        plat::DeleteFile(packed);
        plat::DeleteFile(expanded);
    }
}

TEST(WindowsEmbeddedFile, OneCharacterNameExpandsThroughTheMarkerFile) {
    Boxes boxes;
    std::string destination;
    ASSERT_TRUE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), "A", &destination));
    EXPECT_EQ(destination, plat::GetTempPath() + "A");
    EXPECT_EQ(ReadAll(destination), "Orvex remote control, packed and unpacked.\r\n");
    EXPECT_EQ(plat::GetFileAttributes(plat::GetTempPath() + "_"), plat::kInvalidAttributes) << "marker file removed";
    EXPECT_TRUE(boxes.texts.empty());
    plat::DeleteFile(destination);
}

TEST(WindowsEmbeddedFile, BrokenContainersFailInsteadOfPassingAsImages) {
    struct Case {
        const char* name;
        const char* caption;
    } cases[] = {{"BADSIG.BIN", "File Copy Failure! [-8]"}, {"TRUNC.BIN", "File Copy Failure! [-3]"}};
    for (const Case& c : cases) {
        Boxes boxes;
        EXPECT_FALSE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), c.name)) << c.name;
        std::string destination = plat::GetTempPath() + c.name;
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_EQ(boxes.texts[0], "Unable to expand file '" + destination + "'!");
        EXPECT_EQ(boxes.captions[0], c.caption);
        EXPECT_EQ(plat::GetFileAttributes(destination), plat::kInvalidAttributes) << "no partial file left";
    }
    Boxes boxes;
    EXPECT_FALSE(orvex::ExtractEmbeddedFile(orvex::UpdaterEmbeddedForm(), "Q"));
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Cannot Find Resource");
    EXPECT_EQ(boxes.captions[0], "Q");
}

TEST(WindowsEmbeddedFile, InstallerReplacesAReadOnlyFileAndStampsTheFixedTime) {
    Boxes boxes;
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    std::string log = orvex::LogFilePath();
    plat::DeleteFile(log);
    std::string target = plat::GetTempPath() + "installed-A.txt";
    {
        std::ofstream(target) << "old";
    }
    ASSERT_TRUE(plat::SetFileAttributes(target, plat::kAttrReadOnly));
    auto form = orvex::InstallerEmbeddedForm([&](const std::string&) { return target; });
    ASSERT_TRUE(orvex::ExtractEmbeddedFile(form, "A"));
    EXPECT_TRUE(boxes.texts.empty());

    plat::FileHandle f = plat::CreateFile(target, plat::kAccessRead, plat::FileShare::Read,
                                          plat::FileDisposition::OpenExisting);
    ASSERT_NE(f, plat::kInvalidFile);
    uint64_t times[3] = {};
    ASSERT_TRUE(plat::GetFileTime(f, &times[0], &times[1], &times[2]));
    plat::CloseHandle(f);
    for (uint64_t t : times) {
        plat::LocalTime local{};
        ASSERT_TRUE(plat::FileTimeToLocalTime(t, &local));
        EXPECT_EQ(local.year, 2019);
        EXPECT_EQ(local.month, 11);
        EXPECT_EQ(local.day, 20);
        EXPECT_EQ(local.hour, 2);
        EXPECT_EQ(local.minute, 0);
        EXPECT_EQ(local.second, 24);
        EXPECT_EQ(local.milliseconds, 2);
    }
    EXPECT_EQ(ReadAll(target), "Orvex remote control, packed and unpacked.\r\n");
    plat::DeleteFile(target);

    orvex::LogClose();
    orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
    std::string text = ReadAll(log);
    EXPECT_NE(text.find("Writing A to " + target + " from " + plat::GetTempPath() + "$"), std::string::npos) << text;
    EXPECT_NE(text.find("File Already Exists... Removed " + target), std::string::npos) << text;
    std::string exe = plat::GetModuleFileName();
    EXPECT_EQ(log, exe.substr(0, exe.find_last_of('\\') + 1) + "QenSetup.log");
    plat::DeleteFile(log);
}

TEST(WindowsLog, TextModeWritesCarriageReturnLineFeed) {
    plat::DeleteFile("OrvexUpdate.log");
    OrvexLog("OrvexUpdate Built: Dec 21 2017 14:34:42");
    orvex::LogExitLine();
    orvex::LogClose();
    std::string text = ReadAll("OrvexUpdate.log");
    ASSERT_GE(text.size(), 20u);
    EXPECT_EQ(text.substr(20), "OrvexUpdate Built: Dec 21 2017 14:34:42\r\n" + text.substr(20 + 41, 20) +
                                   "Exiting\r\n" + std::string(77, '*') + "\r\n");
    plat::DeleteFile("OrvexUpdate.log");
}

}  // namespace
