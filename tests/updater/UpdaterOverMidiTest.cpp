// The main window through the real remote path: COrvexRemote over the MIDI
// transport and the virtual MIDI system, emulated units from the simulated
// studio's scenarios, the embedded images of the real build, virtual time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>

#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "resources/resource.h"
#include "sim/studio/Studio.h"
#include "tests/support/EmbeddedImages.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "transport/OrvexMIDI.h"
#include "unitcontrol/OrvexRemote.h"
#include "updater/OrvexUpdateDlg.h"
#include "updater/ProgramMain.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
Bytes RawImage(const std::string& name) { return ReadBytes(std::string(ORVEX_RAW_IMAGE_DIR) + "/" + name); }

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// What a bank must hold after an image was written into it: the image, the
// zeros that padded its last packet, and erased flash after that.
Bytes Written(const Bytes& image, size_t flashSize) {
    Bytes flash(flashSize, 0xFF);
    const size_t padded = (image.size() + 127) / 128 * 128;
    std::fill(flash.begin(), flash.begin() + long(padded), 0);
    std::copy(image.begin(), image.end(), flash.begin());
    return flash;
}

class MidiStudioTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    RecorderSurface surface;
    std::unique_ptr<sim::Studio> studio;
    std::unique_ptr<COrvexUpdateDlg> dlg;
    // Every box, owned by the window or not, in order; answered from `answers`.
    std::vector<RecordedBox> boxes;
    std::deque<int> answers;

    void SetUp() override {
        plat::UseVirtualClock(true);
        InstallEmbeddedImages();
        plat::posix::SetString(IDS_ABOUTBOX, IDS_ABOUTBOX_TEXT);
        setenv("TMPDIR", dir.path.c_str(), 1);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            if (answers.empty()) return plat::DefaultAnswer(type);
            int a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    void TearDown() override {
        if (dlg) dlg->OnDestroy();
        dlg.reset();
        studio.reset();
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
        plat::posix::ResetFacts();
        unsetenv("TMPDIR");
    }
    static sim::Scenario Scenario(const std::string& name) {
        sim::Scenario s;
        std::string error;
        EXPECT_TRUE(sim::LoadScenario(name, &s, &error)) << error;
        return s;
    }
    void Open(const sim::Scenario& scenario, const std::string& commandLineFile = "",
              UnitControlFactories factories = ProgramFactories()) {
        studio = std::make_unique<sim::Studio>(scenario);
        studio->Install();
        dlg = std::make_unique<COrvexUpdateDlg>(commandLineFile.c_str(), std::move(factories));
        dlg->OnInitDialog(surface);
    }
    void Select(int entry) {
        surface.selection = entry;
        dlg->OnCommand(IDC_UNITS, plat::kCbnSelChange);
    }
    sim::OrvexUnit& Unit(size_t i = 0) { return studio->Unit(i); }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
    bool Shown(int id) { return surface.visible[id]; }
    std::string Text(int id) { return surface.texts[id]; }
};

TEST_F(MidiStudioTest, TheDefaultStudioIsShownAndUpdatedAndBootsTheNewImage) {
    Open(Scenario("default"));
    ASSERT_FALSE(surface.ended);
    EXPECT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 connected via Studio A Out"}));
    EXPECT_EQ(Text(IDC_SERIAL), "2612150123");
    EXPECT_EQ(Text(IDC_MANUFACTURE_DATE), "Apr 09, 2012");  // week 15: day 99
    EXPECT_EQ(Text(IDC_PCBREV), "B");
    EXPECT_EQ(Text(IDC_CURRENT_VERSION), "28");
    EXPECT_EQ(Text(IDC_CURRENT_DATE), "Apr 17, 2013");
    EXPECT_EQ(Text(IDC_ALT_VERSION), "28");
    EXPECT_EQ(Text(IDC_ALT_DATE), "Apr 17, 2013");
    EXPECT_EQ(Text(IDC_NEW_VERSION), "31");
    EXPECT_EQ(Text(IDC_NEW_DATE), "Jan 01, 2014");
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "OVF031B.BIN");
    EXPECT_EQ(surface.fonts[IDC_SERIAL].weight, 700);
    EXPECT_TRUE(Shown(IDC_UPDATE));
    const Bytes running = Unit().Flash(false, 0);

    dlg->OnCommand(IDC_UPDATE, 0);
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text, "About to program the Orvex 16 connected via Studio A Out with Firmware Version 31");
    EXPECT_EQ(surface.boxes[0].caption, "Firmware Update Confirmation");
    EXPECT_EQ(surface.boxes[0].type, plat::mb::OkCancel | plat::mb::DefButton2 | plat::mb::IconWarning);
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS)) << "Done view";
    EXPECT_TRUE(Shown(plat::kIdOk));
    EXPECT_FALSE(Shown(IDC_UPDATE));
    EXPECT_EQ(Text(IDC_PROGRAMMING), "Verifying Firmware...");

    const Bytes image = RawImage("OVF031B.BIN");
    ASSERT_EQ(image.size(), 212392u);
    EXPECT_TRUE(Unit().Flash(false, 1) == Written(image, Unit().Flash(false, 1).size())) << "bank 2 holds the image";
    EXPECT_TRUE(Unit().Flash(false, 0) == running) << "the running bank is untouched";
    EXPECT_EQ(Unit().LastUpdate().written, 1660u);
    EXPECT_EQ(Unit().LastUpdate().readBack, 1660u);
    EXPECT_FALSE(std::filesystem::exists(dir / "OVF031B.BIN")) << "the expanded image is removed";

    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningBank(), 1);
    EXPECT_EQ(Unit().RunningRevision(false), 31);
    ASSERT_EQ(studio->Summaries().size(), 1u);
    EXPECT_EQ(studio->Summaries()[0].find("Orvex 16 on \"Studio A\", firmware 28 -> 31, 1660 packets written and 1660 "
                                          "verified"),
              0u)
        << studio->Summaries()[0];

    const std::string log = Log();
    const char* order[] = {"Found Orvex MIDI/IrDA. Number Of Connections: 1",
                           "Found Orvex 16 connected via Studio A Out",
                           "SerialNumber: 2612150123",
                           "Bank 1 is Active",
                           "Current Firmware: 28",
                           "Found [OVF031B.BIN] for Device [26]",
                           "New Firmware: 31 OVF031B.BIN",
                           "OnUpdate",
                           "About to program the Orvex 16 connected via Studio A Out with Firmware Version 31",
                           "ProgramEEPROM",
                           "Erasing Alternate Firmware",
                           "SelectXSlotFirmware 0",
                           "SelectAlternateBank",
                           "Start Erase",
                           "Erase Complete",
                           "Programming 1660 Packets",
                           "Verifying 1660 Packets",
                           "Verify Complete",
                           "EEPROM Programming Success",
                           "Simulated studio: power cycle: Orvex 16 on \"Studio A\" boots bank 2, firmware 31"};
    size_t at = 0;
    for (const char* line : order) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        at = found;
    }
}

