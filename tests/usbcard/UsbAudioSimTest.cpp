// The emulated USB audio driver itself: the download's states on the device's
// clock, where the card finds the version of an image, refusals, and how a
// converter learns its DO-ZAZ card's new firmware.
#include <gtest/gtest.h>

#include "sim/OrvexUnit.h"
#include "sim/usbcard/InProcess.h"
#include "sim/usbcard/UsbAudioDriver.h"
#include "tests/usbcard/UsbCardTestSupport.h"
#include "usbcard/XCUSB.h"

namespace {

using namespace usbtest;
using namespace sim::usbcard;

struct Poll {
    uint32_t status, state, done, total, completion;
};

class UsbAudioSimTest : public ::testing::Test {
protected:
    RunScope run;
    Driver driver;  // a driver of its own, on the platform clock
    void SetUp() override { driver.SetClock(&plat::ClockMicros); }
    Poll Status() {
        Poll p{};
        p.status = driver.GetDfuStatus(&p.state, &p.done, &p.total, &p.completion);
        return p;
    }
    // Moves the clock to `micros` after the start of the procedure.
    void At(uint64_t start, uint64_t micros) {
        const uint64_t now = plat::ClockMicros();
        if (start + micros > now) plat::AdvanceVirtualClock(start + micros - now);
    }
};

TEST_F(UsbAudioSimTest, TheDownloadMovesThroughItsStatesOnTheDevicesClock) {
    Config config = StudioConfig({{5, 30}});
    config.timing = {1000, 256, 100, 5000, 2000};  // detach, block bytes, per block, manifest, re-attach (us)
    driver.Configure(config);
    ASSERT_EQ(driver.EnumerateDevices(), 0u);
    const Bytes image = MakeImage(1000, 7, 12);  // four blocks, the last one short
    ASSERT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), 1000, 0), 0u);
    const uint64_t start = plat::ClockMicros();
    ASSERT_EQ(driver.StartDfuDownload(0, 0, 0), 0u);

    struct Expect {
        uint64_t at;
        uint32_t state, done;
        uint8_t major;  // what the card runs by then
    };
    const Expect timeline[] = {
        {500, kDfuDetaching, 0, 5},       {1050, kDfuDownloading, 0, 5},    {1250, kDfuDownloading, 512, 5},
        {1350, kDfuDownloading, 768, 5},  {1450, kDfuManifesting, 1000, 5}, {6350, kDfuManifesting, 1000, 5},
        {6450, kDfuReattaching, 1000, 7}, {8450, kDfuFinished, 1000, 7},    {99999, kDfuFinished, 1000, 7},
    };
    for (const Expect& e : timeline) {
        SCOPED_TRACE(e.at);
        At(start, e.at);
        const Poll p = Status();
        EXPECT_EQ(p.status, 0u);
        EXPECT_EQ(p.state, e.state);
        EXPECT_EQ(p.done, e.done);
        EXPECT_EQ(p.total, 1000u);
        EXPECT_EQ(p.completion, 0u);
        Card card;
        ASSERT_TRUE(driver.GetCard(0, &card));
        EXPECT_EQ(card.major, e.major);
    }
    Card card;
    driver.GetCard(0, &card);
    EXPECT_EQ(card.minor, 12);
    EXPECT_EQ(driver.EndDfuProc(), 0u);
    EXPECT_EQ(driver.EndDfuProc(), uint32_t{kStatusNoDfu}) << "one end per procedure";
    EXPECT_EQ(Status().status, uint32_t{kStatusNoDfu});
}

