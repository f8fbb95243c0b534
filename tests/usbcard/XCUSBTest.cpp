// CXCUSB against the emulated USB audio driver served in-process: where it
// looks for the library, how it binds and opens, the download with its
// progress bar and its failures, the sample rate, and that nothing it takes
// is left behind.
#include "usbcard/XCUSB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "platform/posix/PosixSystem.h"
#include "sim/usbcard/InProcess.h"
#include "tests/usbcard/UsbCardTestSupport.h"

namespace {

using namespace usbtest;
using orvex::CXCUSB;
using sim::usbcard::Config;
using sim::usbcard::InProcessDriver;

constexpr const char* kKey = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kFirst = "C:\\Program Files\\Corvane\\DO-ZAZ Audio Driver\\usbaudioapi.dll";
const std::string kSecond = "C:\\Program Files\\Corvane\\DO-ZAZ Audio Driver\\xcusbaudapi.dll";
const std::string kThird = "C:\\Program Files\\Harken\\Relay 4x4 Driver\\harkenaudapi.dll";
const std::string kFourth = "C:\\Program Files\\Corvane\\Tavi USB Audio Driver\\TaviUSBapi.dll";

std::string Unable(const std::string& path) { return "DO-ZAZ: Unable to locate [" + path + "]!\n"; }

class XCUSBTest : public ::testing::Test {
protected:
    RunScope run;
    Boxes boxes;
    void SetUp() override {
        plat::posix::ResetFacts();
        plat::posix::Facts().registry[kKey] = {{"ProgramFilesDir", "C:\\Program Files"},
                                               {"ProgramW6432Dir", "C:\\Program Files"}};
    }
    void TearDown() override { plat::posix::ResetFacts(); }
    static Config TwoCards() {
        return sim::usbcard::StudioConfig({{5, 30}, {10, 0}});
    }
};

// ---- the Program Files directory ------------------------------------------------

TEST_F(XCUSBTest, ProgramFilesDirectoryIsTheNativeOneAndFallsBackToTheWindowsDrive) {
    struct Case {
        const char* name;
        bool wow64Available, wow64;
        std::map<std::string, std::string> values;  // absent key when empty and noKey
        bool noKey;
        const char* windows;
        const char* expected;
    };
    const std::string tooLong(260, 'x');    // 261 bytes with its terminator
    const std::string justFits(259, 'y');   // 260 bytes
    const Case cases[] = {
        {"a native program reads ProgramFilesDir", true, false,
         {{"ProgramFilesDir", "E:\\Apps"}, {"ProgramW6432Dir", "F:\\Native"}}, false, "C:\\Windows", "E:\\Apps"},
        {"under Wow64 ProgramW6432Dir", true, true,
         {{"ProgramFilesDir", "E:\\Apps (x86)"}, {"ProgramW6432Dir", "F:\\Native"}}, false, "C:\\Windows", "F:\\Native"},
        {"under Wow64 without ProgramW6432Dir: the Windows drive", true, true,
         {{"ProgramFilesDir", "E:\\Apps (x86)"}}, false, "D:\\WINNT", "D:\\Program Files"},
        {"no IsWow64Process: ProgramFilesDir", false, true,
         {{"ProgramFilesDir", "E:\\Apps"}, {"ProgramW6432Dir", "F:\\Native"}}, false, "C:\\Windows", "E:\\Apps"},
        {"no key: the Windows drive", true, false, {}, true, "G:\\Windows", "G:\\Program Files"},
        {"a value too long for 260 bytes", true, false, {{"ProgramFilesDir", tooLong}}, false, "H:\\Windows",
         "H:\\Program Files"},
        {"a value of 259 characters fits", true, false, {{"ProgramFilesDir", justFits}}, false, "H:\\Windows",
         justFits.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& facts = plat::posix::Facts();
        facts.wow64Available = c.wow64Available;
        facts.wow64 = c.wow64;
        facts.windowsDirectory = c.windows;
        facts.registry.clear();
        if (!c.noKey) facts.registry[kKey] = c.values;
        EXPECT_EQ(CXCUSB::ProgramFilesDirectory(), c.expected);
    }
}

TEST_F(XCUSBTest, TheFourPlacesAreUnderTheProgramFilesDirectory) {
    auto& facts = plat::posix::Facts();
    facts.wow64 = true;
    facts.registry[kKey] = {{"ProgramFilesDir", "C:\\Program Files (x86)"}, {"ProgramW6432Dir", "C:\\Program Files"}};
    EXPECT_EQ(CXCUSB::LibraryPaths(), (std::array<std::string, 4>{kFirst, kSecond, kThird, kFourth}));
}

// ---- finding and binding the library -------------------------------------------

TEST_F(XCUSBTest, TheLibraryIsTakenFromTheFirstPlaceThatHasIt) {
    struct Case {
        const char* name;
        std::vector<std::string> installed;  // ends of the paths the library is at
        std::vector<std::string> tried;
        const char* opened;                  // null: none
    };
    const std::string a = "\\Corvane\\DO-ZAZ Audio Driver\\usbaudioapi.dll";
    const std::string b = "\\Corvane\\DO-ZAZ Audio Driver\\xcusbaudapi.dll";
    const std::string c3 = "\\Harken\\Relay 4x4 Driver\\harkenaudapi.dll";
    const std::string d = "\\Corvane\\Tavi USB Audio Driver\\TaviUSBapi.dll";
    const Case cases[] = {
        {"the first", {a}, {kFirst}, kFirst.c_str()},
        {"only the third", {c3}, {kFirst, kSecond, kThird}, kThird.c_str()},
        {"only the fourth", {d}, {kFirst, kSecond, kThird, kFourth}, kFourth.c_str()},
        {"the second before the third", {c3, b}, {kFirst, kSecond}, kSecond.c_str()},
        {"none", {}, {kFirst, kSecond, kThird, kFourth}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logStart = run.Log().size();
        boxes.seen.clear();
        InProcessDriver::Options options;
        options.locations = c.installed;
        InProcessDriver usb(sim::usbcard::StudioConfig({{5, 30}}), options);
        {
            CXCUSB card;
            EXPECT_EQ(card.Open(0), c.opened != nullptr);
            EXPECT_EQ(usb.LoadAttempts(), c.tried);
        }
        const std::string log = run.Log().substr(logStart);
        EXPECT_EQ(Count(log, "DO-ZAZ: Unable to locate ["), c.tried.size() - (c.opened ? 1 : 0)) << log;
        for (size_t i = 0; i + (c.opened ? 1 : 0) < c.tried.size(); ++i)
            EXPECT_NE(log.find(Unable(c.tried[i])), std::string::npos) << c.tried[i];
        if (c.opened) {
            const size_t opened = log.find(std::string("DO-ZAZ: Opened [") + c.opened + "]\n");
            ASSERT_NE(opened, std::string::npos) << log;
            if (c.tried.size() > 1) {
                EXPECT_LT(log.rfind("Unable to locate"), opened);  // the misses come first
            }
            EXPECT_NE(log.find("Found DO-ZAZ [Corvane] [DO-ZAZ] [DZ000001]"), std::string::npos);
        } else {
            EXPECT_EQ(log.find("DO-ZAZ: Opened"), std::string::npos);
        }
        EXPECT_TRUE(boxes.seen.empty()) << "a missing library is only logged";
        EXPECT_EQ(usb.References(), 0u);
        EXPECT_EQ(usb.GetCounters().openHandles, 0u);
    }
}

TEST_F(XCUSBTest, FunctionsAreBoundByNameInTheirOrder) {
    InProcessDriver usb(sim::usbcard::StudioConfig({{5, 30}}));
    CXCUSB card;
    ASSERT_TRUE(card.Open(0));
    const std::vector<std::string> expected(usbaudio::kUsbAudioFunctionNames.begin(),
                                            usbaudio::kUsbAudioFunctionNames.end());
    EXPECT_EQ(usb.Resolved(), expected);
    EXPECT_NE(run.Log().find("APIVERSION 00030002"), std::string::npos);
}

TEST_F(XCUSBTest, AMissingFunctionIsNamedInItsBoxAndOpenFails) {
    struct Case {
        std::vector<std::string> missing;
        const char* caption;
        bool apiVersionLogged;
    };
    const Case cases[] = {
        {{"USBAUDIO_StartDfuUpload"}, "USBAUDIO_StartDfuUpload", true},  // never called, still required
        {{"USBAUDIO_GetApiVersion"}, "USBAUDIO_GetApiVersion", false},
        {{"USBAUDIO_StatusCodeStringA", "USBAUDIO_EnumerateDevices"}, "USBAUDIO_EnumerateDevices", true},
        {{"USBAUDIO_StatusCodeStringA"}, "USBAUDIO_StatusCodeStringA", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        const size_t logStart = run.Log().size();
        boxes.seen.clear();
        InProcessDriver::Options options;
        options.missingExports = c.missing;
        InProcessDriver usb(sim::usbcard::StudioConfig({{5, 30}}), options);
        {
            CXCUSB card;
            EXPECT_FALSE(card.Open(0));
            EXPECT_EQ(usb.References(), 1u) << "the library stays loaded until Close";
        }
        ASSERT_EQ(boxes.seen.size(), 1u);
        EXPECT_EQ(boxes.seen[0].text, "GetProcAddress failed");
        EXPECT_EQ(boxes.seen[0].caption, c.caption);
        EXPECT_EQ(boxes.seen[0].type, plat::mb::Ok);
        const std::string log = run.Log().substr(logStart);
        EXPECT_EQ(log.find("APIVERSION") != std::string::npos, c.apiVersionLogged);
        EXPECT_EQ(usb.GetCounters().enumerations, 0u) << "nothing is called once a function is missing";
        EXPECT_EQ(usb.References(), 0u);
    }
}

// ---- opening the device ---------------------------------------------------------

TEST_F(XCUSBTest, OpenStepsTheirLogAndTheirFailures) {
    struct Case {
        const char* name;
        int32_t index;
        std::function<void(Config&)> setUp;
        bool result;
        std::vector<std::string> logged;
        std::vector<std::string> notLogged;
        bool customIniBox;
    };
    const std::string found = "Found DO-ZAZ [Corvane] [DO-ZAZ] [DZ000001]";
    const Case cases[] = {
        {"device 0", 0, [](Config&) {}, true,
         {"APIVERSION 00030002", "Driver 3.14.2", found}, {"Failure"}, false},
        {"device 1 of two", 1, [](Config& c) { c.cardCount = 2; }, true,
         {"Found DO-ZAZ [Corvane] [DO-ZAZ] [DZ000002]"}, {}, false},
        {"custom.ini missing: box, and on", 0, [](Config& c) { c.customIniMissing = 1; }, true,
         {"CXCUSB::Open Failure! Unable to locate CUSTOM.INI file!", found}, {}, true},
        {"index 1 with one device", 1, [](Config&) {}, false,
         {"Driver 3.14.2", "CXCUSB::Open Failure! No Devices Found!"}, {"Found DO-ZAZ"}, false},
        {"a negative index", -1, [](Config&) {}, false, {"CXCUSB::Open Failure! No Devices Found!"}, {}, false},
        {"no devices at all", 0, [](Config& c) { c.cardCount = 0; }, false,
         {"CXCUSB::Open Failure! No Devices Found!"}, {}, false},
        {"the device does not open", 0, [](Config& c) { c.cards[0].openFails = 1; }, false, {},
         {"Found DO-ZAZ", "Failure"}, false},
        {"its properties cannot be read", 0, [](Config& c) { c.cards[0].propertiesFail = 1; }, false, {},
         {"Found DO-ZAZ", "Failure"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logStart = run.Log().size();
        boxes.seen.clear();
        Config config = sim::usbcard::StudioConfig({{5, 30}, {10, 0}});
        config.cardCount = 1;
        c.setUp(config);
        InProcessDriver usb(config);
        {
            CXCUSB card;
            EXPECT_EQ(card.Open(c.index), c.result);
            // A device whose properties cannot be read stays open until Close.
            EXPECT_EQ(card.IsOpen(), c.result || std::string(c.name) == "its properties cannot be read");
            EXPECT_EQ(usb.GetCounters().openHandles, card.IsOpen() ? 1u : 0u);
            if (c.result) {
                EXPECT_EQ(card.DeviceIndex(), c.index);
            }
        }
        const std::string log = run.Log().substr(logStart);
        for (const std::string& line : c.logged) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
        for (const std::string& line : c.notLogged) EXPECT_EQ(log.find(line), std::string::npos) << line;
        if (c.customIniBox) {
            ASSERT_EQ(boxes.seen.size(), 1u);
            EXPECT_EQ(boxes.seen[0].text, "Unable to locate \"custom.ini\" file!");
            EXPECT_EQ(boxes.seen[0].caption, "DO-ZAZ");
            EXPECT_EQ(boxes.seen[0].type, plat::mb::Ok);
        } else {
            EXPECT_TRUE(boxes.seen.empty());
        }
        // Whatever happened, destruction gave back the device and the library.
        EXPECT_EQ(usb.GetCounters().openHandles, 0u);
        EXPECT_EQ(usb.GetCounters().opens, usb.GetCounters().closes);
        EXPECT_EQ(usb.References(), 0u);
    }
}

TEST_F(XCUSBTest, PropertyTextsEndAtTheirFieldAndKeepTheirLetters) {
    Config config = sim::usbcard::StudioConfig({{5, 30}});
    const std::string longProduct(140, 'P');
    std::snprintf(config.cards[0].product, sizeof config.cards[0].product, "%s", longProduct.c_str());
    std::snprintf(config.cards[0].manufacturer, sizeof config.cards[0].manufacturer, "%s", "Corvane Ærø €");
    InProcessDriver usb(config);
    CXCUSB card;
    ASSERT_TRUE(card.Open(0));
    EXPECT_NE(run.Log().find("Found DO-ZAZ [Corvane Ærø €] [" + std::string(128, 'P') + "] [DZ000001]"),
              std::string::npos)
        << run.Log();
}

TEST_F(XCUSBTest, OpeningAgainOrClosingLeavesNothingBehind) {
    InProcessDriver usb(TwoCards());
    CXCUSB card;
    ASSERT_TRUE(card.Open(0));
    ASSERT_TRUE(card.Open(1));
    EXPECT_EQ(card.DeviceIndex(), 1);
    EXPECT_EQ(usb.References(), 1u);
    EXPECT_EQ(usb.GetCounters().openHandles, 1u);
    card.Close();
    EXPECT_FALSE(card.IsOpen());
    EXPECT_EQ(usb.References(), 0u);
    EXPECT_EQ(usb.GetCounters().openHandles, 0u);
    card.Close();  // twice is harmless
    EXPECT_EQ(usb.Releases(), usb.Loads());
    ProgressSurface window;
    const Bytes image = MakeImage(kImage10V00Size, 10, 0);
    EXPECT_FALSE(card.ProgramEEPROM(image.data(), uint32_t(image.size()), window, kProgressId));
    uint32_t hertz = 0;
    EXPECT_EQ(card.GetSampleRate(&hertz), CXCUSB::kNotOpen);
    EXPECT_EQ(card.SetSampleRate(48000), CXCUSB::kNotOpen);
    EXPECT_EQ(usb.GetCounters().imageLoads, 0u);
}

// ---- sample rate ---------------------------------------------------------------------

TEST_F(XCUSBTest, SampleRateGoesToTheOpenDevice) {
    InProcessDriver usb(TwoCards());
    CXCUSB card;
    ASSERT_TRUE(card.Open(1));
    uint32_t hertz = 0;
    EXPECT_EQ(card.GetSampleRate(&hertz), 0u);
    EXPECT_EQ(hertz, 48000u);
    EXPECT_EQ(card.SetSampleRate(96000), 0u);
    EXPECT_EQ(card.GetSampleRate(&hertz), 0u);
    EXPECT_EQ(hertz, 96000u);
    EXPECT_EQ(usb.CardState(1).currentRate, 96000u);
    EXPECT_EQ(usb.CardState(0).currentRate, 48000u) << "only the opened card changes";
    EXPECT_EQ(card.SetSampleRate(22050), uint32_t{sim::usbcard::kStatusRateUnsupported});
    usb.Emulated().SetStreamsActive(1, true);
    EXPECT_EQ(card.SetSampleRate(44100), usbaudio::USBAUDIO_STATUS_STREAMS_ACTIVE);
    EXPECT_EQ(usb.CardState(1).currentRate, 96000u);
}

// ---- the download --------------------------------------------------------------------

struct Download {
    const char* name;
    uint32_t size;
    uint8_t major, minor;          // the image's version
    uint8_t fromMajor, fromMinor;  // the card's before
};

class XCUSBDownloadTest : public XCUSBTest, public ::testing::WithParamInterface<Download> {};

TEST_P(XCUSBDownloadTest, TheWholeImageGoesInAndTheCardRunsIt) {
    const Download& d = GetParam();
    // The card on device 1, so the index handed to the download is seen to be the card's.
    InProcessDriver usb(sim::usbcard::StudioConfig({{1, 0}, {d.fromMajor, d.fromMinor}}));
    const sim::usbcard::Timing timing = usb.Emulated().GetConfig().timing;
    CXCUSB card;
    ASSERT_TRUE(card.Open(1));
    const Bytes image = MakeImage(d.size, d.major, d.minor);
    ProgressSurface window;
    const unsigned pumpsBefore = plat::posix::Facts().pumpedMessages;
    const uint64_t start = plat::ClockMicros();

    EXPECT_TRUE(card.ProgramEEPROM(image.data(), d.size, window, kProgressId));

    // The device's own time passed: detaching, every block, manifesting, re-attaching.
    const uint64_t blocks = (d.size + timing.blockBytes - 1) / timing.blockBytes;
    EXPECT_GE(plat::ClockMicros() - start,
              timing.detachMicros + blocks * timing.blockMicros + timing.manifestMicros + timing.reattachMicros);
    EXPECT_EQ(window.rangeId, kProgressId);
    EXPECT_EQ(window.low, 0);
    EXPECT_EQ(window.high, int(d.size));
    EXPECT_EQ(window.positionIds, std::vector<int>{kProgressId});
    ASSERT_FALSE(window.positions.empty());
    EXPECT_EQ(window.positions.front(), 0);
    EXPECT_EQ(window.positions.back(), int(d.size)) << "the bar reaches the image size";
    EXPECT_TRUE(std::is_sorted(window.positions.begin(), window.positions.end()));
    const sim::usbcard::Counters counters = usb.GetCounters();
    EXPECT_EQ(window.positions.size(), counters.dfuPolls);
    EXPECT_EQ(plat::posix::Facts().pumpedMessages - pumpsBefore, counters.dfuPolls) << "one message per poll";
    EXPECT_EQ(counters.imageBytes, d.size);
    EXPECT_EQ(counters.loadFlags, 0u);
    EXPECT_EQ(counters.dfuStarts, 1u);
    EXPECT_EQ(counters.lastStartIndex, 1u);
    EXPECT_EQ(counters.lastStartTarget, 0u);
    EXPECT_EQ(counters.lastStartFlags, 0u);
    EXPECT_EQ(counters.dfuEnds, 1u);

    const sim::usbcard::Card after = usb.CardState(1);
    EXPECT_EQ(after.major, d.major);
    EXPECT_EQ(after.minor, d.minor);
    EXPECT_EQ(after.downloads, 1u);
    EXPECT_EQ(usb.CardState(0).downloads, 0u);

    const std::string log = run.Log();
    EXPECT_NE(log.find("ProgramEEPROM DO-ZAZ " + std::to_string(d.size) + "\n"), std::string::npos);
    EXPECT_NE(log.find("ProgramEEPROM DO-ZAZ Success!"), std::string::npos);
    EXPECT_TRUE(plat::posix::Facts().debugOutput.empty());
}

INSTANTIATE_TEST_SUITE_P(BothImages, XCUSBDownloadTest,
                         ::testing::Values(Download{"XCUSB10V00", kImage10V00Size, 10, 0, 5, 30},
                                           Download{"XCUSB5V30", kImage5V30Size, 5, 30, 10, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XCUSBTest, DownloadFailuresAreReportedAndAnswerFalse) {
    using namespace sim::usbcard;
    struct Case {
        const char* name;
        uint32_t fault, faultStatus, faultAtBytes, faultPolls;
        bool result;
        std::vector<std::string> reported;  // the debugger's lines, which the log has too
        bool takesImage;
        int lastPosition;  // -1: the bar is not touched
    };
    const uint32_t size = kImage10V00Size;
    const Case cases[] = {
        {"the image is refused", kFaultLoadRefused, kStatusBadImage, 0, 0, false,
         {"USBAUDIO_STATUS_INVALID_FIRMWARE_IMAGE\t\t= 0xE0001003"}, false, -1},
        {"the download does not start", kFaultStartRefused, kStatusDfuBusy, 0, 0, false,
         {"USBAUDIO_STATUS_DFU_BUSY\t\t= 0xE0001005"}, false, -1},
        {"state 6 during the download", kFaultFailDuringDownload, kStatusDfuBlockRejected, 4096, 0, false,
         {"USBAUDIO_STATUS_DFU_BLOCK_REJECTED\t\t= 0xE0002001",     // the completion status
          "USBAUDIO_STATUS_DFU_BLOCK_REJECTED\t\t= 0xE0002001"},    // and the end of the procedure
         false, 4096},
        {"state 6 after the card took the image, then success", kFaultFailAfterCommit, kStatusDfuNoReattach, 0, 0,
         true, {"USBAUDIO_STATUS_DFU_DEVICE_DID_NOT_REATTACH\t\t= 0xE0002003"}, true, int(size)},
        {"the end of the procedure fails", kFaultEndDfuFails, kStatusDfuVerifyFailed, 0, 0, false,
         {"USBAUDIO_STATUS_DFU_VERIFY_FAILED\t\t= 0xE0002002"}, false, int(size)},
        {"status polls that fail are reported and the loop goes on", kFaultStatusErrors, kStatusFailed, 0, 3, true,
         {"USBAUDIO_STATUS_FAILED\t\t= 0xE0000001", "USBAUDIO_STATUS_FAILED\t\t= 0xE0000001",
          "USBAUDIO_STATUS_FAILED\t\t= 0xE0000001"},
         true, int(size)},
        {"a driver that stops moving is given up", kFaultStall, 0, 8192, 0, false,
         {"USBAUDIO_STATUS_DFU_ABORTED\t\t= 0xE0001008"}, false, 8192},
        {"the card leaves the bus mid-download", kFaultDeviceLost, 0, 2048, 0, false,
         {"USBAUDIO_STATUS_NO_SUCH_DEVICE\t\t= 0xE0001002", "USBAUDIO_STATUS_NO_SUCH_DEVICE\t\t= 0xE0001002"}, false,
         2048},
        {"a block that reached the card changed fails its check", kFaultCorruptBlock, 0, 300, 0, false,
         {"USBAUDIO_STATUS_DFU_VERIFY_FAILED\t\t= 0xE0002002", "USBAUDIO_STATUS_DFU_VERIFY_FAILED\t\t= 0xE0002002"},
         false, int(size)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plat::posix::Facts().debugOutput.clear();
        const size_t logStart = run.Log().size();
        Config config = StudioConfig({{5, 30}});
        config.fault = c.fault;
        config.faultStatus = c.faultStatus;
        config.faultAtBytes = c.faultAtBytes;
        config.faultPolls = c.faultPolls;
        InProcessDriver usb(config);
        const Bytes image = MakeImage(size, 10, 0);
        ProgressSurface window;
        // Two minutes of polling go by in fewer, longer steps.
        plat::SetVirtualClockStep(c.fault == kFaultStall ? 1000 : 10);
        const uint64_t start = plat::ClockMicros();
        {
            CXCUSB card;
            ASSERT_TRUE(card.Open(0));
            EXPECT_EQ(card.ProgramEEPROM(image.data(), size, window, kProgressId), c.result);
        }
        EXPECT_EQ(plat::posix::Facts().debugOutput, c.reported);
        const std::string log = run.Log().substr(logStart);
        for (const std::string& line : c.reported) EXPECT_NE(log.find(line + "\n"), std::string::npos) << line;
        EXPECT_EQ(log.find("ProgramEEPROM DO-ZAZ Success!") != std::string::npos, c.result);
        if (c.lastPosition < 0) {
            EXPECT_EQ(window.rangeId, -1);
            EXPECT_TRUE(window.positions.empty());
        } else {
            EXPECT_EQ(window.high, int(size));
            ASSERT_FALSE(window.positions.empty());
            EXPECT_EQ(window.positions.back(), c.lastPosition);
        }
        const Card after = usb.CardState(0);
        EXPECT_EQ(after.major, c.takesImage ? 10 : 5);
        EXPECT_EQ(after.minor, c.takesImage ? 0 : 30);
        EXPECT_EQ(usb.Emulated().CardImage(0) == image, c.takesImage);
        EXPECT_EQ(usb.Emulated().CardImage(0).empty(), !c.takesImage);
        if (c.fault == kFaultStall) {
            EXPECT_NE(log.find("ProgramEEPROM DO-ZAZ no progress for"), std::string::npos);
            EXPECT_GE(plat::ClockMicros() - start, uint64_t{CXCUSB::kDfuStallMs} * 1000);
        }
        EXPECT_EQ(usb.GetCounters().openHandles, 0u);
        EXPECT_EQ(usb.References(), 0u);
    }
    plat::SetVirtualClockStep(10);
}

TEST_F(XCUSBTest, ADownloadWithNoImageBytesIsRefusedByTheDriver) {
    InProcessDriver usb(sim::usbcard::StudioConfig({{5, 30}}));
    CXCUSB card;
    ASSERT_TRUE(card.Open(0));
    ProgressSurface window;
    const Bytes image = MakeImage(kImage5V30Size, 5, 30);
    EXPECT_FALSE(card.ProgramEEPROM(image.data(), 0x100, window, kProgressId)) << "too short to carry its version";
    EXPECT_FALSE(card.ProgramEEPROM(nullptr, 100, window, kProgressId));
    EXPECT_EQ(plat::posix::Facts().debugOutput,
              std::vector<std::string>{"USBAUDIO_STATUS_INVALID_FIRMWARE_IMAGE\t\t= 0xE0001003"});
    EXPECT_EQ(usb.CardState(0).downloads, 0u);
}

}  // namespace