TEST_F(MidiStudioTest, AUnitRunningBankTwoIsWrittenInBankOneAndCompletedWithCommandEight) {
    Open(Scenario("bank2-running"));
    EXPECT_EQ(Text(IDC_CURRENT_VERSION), "28");
    EXPECT_EQ(Text(IDC_ALT_VERSION), "26");
    EXPECT_EQ(Text(IDC_ALT_DATE), "Feb 01, 2012");
    const Bytes running = Unit().Flash(false, 1);
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    EXPECT_TRUE(Unit().Flash(false, 0) == Written(RawImage("OVF031B.BIN"), running.size()));
    EXPECT_TRUE(Unit().Flash(false, 1) == running);
    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningBank(), 0);
    EXPECT_EQ(Unit().RunningRevision(false), 31);
    const std::string log = Log();
    EXPECT_NE(log.find("Bank 2 is Active"), std::string::npos);
    EXPECT_NE(log.find("Active Bank is 2, Selecting Bank 1"), std::string::npos);
}

TEST_F(MidiStudioTest, ACardEntryShowsTheCardAndItsImageGoesIntoTheCard) {
    Open(Scenario("di-zo"));
    ASSERT_EQ(surface.list.size(), 2u);
    EXPECT_EQ(surface.list[1], "DI-ZO in Orvex 16 connected via Studio A Out");
    EXPECT_TRUE(Shown(IDC_ALT_VERSION));
    Select(1);
    EXPECT_TRUE(dlg->XSlotSelected());
    EXPECT_EQ(std::string(dlg->UnitDescription()), "DI-ZO in Orvex 16 connected via Studio A Out");
    for (int id : {IDC_ALT_VERSION_LABEL, IDC_ALT_VERSION, IDC_ALT_DATE, IDC_ALT_DATE_LABEL})
        EXPECT_FALSE(Shown(id)) << id;
    EXPECT_EQ(Text(IDC_SERIAL), "");
    EXPECT_EQ(Text(IDC_CURRENT_VERSION), "13");
    EXPECT_EQ(Text(IDC_CURRENT_DATE), "Dec 20, 2017");
    EXPECT_EQ(Text(IDC_NEW_VERSION), "15");
    EXPECT_EQ(Text(IDC_NEW_DATE), "Feb 07, 2018");
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "XCHD015B.BIN");
    const Bytes unitBanks[2] = {Unit().Flash(false, 0), Unit().Flash(false, 1)};

    dlg->OnUpdate();
    ASSERT_FALSE(surface.boxes.empty());
    EXPECT_EQ(surface.boxes[0].text, "About to program the DI-ZO in Orvex 16 connected via Studio A Out with Firmware "
                                     "Version 15");
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    EXPECT_TRUE(Unit().Flash(false, 0) == unitBanks[0]);
    EXPECT_TRUE(Unit().Flash(false, 1) == unitBanks[1]);
    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningRevision(true), 15);
    EXPECT_EQ(Unit().RunningRevision(false), 28);
    EXPECT_NE(Log().find("SelectXSlotFirmware 1"), std::string::npos);

    // And back to the unit: its other bank is shown again.
    Select(0);
    EXPECT_FALSE(dlg->XSlotSelected());
    EXPECT_TRUE(Shown(IDC_ALT_VERSION));
    EXPECT_EQ(Text(IDC_NEW_VERSION), "31");
}

