// CXCUSB through the system's loader against the stand-in library file, put
// where the driver would install it: natively a shared object under a drive
// stand-in, under Wine the DLL in the prefix's Program Files. The library is
// set up through its control exports; the clock it runs on is ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "platform/Platform.h"
#include "sim/usbcard/UsbAudioSim.h"
#include "tests/usbcard/StubEnv.h"
#include "tests/usbcard/UsbCardTestSupport.h"
#include "usbcard/XCUSB.h"

namespace {

using namespace usbtest;
using orvex::CXCUSB;

const std::string kFirst = "C:\\Program Files\\Corvane\\DO-ZAZ Audio Driver\\usbaudioapi.dll";
const std::string kSecond = "C:\\Program Files\\Corvane\\DO-ZAZ Audio Driver\\xcusbaudapi.dll";
const std::string kThird = "C:\\Program Files\\Harken\\Relay 4x4 Driver\\harkenaudapi.dll";

// The library as the test holds it: its own reference and its control exports.
struct Control {
    plat::LibraryHandle library = nullptr;
    UsbSim_ConfigureFn configure = nullptr;
    UsbSim_GetCardFn getCard = nullptr;
    UsbSim_GetCountersFn getCounters = nullptr;
    UsbSim_SetClockFn setClock = nullptr;

    explicit Control(const std::string& path) {
        library = plat::LoadLibrary(path);
        if (!library) return;
        configure = reinterpret_cast<UsbSim_ConfigureFn>(plat::GetProcAddress(library, "UsbSim_Configure"));
        getCard = reinterpret_cast<UsbSim_GetCardFn>(plat::GetProcAddress(library, "UsbSim_GetCard"));
        getCounters = reinterpret_cast<UsbSim_GetCountersFn>(plat::GetProcAddress(library, "UsbSim_GetCounters"));
        setClock = reinterpret_cast<UsbSim_SetClockFn>(plat::GetProcAddress(library, "UsbSim_SetClock"));
    }
    bool Ready() const { return library && configure && getCard && getCounters && setClock; }
    void Setup(const sim::usbcard::Config& config) {
        configure(&config);
        setClock(&plat::ClockMicros);
    }
    sim::usbcard::Card Card(uint32_t index) {
        sim::usbcard::Card card;
        getCard(index, &card);
        return card;
    }
    sim::usbcard::Counters Counters() {
        sim::usbcard::Counters counters;
        getCounters(&counters);
        return counters;
    }
    void Release() {
        if (!library) return;
        setClock(nullptr);  // our clock must not outlive us inside it
        plat::FreeLibrary(library);
        library = nullptr;
    }
    ~Control() { Release(); }
};

sim::usbcard::Config OneCard(uint8_t major, uint8_t minor) {
    sim::usbcard::Config config;
    config.cards[0].major = major;
    config.cards[0].minor = minor;
    return config;
}

class StubLibraryTest : public ::testing::Test {
protected:
    RunScope run;
    Boxes boxes;
    void SetUp() override {
        stubenv::SetUp(run.dir.path);
        // The device keeps its own pace; fewer, longer steps of the clock
        // spare Wine a few hundred thousand message-queue peeks per download.
        plat::SetVirtualClockStep(250);
    }
    void TearDown() override {
        plat::SetVirtualClockStep(10);
        stubenv::TearDown();
    }
};

TEST_F(StubLibraryTest, TheSearchLooksInTheNativeProgramFiles) {
    EXPECT_EQ(CXCUSB::ProgramFilesDirectory(), "C:\\Program Files");
    EXPECT_EQ(CXCUSB::LibraryPaths()[0], kFirst);
    EXPECT_EQ(CXCUSB::LibraryPaths()[2], kThird);
}

TEST_F(StubLibraryTest, OnlyTheThirdLibraryIsFoundAfterTwoMisses) {
    ASSERT_TRUE(stubenv::Place(kThird));
    {
        Control control(kThird);
        ASSERT_TRUE(control.Ready());
        control.Setup(OneCard(5, 30));
        CXCUSB card;
        ASSERT_TRUE(card.Open(0));
        EXPECT_EQ(control.Counters().openHandles, 1u);
        card.Close();
        EXPECT_EQ(control.Counters().openHandles, 0u);
    }
    EXPECT_FALSE(stubenv::IsLoaded(kThird)) << "CXCUSB gave the library back";
    const std::string log = run.Log();
    const size_t first = log.find("DO-ZAZ: Unable to locate [" + kFirst + "]!\n");
    const size_t second = log.find("DO-ZAZ: Unable to locate [" + kSecond + "]!\n");
    const size_t opened = log.find("DO-ZAZ: Opened [" + kThird + "]\n");
    ASSERT_NE(first, std::string::npos) << log;
    ASSERT_NE(second, std::string::npos) << log;
    ASSERT_NE(opened, std::string::npos) << log;
    EXPECT_LT(first, second);
    EXPECT_LT(second, opened);
    EXPECT_EQ(Count(log, "Unable to locate"), 2u);
    EXPECT_NE(log.find("APIVERSION 00030002"), std::string::npos);
    EXPECT_NE(log.find("Driver 3.14.2"), std::string::npos);
    EXPECT_NE(log.find("Found DO-ZAZ [Corvane] [DO-ZAZ] [DZ000001]"), std::string::npos);
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(StubLibraryTest, ALibraryWithoutStartDfuUploadIsRefusedWithItsName) {
    ASSERT_TRUE(stubenv::Place(kFirst, true));
    {
        CXCUSB card;
        EXPECT_FALSE(card.Open(0));
        EXPECT_TRUE(stubenv::IsLoaded(kFirst)) << "loaded until Close";
    }
    EXPECT_FALSE(stubenv::IsLoaded(kFirst));
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, "GetProcAddress failed");
    EXPECT_EQ(boxes.seen[0].caption, "USBAUDIO_StartDfuUpload");
}

TEST_F(StubLibraryTest, TheMissingCustomIniIsShownAndOpenGoesOn) {
    ASSERT_TRUE(stubenv::Place(kFirst));
    Control control(kFirst);
    ASSERT_TRUE(control.Ready());
    sim::usbcard::Config config = OneCard(5, 30);
    config.customIniMissing = 1;
    control.Setup(config);
    CXCUSB card;
    EXPECT_TRUE(card.Open(0));
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, "Unable to locate \"custom.ini\" file!");
    EXPECT_EQ(boxes.seen[0].caption, "DO-ZAZ");
    EXPECT_FALSE(card.Open(1)) << "one device: index 1 is out of range";
    EXPECT_NE(run.Log().find("CXCUSB::Open Failure! No Devices Found!"), std::string::npos);
}

