// The adapter binding with the stand-in driver library loaded by name, as the
// program loads it: "PelkWDM.Dll" beside the executable under Wine, and its
// native twin "PelkWDM.so" in the native build. Its cards are counted and
// described, and one is prepared and programmed through the library.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "adapter/MixerAPI.h"
#include "adapter/OrvexMixer.h"
#include "common/Log.h"
#include "platform/Platform.h"
#include "sim/adapter/AdapterStudio.h"
#include "sim/adapter/PelkWDM.h"
#include "tests/support/TempDir.h"

#ifdef ORVEX_STAND_IN_DIR
#include "platform/posix/PosixSystem.h"
#endif

namespace {

using orvex::COrvexMixer;
using orvex::kStatusSuccess;

class StandInLibrary : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    plat::LibraryHandle library = nullptr;
    PelkSimResetFn reset = nullptr;
    PelkSimAddCardFn addCard = nullptr;
    PelkSimSetClockFn setClock = nullptr;
    PelkSimPowerCycleFn powerCycle = nullptr;
    std::vector<std::string> boxes;

    void SetUp() override {
#ifdef ORVEX_STAND_IN_DIR
        // The native program "lives" beside the shared object.
        plat::posix::Facts().modulePath = std::string(ORVEX_STAND_IN_DIR) + "/standin_tests";
#endif
        plat::UseVirtualClock(true);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back(caption + ": " + text);
            return plat::id::Ok;
        });
        library = plat::LoadLibrary("PelkWDM.Dll");
        ASSERT_NE(library, nullptr) << "the stand-in library is not beside the program";
        reset = reinterpret_cast<PelkSimResetFn>(plat::GetProcAddress(library, "PelkSimReset"));
        addCard = reinterpret_cast<PelkSimAddCardFn>(plat::GetProcAddress(library, "PelkSimAddCard"));
        setClock = reinterpret_cast<PelkSimSetClockFn>(plat::GetProcAddress(library, "PelkSimSetClock"));
        powerCycle = reinterpret_cast<PelkSimPowerCycleFn>(plat::GetProcAddress(library, "PelkSimPowerCycle"));
        ASSERT_TRUE(reset && addCard && setClock && powerCycle);
        setClock(plat::ClockMicros);  // the library's cards keep the test's time
        reset(1);
        ASSERT_TRUE(sim::UseStandInDllDevices());
    }
    void TearDown() override {
        sim::StopUsingStandInDllDevices();
        if (setClock) setClock(nullptr);
        if (library) plat::FreeLibrary(library);
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
#ifdef ORVEX_STAND_IN_DIR
        plat::posix::Facts().modulePath.clear();
#endif
    }
    std::unique_ptr<COrvexMixer> Open(uint16_t* count) {
        auto mixer = std::make_unique<COrvexMixer>();
        EXPECT_EQ(mixer->Open(), kStatusSuccess);
        EXPECT_EQ(mixer->GetNumConnections(count), kStatusSuccess);
        return mixer;
    }
    static std::string Describe(COrvexMixer& mixer, uint16_t connection, uint8_t* id = nullptr) {
        char text[256] = {};
        uint8_t product = 0;
        if (mixer.GetConnectionDescription(connection, text, sizeof text, &product) != kStatusSuccess) return "(failed)";
        if (id) *id = product;
        return text;
    }
};