TEST_F(MidiStudioTest, AVaVovuzCardOverMidiIsShownButCannotBeTargetedThere) {
    Open(Scenario("va-vovuz"));
    ASSERT_EQ(surface.list.size(), 2u);
    Select(1);
    EXPECT_EQ(Text(IDC_SERIAL), "1517060007");
    EXPECT_EQ(Text(IDC_CURRENT_VERSION), "1");
    EXPECT_EQ(Text(IDC_CURRENT_DATE), "Feb 17, 2017");
    EXPECT_EQ(Text(IDC_NEW_VERSION), "1.2");
    EXPECT_EQ(Text(IDC_NEW_DATE), "Feb 17, 2017");
    EXPECT_EQ(Text(IDC_PCBREV), "NC");
    // The card is addressed by its own network transport only.
    dlg->OnUpdate();
    ASSERT_EQ(surface.boxes.size(), 3u);
    EXPECT_EQ(surface.boxes[1].text, "ProgramEEPROM: SelectXSlotFirmware Failed!\n");
    EXPECT_FALSE(Unit().LastUpdate().started);

    // The converter itself is updated over MIDI like any other.
    Select(0);
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningRevision(false), 31);
}

TEST_F(MidiStudioTest, CancelAtTheConfirmationLeavesTheUnitUntouched) {
    Open(Scenario("default"));
    const Bytes banks[2] = {Unit().Flash(false, 0), Unit().Flash(false, 1)};
    answers = {plat::id::Cancel};
    dlg->OnUpdate();
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_TRUE(Shown(IDC_UPDATE)) << "Ready view";
    EXPECT_FALSE(Unit().LastUpdate().started);
    EXPECT_TRUE(Unit().Flash(false, 0) == banks[0]);
    EXPECT_TRUE(Unit().Flash(false, 1) == banks[1]);
    EXPECT_EQ(Log().find("ProgramEEPROM"), std::string::npos);
}