TEST_F(StubLibraryTest, BothImagesGoIntoTheCardThroughTheLibrary) {
    struct Case {
        uint32_t size;
        uint8_t major, minor, fromMajor, fromMinor;
    };
    ASSERT_TRUE(stubenv::Place(kFirst));
    for (const Case& c : {Case{kImage10V00Size, 10, 0, 5, 30}, Case{kImage5V30Size, 5, 30, 10, 0}}) {
        SCOPED_TRACE(c.size);
        {
            Control control(kFirst);
            ASSERT_TRUE(control.Ready());
            control.Setup(OneCard(c.fromMajor, c.fromMinor));
            ProgressSurface window;
            const Bytes image = MakeImage(c.size, c.major, c.minor);
            {
                CXCUSB card;
                ASSERT_TRUE(card.Open(0));
                EXPECT_TRUE(card.ProgramEEPROM(image.data(), c.size, window, kProgressId));
                uint32_t hertz = 0;
                EXPECT_EQ(card.SetSampleRate(88200), 0u);
                EXPECT_EQ(card.GetSampleRate(&hertz), 0u);
                EXPECT_EQ(hertz, 88200u);
            }
            EXPECT_EQ(window.high, int(c.size));
            ASSERT_FALSE(window.positions.empty());
            EXPECT_EQ(window.positions.back(), int(c.size));
            EXPECT_TRUE(std::is_sorted(window.positions.begin(), window.positions.end()));
            const sim::usbcard::Card after = control.Card(0);
            EXPECT_EQ(after.major, c.major);
            EXPECT_EQ(after.minor, c.minor);
            EXPECT_EQ(after.downloads, 1u);
            EXPECT_EQ(control.Counters().imageBytes, c.size);
            EXPECT_EQ(control.Counters().openHandles, 0u);
        }
        EXPECT_FALSE(stubenv::IsLoaded(kFirst));
    }
    const std::string log = run.Log();
    EXPECT_EQ(Count(log, "ProgramEEPROM DO-ZAZ Success!"), 2u);
}

TEST_F(StubLibraryTest, State6EndsTheDownloadAndTheEndOfTheProcedureDecides) {
    struct Case {
        const char* name;
        uint32_t fault, completion, atBytes;
        bool result;
        uint8_t majorAfter;
        size_t reports;  // lines with the completion status
    };
    using namespace sim::usbcard;
    const Case cases[] = {
        {"a block refused: the end fails too", kFaultFailDuringDownload, kStatusDfuBlockRejected, 1024, false, 5, 2},
        {"the card took the image but came back late", kFaultFailAfterCommit, kStatusDfuNoReattach, 0, true, 10, 1},
    };
    ASSERT_TRUE(stubenv::Place(kFirst));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logStart = run.Log().size();
        Control control(kFirst);
        ASSERT_TRUE(control.Ready());
        Config config = OneCard(5, 30);
        config.fault = c.fault;
        config.faultStatus = c.completion;
        config.faultAtBytes = c.atBytes;
        control.Setup(config);
        ProgressSurface window;
        const Bytes image = MakeImage(kImage10V00Size, 10, 0);
        {
            CXCUSB card;
            ASSERT_TRUE(card.Open(0));
            EXPECT_EQ(card.ProgramEEPROM(image.data(), kImage10V00Size, window, kProgressId), c.result);
        }
        EXPECT_EQ(window.positions.back(), c.atBytes ? int(c.atBytes) : int(kImage10V00Size));
        EXPECT_EQ(control.Card(0).major, c.majorAfter);
        char line[96];
        std::snprintf(line, sizeof line, "\t\t= 0x%08X\n", static_cast<unsigned>(c.completion));
        const std::string log = run.Log().substr(logStart);
        EXPECT_EQ(Count(log, line), c.reports) << log;
        EXPECT_EQ(log.find("ProgramEEPROM DO-ZAZ Success!") != std::string::npos, c.result);
    }
}

}  // namespace