TEST_F(UsbAudioSimTest, TheVersionIsReadWhereTheDriverIsToldItLies) {
    struct Case {
        uint32_t versionOffset, minorOffset;
    };
    for (const Case& c : {Case{0x110, 0x111}, Case{0, 1}, Case{0x20, 0x10}}) {
        SCOPED_TRACE(c.versionOffset);
        Config config = StudioConfig({{5, 30}});
        config.versionOffset = c.versionOffset;
        config.minorOffset = c.minorOffset;
        config.timing = {0, 4096, 1, 1, 1};
        driver.Configure(config);
        driver.EnumerateDevices();
        Bytes image = MakeImage(4096, 0, 0);
        image[c.versionOffset] = 9;
        image[c.minorOffset] = 41;
        ASSERT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), 4096, 0), 0u);
        ASSERT_EQ(driver.StartDfuDownload(0, 0, 0), 0u);
        plat::AdvanceVirtualClock(1000);
        EXPECT_EQ(Status().state, uint32_t{kDfuFinished});
        EXPECT_EQ(driver.EndDfuProc(), 0u);
        Card card;
        driver.GetCard(0, &card);
        EXPECT_EQ(card.major, 9);
        EXPECT_EQ(card.minor, 41);
        usbaudio::USBAUDIO_HANDLE h = 0;
        ASSERT_EQ(driver.OpenDeviceByIndex(0, &h), 0u);
        usbaudio::USBAUDIO_DEVICE_PROPERTIES properties{};
        ASSERT_EQ(driver.GetDeviceProperties(h, &properties), 0u);
        EXPECT_EQ(properties.releaseNumber, 0x0929u) << "the device reports what it runs";
    }
}

TEST_F(UsbAudioSimTest, RefusalsOfTheDriver) {
    Config config = StudioConfig({{5, 30}, {10, 0}});
    config.maxImageBytes = 64 * 1024;
    driver.Configure(config);
    const Bytes image = MakeImage(kImage5V30Size, 5, 30);
    usbaudio::USBAUDIO_HANDLE h = 0;

    // Nothing is found before enumeration.
    EXPECT_EQ(driver.GetDeviceCount(), 0u);
    EXPECT_EQ(driver.OpenDeviceByIndex(0, &h), uint32_t{kStatusNoSuchDevice});
    EXPECT_EQ(driver.EnumerateDevices(), 0u);
    EXPECT_EQ(driver.GetDeviceCount(), 2u);
    EXPECT_EQ(driver.OpenDeviceByIndex(2, &h), uint32_t{kStatusNoSuchDevice});

    // Images.
    EXPECT_EQ(driver.StartDfuDownload(0, 0, 0), uint32_t{kStatusNoImage});
    EXPECT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), 0x111, 0), uint32_t{kStatusBadImage});
    EXPECT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), 64 * 1024 + 1, 0), uint32_t{kStatusBadImage});
    EXPECT_EQ(driver.LoadFirmwareImageFromBuffer(nullptr, 100, 0), uint32_t{kStatusInvalidParameter});
    ASSERT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), uint32_t(image.size()), 0), 0u);
    uint32_t size = 0;
    EXPECT_EQ(driver.GetFirmwareImageSize(&size), 0u);
    EXPECT_EQ(size, kImage5V30Size);
    EXPECT_EQ(driver.StartDfuDownload(2, 0, 0), uint32_t{kStatusNoSuchDevice});

    // One procedure at a time; its image stays put while it runs; an early end breaks it off.
    ASSERT_EQ(driver.StartDfuDownload(1, 0, 0), 0u);
    EXPECT_EQ(driver.StartDfuDownload(0, 0, 0), uint32_t{kStatusDfuBusy});
    EXPECT_EQ(driver.LoadFirmwareImageFromBuffer(image.data(), uint32_t(image.size()), 0), uint32_t{kStatusDfuBusy});
    EXPECT_EQ(driver.UnloadFirmwareImage(), uint32_t{kStatusDfuBusy});
    plat::AdvanceVirtualClock(2'000'000);
    EXPECT_EQ(Status().state, uint32_t{kDfuDownloading});
    EXPECT_EQ(driver.EndDfuProc(), uint32_t{kStatusDfuAborted});
    Card card;
    driver.GetCard(1, &card);
    EXPECT_EQ(card.major, 10) << "an aborted download leaves the card's firmware";
    EXPECT_EQ(card.downloads, 0u);

    // Handles.
    usbaudio::USBAUDIO_HANDLE a = 0, b = 0;
    ASSERT_EQ(driver.OpenDeviceByIndex(0, &a), 0u);
    ASSERT_EQ(driver.OpenDeviceByIndex(0, &b), 0u);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(driver.GetCounters().openHandles, 2u);
    EXPECT_EQ(driver.CloseDevice(a), 0u);
    EXPECT_EQ(driver.CloseDevice(a), uint32_t{kStatusInvalidHandle});
    EXPECT_EQ(driver.SetSampleRate(a, 48000), uint32_t{kStatusInvalidHandle});

    // Rates.
    uint32_t rates[8] = {}, count = 0;
    EXPECT_EQ(driver.GetSupportedSampleRates(b, 2, rates, &count), uint32_t{kStatusBufferTooSmall});
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(driver.GetSupportedSampleRates(b, 8, rates, &count), 0u);
    EXPECT_EQ(rates[5], 192000u);
    EXPECT_EQ(driver.SetSampleRate(b, 32000), uint32_t{kStatusRateUnsupported});
    driver.SetStreamsActive(0, true);
    EXPECT_EQ(driver.SetSampleRate(b, 44100), usbaudio::USBAUDIO_STATUS_STREAMS_ACTIVE);
    EXPECT_EQ(driver.SetUsbStreamingMode(b, 1), usbaudio::USBAUDIO_STATUS_STREAMS_ACTIVE);
    driver.SetStreamsActive(0, false);
    EXPECT_EQ(driver.SetSampleRate(b, 44100), 0u);
    uint32_t rate = 0;
    EXPECT_EQ(driver.GetCurrentSampleRate(b, &rate), 0u);
    EXPECT_EQ(rate, 44100u);

    // Texts of statuses, narrow and wide alike.
    EXPECT_STREQ(driver.StatusCodeStringA(0xE0001001), "USBAUDIO_STATUS_STREAMS_ACTIVE");
    EXPECT_EQ(std::u16string(driver.StatusCodeStringW(0xE0001001)), u"USBAUDIO_STATUS_STREAMS_ACTIVE");
    EXPECT_STREQ(driver.StatusCodeStringA(0x12345678), "USBAUDIO_STATUS_UNKNOWN");
}