// A failure anywhere in the sequence: the Part's two boxes, the cancel, the
// Ready view again, and a unit that still boots its old firmware.
TEST_F(MidiStudioTest, FailuresMidUpdateLeaveTheUnitBootingItsOldFirmware) {
    struct Case {
        const char* what;
        sim::FaultSpec fault;
        std::string text;
    } cases[] = {
        {"programming error", {sim::FaultSpec::kFailPacket, 830}, "Wait for Write Firmware Packet Failed!\n\nPGMERR"},
        {"wrong read-back", {sim::FaultSpec::kCorruptReadBack, 17}, "Firmware Verify Failed!"},
        {"power loss", {sim::FaultSpec::kPowerLoss, 500}, "Wait for Write Firmware Packet Failed!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        sim::Scenario s = Scenario("default");
        s.units[0].fault = c.fault;
        Open(s);
        const Bytes running = Unit().Flash(false, 0);
        dlg->OnUpdate();
        ASSERT_EQ(surface.boxes.size(), 3u);
        EXPECT_EQ(surface.boxes[1].text.rfind(c.text, 0), 0u) << surface.boxes[1].text;
        EXPECT_EQ(surface.boxes[1].caption, "Orvex Firmware Update");
        EXPECT_EQ(surface.boxes[1].type, plat::mb::Ok);
        EXPECT_EQ(surface.boxes[2].text, "Updating the Firmware on the Orvex FAILED!");
        EXPECT_EQ(surface.boxes[2].caption, "EEPROM Programming Failure");
        EXPECT_EQ(surface.boxes[2].type, plat::mb::Ok | plat::mb::IconWarning);
        EXPECT_TRUE(Shown(IDC_UPDATE)) << "Ready view again";
        EXPECT_FALSE(Unit().LastUpdate().completed);
        EXPECT_TRUE(Unit().Flash(false, 0) == running);
        studio->PowerCycleAndReport();
        EXPECT_EQ(Unit().RunningBank(), 0);
        EXPECT_EQ(Unit().RunningRevision(false), 28);
    }
}

TEST_F(MidiStudioTest, AUnitThatFallsSilentFailsItsWaits) {
    // Silent before the update: the first status answers never come (500 ms).
    Open(Scenario("default"));
    Unit().SetSilent(true);
    dlg->OnUpdate();
    ASSERT_EQ(surface.boxes.size(), 3u);
    EXPECT_EQ(surface.boxes[1].text, "ProgramEEPROM: WaitForResponse Failed!\n");
    EXPECT_FALSE(Unit().LastUpdate().started) << "nothing was erased";
    EXPECT_NE(Log().find("ProgramEEPROM: WaitForResponse Failed!\n"), std::string::npos);

    // Silent after packet 100: that packet's wait ends after its second.
    TearDown();
    SetUp();
    surface = RecorderSurface{};
    Open(Scenario("default"));
    uint64_t silentAt = 0, boxAt = 0;
    surface.onPump = [&] {
        if (!silentAt && Unit().LastUpdate().written >= 100) {
            Unit().SetSilent(true);
            silentAt = plat::ClockMicros();
        }
    };
    plat::SetMessageBoxAnswerer([&](const std::string&, const std::string&, unsigned type) {
        if (!boxAt && silentAt) boxAt = plat::ClockMicros();
        return plat::DefaultAnswer(type);
    });
    dlg->OnUpdate();
    ASSERT_EQ(surface.boxes.size(), 3u);
    EXPECT_EQ(surface.boxes[1].text, "Wait for Write Firmware Packet Failed!\n\nTIMEOUT");
    EXPECT_NEAR(double(boxAt - silentAt) / 1e3, 1000.0, 60.0);
}

TEST_F(MidiStudioTest, AnEraseThatOutlastsTwelveSecondsTimesOut) {
    sim::Scenario s = Scenario("default");
    s.eraseMicros = 13'000'000;
    Open(s);
    const uint64_t start = plat::ClockMicros();
    dlg->OnUpdate();
    ASSERT_GE(surface.boxes.size(), 2u);
    EXPECT_EQ(surface.boxes[1].text, "Wait for Erase EEPROM Failed!\n\nTIMEOUT");
    const double seconds = double(plat::ClockMicros() - start) / 1e6;
    EXPECT_GT(seconds, 12.0);
    EXPECT_LT(seconds, 12.5);
    // The bar fills in 4 s and stays full.
    ASSERT_FALSE(surface.progressRanges.empty());
    EXPECT_EQ(surface.progressRanges[0], std::make_pair(0, 40));
    int highest = 0;
    for (int pos : surface.progressPositions) highest = std::max(highest, pos);
    EXPECT_GE(highest, 120);
}

TEST_F(MidiStudioTest, TheProgressBarFollowsEraseWriteAndVerify) {
    Open(Scenario("default"));
    dlg->OnUpdate();
    ASSERT_EQ(surface.progressRanges.size(), 3u);
    EXPECT_EQ(surface.progressRanges[0], std::make_pair(0, 40));
    EXPECT_EQ(surface.progressRanges[1], std::make_pair(0, 1660));
    EXPECT_EQ(surface.progressRanges[2], std::make_pair(0, 1660));
    // During the 4 s erase the position climbs in tenths of a second.
    std::vector<int> erase;
    for (int pos : surface.progressPositions) {
        if (!erase.empty() && pos < erase.back()) break;
        erase.push_back(pos);
    }
    EXPECT_GE(erase.back(), 39);
    EXPECT_LE(erase.back(), 41);
    EXPECT_EQ(std::count(surface.progressPositions.begin(), surface.progressPositions.end(), 1659), 2);
}

TEST_F(MidiStudioTest, ABlankOrvex16SerialIsAskedForWrittenAndKept) {
    Open(Scenario("orvex16-blank-serial"));
    // No dialog was scripted yet: the first refresh asked, got an empty field and was cancelled.
    EXPECT_TRUE(surface.ended);
    EXPECT_NE(Log().find("Invalid Serial Number. User Pressed Cancel."), std::string::npos);

    TearDown();
    SetUp();
    surface = RecorderSurface{};
    surface.childScripts.push_back([](plat::IDialogHandler& d, RecorderSurface& child) {
        EXPECT_EQ(child.textLimits[IDC_SERIAL_EDIT], 10);
        child.texts[IDC_SERIAL_EDIT] = "26121";  // too short
        d.OnCommand(plat::kIdOk, 0);
        child.texts[IDC_SERIAL_EDIT] = "2612540001";  // week 54
        d.OnCommand(plat::kIdOk, 0);
        EXPECT_FALSE(child.ended);
        child.texts[IDC_SERIAL_EDIT] = "2612150123";
        d.OnCommand(plat::kIdOk, 0);
    });
    Open(Scenario("orvex16-blank-serial"));
    ASSERT_FALSE(surface.ended);
    EXPECT_EQ(surface.childDialogs, std::vector<int>{IDD_SERIALNUMBER});
    ASSERT_EQ(surface.childBoxes.size(), 2u);
    for (const RecordedBox& b : surface.childBoxes) {
        EXPECT_EQ(b.text, "Invalid Serial Number!");
        EXPECT_EQ(b.caption, "Orvex Firmware Update");
        EXPECT_EQ(b.type, plat::mb::Ok | plat::mb::IconWarning);
    }
    EXPECT_EQ(Text(IDC_SERIAL), "2612150123");
    EXPECT_EQ(Text(IDC_PROGRAMMING), "Writing Serial Number Complete...");
    EXPECT_TRUE(Shown(IDC_UPDATE)) << "Ready view";
    // Stored by the unit: it survives a power cycle.
    Unit().PowerCycle(plat::ClockMicros());
    EXPECT_EQ(Unit().Register(12), 15);
    EXPECT_EQ(Unit().Register(13), 12);
    EXPECT_EQ(Unit().Register(14), 123);
    EXPECT_NE(Log().find("SerialNumber: 2612150123"), std::string::npos);
}

TEST_F(MidiStudioTest, AnotherModelsSerialIsRefusedByTheUnitControlAndEndsTheWindow) {
    surface.childScripts.push_back([](plat::IDialogHandler& d, RecorderSurface& child) {
        child.texts[IDC_SERIAL_EDIT] = "2712150001";  // an Orvex 8's
        d.OnCommand(plat::kIdOk, 0);
    });
    Open(Scenario("orvex16-blank-serial"));
    EXPECT_TRUE(surface.ended);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "WriteSerialNumber: SerialNumber Model does not match PID!");
    EXPECT_EQ(boxes.back().caption, "COrvexRemote");
    EXPECT_EQ(Unit().Register(12), 0) << "nothing written";
}