TEST_F(StandInLibrary, TheDriverLibraryBindsFirstAndTheWinMMFallbackIsNotTried) {
    orvex::CMixerAPI api;
    EXPECT_TRUE(api.IsBound());
    EXPECT_TRUE(api.DriverFirst());
    EXPECT_NE(api.Library(), nullptr);
    EXPECT_EQ(api.GetNumDevs(), 3u);
    mixer::MIXERCAPSA caps{};
    ASSERT_EQ(api.GetDevCaps(0, &caps), mixer::MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Pelk Tarsel-X Mixer");
    EXPECT_EQ(caps.cDestinations, 2u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StandInLibrary, CountsItsCardsAndDescribesThem) {
    uint16_t count = 0;
    auto mixer = Open(&count);
    EXPECT_EQ(count, 2) << "the Tavi on the third card is not counted";
    uint8_t id = 0;
    EXPECT_EQ(Describe(*mixer, 0, &id), "Orvex 16 on Pelk Tarsel-X in PCI Slot 3");
    EXPECT_EQ(id, 38);
    EXPECT_EQ(Describe(*mixer, 1, &id), "Orvex 8 on Pelk Tarsel-XR at Bus 2, Device 0");
    EXPECT_EQ(id, 39);

    ASSERT_EQ(mixer->SelectConnection(1), kStatusSuccess);
    uint8_t b = 0;
    mixer->GetDeviceID(&b);
    EXPECT_EQ(b, 39);
    uint32_t value = 0;
    ASSERT_TRUE(orvex::ReadAdapterControl(*mixer, "Device ID", &value));
    EXPECT_EQ(value, adapter::kModelTarselXR);
    ASSERT_TRUE(orvex::ReadAdapterControl(*mixer, "Firmware Rev", &value));
    EXPECT_EQ(value, 23u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(StandInLibrary, ThroughTheSystemTheCardsDeviceIsNotThere) {
    // The program's own device path: CreateFile of "\\\\.\\C2Mixer0", which no system here has.
    sim::StopUsingStandInDllDevices();
    uint16_t count = 0;
    auto mixer = Open(&count);
    ASSERT_EQ(count, 2) << "the mixer functions still come from the library";
    char text[256] = "x";
    EXPECT_EQ(mixer->GetConnectionDescription(0, text, sizeof text, nullptr), orvex::kStatusFailure);
    EXPECT_TRUE(boxes.empty()) << "a device that does not open is no reason for a box";
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    EXPECT_EQ(mixer->PrepareForProgramming(), orvex::kStatusFailure);
    EXPECT_EQ(boxes, std::vector<std::string>{"COrvexMixer: Unable to locate the Pelk driver!"});
}

TEST_F(StandInLibrary, CardsSetUpThroughTheLibrary) {
    reset(0);
    sim::AdapterCard::Config card;
    sim::OrvexUnit::Config unit;
    card.model = adapter::kModelTarselXR;
    card.slot = 0;
    card.bus = 4;
    card.device = 1;
    unit.deviceId = 128;
    EXPECT_EQ(addCard(&card, &unit), 0);
    card.model = adapter::kModelTarsel;
    card.firmware = 20;
    card.slot = 2;
    unit.deviceId = 38;
    unit.modelBits = 0x80;  // "/1824"
    EXPECT_EQ(addCard(&card, &unit), 1);
    card.model = adapter::kModelTarselR;
    EXPECT_EQ(addCard(&card, nullptr), 2) << "a card with nothing on its cable";

    uint16_t count = 0;
    auto mixer = Open(&count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(Describe(*mixer, 0), "Relay 4x4 on Pelk Tarsel-XR at Bus 4, Device 1");
    ASSERT_EQ(mixer->SelectConnection(1), kStatusSuccess);
    EXPECT_EQ(Describe(*mixer, 1), "Orvex 16/1824 on Pelk Tarsel in PCI Slot 2");
    uint32_t value = 0;
    ASSERT_TRUE(orvex::ReadAdapterControl(*mixer, "Firmware Rev", &value));
    EXPECT_EQ(value, 20u);
}

TEST_F(StandInLibrary, AConverterBehindTheLibraryIsPreparedProgrammedAndBootsTheNewImage) {
    reset(0);
    sim::AdapterCard::Config card;
    sim::OrvexUnit::Config unit;
    unit.deviceId = 38;
    unit.revisionOffset = 0x110;
    unit.bankRevision = {28, 28};
    ASSERT_EQ(addCard(&card, &unit), 0);
    uint16_t count = 0;
    auto mixer = Open(&count);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    EXPECT_TRUE(boxes.empty());

    std::vector<uint8_t> image(64 * 128);
    std::mt19937 rng(11);
    for (auto& byte : image) byte = static_cast<uint8_t>(rng());
    image[0x110] = 30;
    auto wait = [&](bool verify) {
        if (mixer->WaitForResponse(4) != kStatusSuccess) return uint8_t{0x20};
        const uint32_t start = plat::GetTickCount();
        for (;;) {
            uint8_t s = 0;
            mixer->GetProgrammingStatus(&s);
            s &= 0x3F;
            if (verify ? (s & 0x0E) != 0 : ((s & 0x06) != 0 || s == 0)) return s;
            if (plat::GetTickCount() - start > (verify ? 1000u : 12000u)) return uint8_t{0x20};
            plat::Sleep(5);
        }
    };
    ASSERT_EQ(mixer->SelectXSlotFirmware(0), kStatusSuccess);
    ASSERT_EQ(mixer->SelectAlternateBank(), kStatusSuccess);
    ASSERT_EQ(mixer->WaitForResponse(4), kStatusSuccess);
    ASSERT_EQ(mixer->EraseAlternateBank(), kStatusSuccess);
    ASSERT_EQ(wait(false), 0);
    for (size_t k = 0; k < image.size() / 128; ++k) {
        ASSERT_EQ(mixer->WriteFirmwarePacket(&image[k * 128], 128), kStatusSuccess);
        ASSERT_EQ(wait(false), 0) << k;
    }
    for (size_t k = 0; k < image.size() / 128; ++k) {
        ASSERT_EQ(mixer->RequestVerifyPacket(), kStatusSuccess);
        ASSERT_EQ(wait(true), 0x08) << k;
        uint8_t back[128] = {};
        ASSERT_EQ(mixer->ReadVerifyPacket(back, 128), kStatusSuccess);
        ASSERT_EQ(std::memcmp(back, &image[k * 128], 128), 0) << k;
    }
    ASSERT_EQ(mixer->SetProgrammingComplete(), kStatusSuccess);

    ASSERT_EQ(powerCycle(0), 1);
    plat::AdvanceVirtualClock(10'000);
    mixer = Open(&count);
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    uint8_t revision = 0;
    mixer->GetFirmwareRevision(&revision);
    EXPECT_EQ(revision, 30);
}

}  // namespace

#include "tests/support/RecorderSurface.h"
#include "updater/ProgramMain.h"

namespace {

// The program's own discovery, with its own factories: the adapter card's
// driver library is bound first, its converters counted and listed.
TEST_F(StandInLibrary, TheProgramsDiscoveryListsTheCardsConverters) {
    RecorderSurface surface;
    COrvexUpdateDlg dlg("", ProgramFactories());
    dlg.OnInitDialog(surface);
    EXPECT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 on Pelk Tarsel-X in PCI Slot 3",
                                                      "Orvex 8 on Pelk Tarsel-XR at Bus 2, Device 0"}));
    dlg.OnDestroy();
    orvex::LogClose();
    const std::string log = ReadFileText(dir / "OrvexUpdate.log");
    EXPECT_NE(log.find("Found Orvex Using Tarsel. Number Of Connections: 2"), std::string::npos) << log;
}

}  // namespace