TEST_F(UsbAudioSimTest, CustomIniMissingIsReportedButTheDevicesAreFound) {
    Config config = StudioConfig({{5, 30}});
    config.customIniMissing = 1;
    driver.Configure(config);
    EXPECT_EQ(driver.EnumerateDevices(), usbaudio::USBAUDIO_STATUS_CUSTOM_INI_MISSING);
    EXPECT_EQ(driver.GetDeviceCount(), 1u);
}

// The converter reads its DO-ZAZ card's revision from the card: after a
// download over USB it shows the new one once powered off and on.
TEST_F(UsbAudioSimTest, TheConverterShowsItsCardsNewFirmwareAfterAPowerCycle) {
    sim::OrvexUnit::Config unitConfig;
    unitConfig.revisionOffset = 0x110;
    unitConfig.bankRevision = {28, 28};
    unitConfig.card = DoZazSlot({5, 30});
    sim::OrvexUnit unit(unitConfig);
    EXPECT_EQ(unit.Register(16), 50);
    EXPECT_EQ(unit.Register(17), 5);
    EXPECT_EQ(unit.Register(20), 30);

    InProcessDriver usb(StudioConfig({{5, 30}}));
    usb.AttachUnit(0, unit);
    plat::SetVirtualClockStep(250);  // the device keeps its pace; fewer polls under Wine
    {
        orvex::CXCUSB card;
        ASSERT_TRUE(card.Open(0));
        ProgressSurface window;
        const Bytes image = MakeImage(kImage10V00Size, 10, 0);
        ASSERT_TRUE(card.ProgramEEPROM(image.data(), kImage10V00Size, window, kProgressId));
    }
    plat::SetVirtualClockStep(10);
    EXPECT_EQ(unit.Register(17), 5) << "until the power cycle the unit shows what it read at power-on";
    unit.PowerCycle(plat::ClockMicros());
    EXPECT_EQ(unit.Register(17), 10);
    EXPECT_EQ(unit.Register(20), 0);
    EXPECT_EQ(unit.Register(10) & 0x3F, 28) << "the unit's own firmware is not touched";
}

}  // namespace