// The emulated unit takes the typed number late, never, or fails to store it.
TEST_F(MidiStudioTest, ASlowOrRefusingSerialStoreIsWaitedForOrEndsTheWindow) {
    struct Case {
        const char* what;
        uint64_t delay;
        bool storeFails;
        bool ended;
        std::vector<std::string> boxes;  // caption: text, every box after the entry dialog
        const char* logged;
    } cases[] = {
        {"slow", 2'000'000, false, false, {}, nullptr},
        {"refuses", sim::OrvexUnit::kNever, false, true, {"COrvexRemote: WriteSerialNumber Timeout!"},
         "WriteSerialNumber: Timeout! (MAX_SN_RETIRES)"},
        {"store fails", 0, true, true, {"Orvex Firmware Update: Wait for WriteSerialNumber Failed!\n\nPGMERR"},
         "Wait for WriteSerialNumber Failed!\n\nPGMERR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        boxes.clear();
        surface.childScripts.push_back([](plat::IDialogHandler& d, RecorderSurface& child) {
            child.texts[IDC_SERIAL_EDIT] = "2612150123";
            d.OnCommand(plat::kIdOk, 0);
        });
        studio = std::make_unique<sim::Studio>(Scenario("orvex16-blank-serial"));
        studio->Install();
        Unit().DelaySerialWrites(c.delay);
        Unit().FailSerialStore(c.storeFails);
        dlg = std::make_unique<COrvexUpdateDlg>("", ProgramFactories());
        dlg->OnInitDialog(surface);
        EXPECT_EQ(surface.ended, c.ended);
        std::vector<std::string> shown;
        for (const RecordedBox& b : boxes) shown.push_back(b.caption + ": " + b.text);
        EXPECT_EQ(shown, c.boxes);
        for (const RecordedBox& b : surface.boxes) EXPECT_EQ(b.type, plat::mb::Ok) << "the window's own box";
        Unit().PowerCycle(plat::ClockMicros());
        if (!c.ended) {
            EXPECT_EQ(Text(IDC_SERIAL), "2612150123");
            EXPECT_EQ(Text(IDC_PROGRAMMING), "Writing Serial Number Complete...");
            EXPECT_TRUE(Shown(IDC_UPDATE)) << "Ready view";
            EXPECT_EQ(Unit().Register(12), 15) << "stored";
            EXPECT_EQ(Unit().Register(14), 123);
        } else {
            EXPECT_EQ(Text(IDC_PROGRAMMING), "Writing Serial Number... Please wait...");
            EXPECT_EQ(Unit().Register(12), 0) << "nothing stored";
            EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        }
    }
}

TEST_F(MidiStudioTest, AnOrvex8WithABlankSerialIsShownEmptyWithoutAsking) {
    Open(Scenario("orvex8-blank-serial"));
    ASSERT_FALSE(surface.ended);
    EXPECT_TRUE(surface.childDialogs.empty());
    EXPECT_EQ(Text(IDC_SERIAL), "");
    EXPECT_EQ(Text(IDC_MANUFACTURE_DATE), "");
    EXPECT_EQ(Text(IDC_PCBREV), "A");
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "OV8028A.BIN");
}

TEST_F(MidiStudioTest, ADoZazAheadOfAnOldUnitIsTakenBackToFiveThirtyFirst) {
    Open(Scenario("do-zaz-down"));
    ASSERT_FALSE(surface.ended);
    ASSERT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 connected via Studio A Out",
                                                      "DO-ZAZ in Orvex 16 connected via Studio A Out"}));
    ASSERT_FALSE(surface.boxes.empty());
    EXPECT_EQ(surface.boxes[0].text.rfind("The DO-ZAZ firmware MUST be revision 5.30 or lower", 0), 0u);
    EXPECT_EQ(surface.boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
    EXPECT_EQ(surface.selection, 1);
    EXPECT_TRUE(dlg->XSlotSelected());
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "XCUSB5V30.BIN");
    EXPECT_EQ(Text(IDC_NEW_VERSION), "5");
    EXPECT_EQ(Text(IDC_CURRENT_VERSION), "10");
    EXPECT_NE(Log().find("MIDI: DO-ZAZ firmware 6 or higher!"), std::string::npos);

    surface.progressRanges.clear();
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    ASSERT_EQ(surface.progressRanges.size(), 1u);
    EXPECT_EQ(surface.progressRanges[0], std::make_pair(0, 47616));
    EXPECT_EQ(surface.progressPositions.back(), 47616);
    EXPECT_FALSE(Unit().LastUpdate().started) << "nothing reaches the converter itself";
    EXPECT_NE(Log().find("ProgramEEPROM DO-ZAZ Success!"), std::string::npos);
    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningRevision(true), 5);
    EXPECT_EQ(Unit().Register(20), 30);
}

TEST_F(MidiStudioTest, ADoZazOnACurrentUnitTakesTheCurrentImageOrSaysItFailed) {
    for (bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "download fails" : "download succeeds");
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        sim::Scenario s = Scenario("do-zaz");
        if (fails) s.units[0].fault = {sim::FaultSpec::kDownloadFails, 20'000};
        Open(s);
        ASSERT_EQ(surface.list.size(), 2u);
        Select(1);
        EXPECT_EQ(std::string(dlg->FirmwareFile()), "XCUSB10V00.BIN");
        EXPECT_EQ(Text(IDC_CURRENT_VERSION), "5");
        EXPECT_EQ(Text(IDC_NEW_VERSION), "10");
        EXPECT_EQ(Text(IDC_NEW_DATE), "Sep 24, 2012");
        surface.boxes.clear();
        dlg->OnUpdate();
        studio->PowerCycleAndReport();
        if (!fails) {
            EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
            EXPECT_EQ(surface.boxes.size(), 1u);
            EXPECT_EQ(Unit().RunningRevision(true), 10);
            continue;
        }
        ASSERT_EQ(surface.boxes.size(), 2u);
        EXPECT_EQ(surface.boxes[1].text, "DO-ZAZ Firmware Update Failed!");
        EXPECT_EQ(surface.boxes[1].caption, "EEPROM Programming Failure");
        EXPECT_EQ(surface.boxes[1].type, plat::mb::Ok | plat::mb::IconWarning);
        EXPECT_TRUE(Shown(IDC_UPDATE));
        EXPECT_EQ(Unit().RunningRevision(true), 5) << "the card keeps its firmware";
    }
}

TEST_F(MidiStudioTest, ADoZazCannotBeUpdatedBeforeItsOldUnit) {
    Open(Scenario("do-zaz-first"));
    ASSERT_FALSE(surface.ended);
    EXPECT_TRUE(surface.boxes.empty());
    Select(1);
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text,
              "You must upgrade the Orvex firmware before the DO-ZAZ firmware.\n\nThe Orvex is automatically being "
              "selected.\n");
    EXPECT_EQ(surface.selection, 0);
    EXPECT_FALSE(dlg->XSlotSelected());
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "OVF031B.BIN");
    EXPECT_NE(Log().find("MIDI: Cannot upgrade DO-ZAZ firmware first!"), std::string::npos);
}

TEST_F(MidiStudioTest, ADoZazThatMustGoBackButHasNoDriverAccessEndsTheWindow) {
    UnitControlFactories f = ProgramFactories();
    f.remote = [] {
        orvex::COrvexRemote::Transports t = orvex::DefaultRemoteTransports();
        t.usbCard = nullptr;  // no USB driver on this computer
        return std::make_unique<orvex::COrvexRemote>(std::move(t));
    };
    Open(Scenario("do-zaz-down"), "", f);
    EXPECT_EQ(surface.list.size(), 1u);
    EXPECT_TRUE(surface.ended);
    EXPECT_EQ(surface.boxes.size(), 1u) << "the DOWN text, then nothing is offered";
    EXPECT_FALSE(Unit().LastUpdate().started);
}

TEST_F(MidiStudioTest, ADoZazImageWithoutCardAccessWritesNothing) {
    const Bytes image = RawImage("XCUSB10V00.BIN");
    WriteBytes(dir / "XCUSB10V00.BIN", image);
    Open(Scenario("default"), dir / "XCUSB10V00.BIN");
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_UPDATE)) << "counts as failed";
    EXPECT_EQ(surface.boxes.size(), 1u) << "only the confirmation";
    EXPECT_FALSE(Unit().LastUpdate().started);
}

TEST_F(MidiStudioTest, AnImageFileOnTheCommandLineIsWrittenAsItIs) {
    Bytes image = RawImage("OVF031B.BIN");
    image.resize(100'000);
    image[5000] ^= 0x5A;
    const std::string path = dir / "OVF031B.BIN";
    WriteBytes(path, image);
    Open(Scenario("default"), path);
    ASSERT_FALSE(surface.ended);
    EXPECT_TRUE(dlg->FileSpecified());
    EXPECT_EQ(std::string(dlg->FirmwareFile()), path);
    EXPECT_EQ(Text(IDC_NEW_VERSION), "31");
    EXPECT_EQ(Text(IDC_NEW_DATE), "Jan 01, 2014") << "a version below 39 takes the release date";

    dlg->OnUpdate();
    EXPECT_EQ(surface.boxes[0].caption, path) << "the confirmation names the file";
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    EXPECT_TRUE(Unit().Flash(false, 1) == Written(image, Unit().Flash(false, 1).size()));
    EXPECT_EQ(Unit().LastUpdate().written, 782u);
    EXPECT_TRUE(std::filesystem::exists(path)) << "a user's file is never removed";
}

TEST_F(MidiStudioTest, UserImageFilesThatCannotServe) {
    struct Case {
        const char* what;
        std::string file;
        bool create;
        std::vector<std::string> texts;
        bool ends;
    } cases[] = {
        {"missing", "OVF031B.BIN", false,
         {"Unable to open file '" + dir / "OVF031B.BIN" +
          "' specified on the command line!\n\nReverting to default firmware."},
         false},
        {"name not recognised", "firmware.bin", true,
         {"Unable to determine DeviceID from File Name", "Unable to determine New Firmware Version!"}, true},
        {"lower-case name", "ovf031b.bin", true,
         {"Unable to determine DeviceID from File Name", "Unable to determine New Firmware Version!"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        if (c.create) WriteBytes(dir / c.file, Bytes(1000, 1));
        Open(Scenario("default"), dir / c.file);
        ASSERT_EQ(surface.boxes.size(), c.texts.size());
        for (size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(surface.boxes[i].text, c.texts[i]);
            EXPECT_EQ(surface.boxes[i].caption, "Orvex Firmware Update");
        }
        EXPECT_EQ(surface.ended, c.ends);
        if (!c.ends) {
            EXPECT_EQ(std::string(dlg->FirmwareFile()), "OVF031B.BIN") << "embedded image chosen";
        }
    }
}

TEST_F(MidiStudioTest, LoadFailuresReturnToTheReadyViewWithTheirBoxes) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> arrange;
        std::string text, caption;
    } cases[] = {
        {"empty file", [](const std::string& p) { WriteBytes(p, {}); }, "Unable to get Firmware file size!", ""},
        {"too big for memory",
         [](const std::string& p) { std::filesystem::resize_file((WriteBytes(p, {1}), p), 0xFFFFFF00ull); },
         "Unable to allocate enough RAM to load the Firmware!", "Out of Memory"},
        {"gone before the update", [](const std::string& p) { std::filesystem::remove(p); }, "", "CreateFile Failure!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        const std::string path = dir / "OVF031B.BIN";
        WriteBytes(path, RawImage("OVF031B.BIN"));
        Open(Scenario("default"), path);
        c.arrange(path);
        surface.boxes.clear();
        dlg->OnUpdate();
        ASSERT_EQ(surface.boxes.size(), 1u);
        if (!c.text.empty()) {
            EXPECT_EQ(surface.boxes[0].text, c.text);
        }
        EXPECT_EQ(surface.boxes[0].caption.rfind(c.caption, 0), 0u) << surface.boxes[0].caption;
        EXPECT_EQ(surface.boxes[0].type & plat::mb::IconWarning, plat::mb::IconWarning);
        EXPECT_TRUE(Shown(IDC_UPDATE));
        EXPECT_FALSE(Unit().LastUpdate().started);
    }
}

TEST_F(MidiStudioTest, ADroppedFileTakesOverUntilAnotherIsDropped) {
    Open(Scenario("default"));
    const std::string first = dir / "OVF028A.BIN", second = dir / "XCDNT0102NC.BIN";
    WriteBytes(first, RawImage("OVF028A.BIN"));
    WriteBytes(second, RawImage("XCDNT0102NC.BIN"));
    dlg->OnDropFiles({second, first});
    EXPECT_EQ(std::string(dlg->FirmwareFile()), second) << "only the first dropped file";
    EXPECT_EQ(Text(IDC_NEW_VERSION), "102") << "unsplit until the next refresh";
    // The file's own date until the next refresh.
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    EXPECT_EQ(Text(IDC_NEW_DATE).substr(0, 3), kMonths[plat::GetLocalTime().month - 1]);
    Select(0);
    EXPECT_EQ(Text(IDC_NEW_VERSION), "1.2");
    EXPECT_EQ(Text(IDC_NEW_DATE), "Feb 25, 2005") << "the date comes from the selected target's table";

    dlg->OnDropFiles({first});
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS));
    EXPECT_TRUE(Unit().Flash(false, 1) == Written(RawImage("OVF028A.BIN"), Unit().Flash(false, 1).size()));
    const std::string log = Log();
    EXPECT_NE(log.find("OnDropFiles: " + second), std::string::npos);
    EXPECT_EQ(log.find("OnDropFiles: " + first + "\n"), log.rfind("OnDropFiles: " + first + "\n"));

    // A dropped file that cannot be opened: the command-line text, then the embedded images.
    surface.boxes.clear();
    dlg->OnDropFiles({dir / "OVF031B.BIN"});
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text, "Unable to open file '" + dir / "OVF031B.BIN" +
                                         "' specified on the command line!\n\nReverting to default firmware.");
    EXPECT_FALSE(dlg->FileSpecified());
    Select(0);
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "OVF031B.BIN");
}

}  // namespace

namespace {

// A read-back answer lost on the cable: the unit is lost and selected again,
// and nothing but the packet's own answer may count as read back, even when
// the packet is zeros and an empty verify buffer would compare equal.
TEST_F(MidiStudioTest, OnlyAPacketsOwnAnswerCountsAsItsReadBack) {
    for (bool zeros : {false, true}) {
        SCOPED_TRACE(zeros ? "packet of zeros" : "packet of image bytes");
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        Bytes image = RawImage("OVF031B.BIN");
        image.resize(20'000);
        if (zeros) std::fill(image.begin() + 0x800, image.end(), 0);
        WriteBytes(dir / "OVF031B.BIN", image);
        Open(Scenario("default"), dir / "OVF031B.BIN");
        Unit().DropReadBackAnswer(20);
        // The driver takes 20 ms to accept that read-back's request: the silence
        // the link measures from its request is longer than the wait's, so the
        // unit is lost and selected again while the wait still runs.
        bool slowed = false;
        surface.onPump = [&] {
            if (!slowed && surface.progressRanges.size() == 3 && surface.progressPositions.back() == 20) {
                slowed = true;
                studio->Midi().StallCalls(sim::VirtualMidi::Call::OutLongMsg, -1, 0, 1, 20'000);
            }
        };
        dlg->OnUpdate();
        EXPECT_TRUE(slowed);
        ASSERT_EQ(surface.boxes.size(), 3u);
        EXPECT_EQ(surface.boxes[1].text, "Wait for Verify Packet Failed!\n\nTIMEOUT");
        EXPECT_FALSE(Unit().LastUpdate().completed);
        EXPECT_TRUE(Shown(IDC_UPDATE));
    }
}

}  // namespace

namespace {

// The network path: the unit behind its VA-VOVUZ card, found through the
// DNS-SD stand-in and reached over real UDP on loopback.
TEST_F(MidiStudioTest, AUnitAndItsVaVovuzCardAreUpdatedOverTheNetwork) {
    Open(Scenario("va-vovuz-network"));
    ASSERT_FALSE(surface.ended) << Log();
    ASSERT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 connected via Velun (127.0.0.2)",
                                                      "VA-VOVUZ in Orvex 16 connected via Velun (127.0.0.2)"}));
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS)) << Log();
    EXPECT_EQ(Unit().LastUpdate().written, 1660u);

    Select(1);
    EXPECT_EQ(Text(IDC_SERIAL), "1517060008");
    EXPECT_EQ(Text(IDC_NEW_VERSION), "1.2");
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS)) << Log();
    EXPECT_TRUE(Unit().LastUpdate().card);
    EXPECT_EQ(Unit().LastUpdate().written, 2664u);

    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit().RunningRevision(false), 31);
    EXPECT_EQ(Unit().RunningRevision(true), 1);
    EXPECT_EQ(Unit().Register(20), 2);
    const std::string log = Log();
    EXPECT_NE(log.find("SelectXSlotFirmware 1"), std::string::npos);
    EXPECT_EQ(log.find("SelectAlternateBank", log.find("SelectXSlotFirmware 1")), std::string::npos)
        << "the card keeps one bank";
}

}  // namespace

namespace {

// The adapter path: the converter behind a Tarsel card, through the card's
// mixer driver and device requests.
TEST_F(MidiStudioTest, AUnitBehindAnAdapterCardIsShownAndUpdated) {
    Open(Scenario("adapter-two-cards"));
    ASSERT_FALSE(surface.ended) << Log();
    EXPECT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 on Pelk Tarsel-X in PCI Slot 3",
                                                      "DI-ZO in Orvex 16 on Pelk Tarsel-X in PCI Slot 3",
                                                      "Orvex 8 on Pelk Tarsel-XR at Bus 2, Device 0"}));
    EXPECT_EQ(Text(IDC_SERIAL), "2612150151");
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS)) << Log();
    EXPECT_EQ(Unit(0).LastUpdate().written, 1660u);

    Select(2);
    EXPECT_EQ(std::string(dlg->FirmwareFile()), "OV8028A.BIN");
    dlg->OnUpdate();
    EXPECT_TRUE(Shown(IDC_CONGRATULATIONS)) << Log();
    studio->PowerCycleAndReport();
    EXPECT_EQ(Unit(0).RunningRevision(false), 31);
    EXPECT_EQ(Unit(1).RunningRevision(false), 28);
    EXPECT_EQ(Unit(1).RunningBank(), 1);
    EXPECT_NE(Log().find("Found Orvex Using Tarsel. Number Of Connections: 2"), std::string::npos);
}

TEST_F(MidiStudioTest, AnAdapterWhoseFirmwareDoesNotSuitTheUnitEndsTheWindow) {
    struct Case {
        const char* scenario;
        const char* text;
    } cases[] = {
        {"adapter-r20", "The Tarsel Firmware MUST be Revision 20 to function with"},
        {"adapter-r22", "The Tarsel Firmware MUST be Revision 22 to function with"},
        {"adapter-r23", "The Tarsel Firmware MUST be Revision 23 or higher"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        TearDown();
        SetUp();
        surface = RecorderSurface{};
        Open(Scenario(c.scenario));
        EXPECT_TRUE(surface.ended);
        ASSERT_EQ(surface.boxes.size(), 1u) << Log();
        EXPECT_EQ(surface.boxes[0].text.rfind(c.text, 0), 0u) << surface.boxes[0].text;
        EXPECT_EQ(surface.boxes[0].caption, "Orvex Firmware Update");
        EXPECT_NE(Log().find("Tarsel Firmware Invalid!"), std::string::npos);
        EXPECT_FALSE(Unit().LastUpdate().started);
    }
}

TEST_F(MidiStudioTest, ShiftAndControlHeldSkipTheAdapterCard) {
    sim::Scenario s = Scenario("adapter");
    sim::Scenario midi = Scenario("default");
    s.units.push_back(midi.units[0]);
    plat::posix::Facts().shiftDown = plat::posix::Facts().controlDown = true;
    Open(s);
    ASSERT_FALSE(surface.ended) << Log();
    EXPECT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 connected via Studio A Out"}));
    EXPECT_NE(Log().find("User is pressing CONTROL+SHIFT: Ignoring Tarsel Card"), std::string::npos);
}

}  // namespace
