#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "resources/resource.h"
#include "tests/support/EmbeddedImages.h"
#include "tests/support/FakeUnits.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "updater/OrvexUpdateDlg.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    RecorderSurface surface;
    int adapterMade = 0, remoteMade = 0, closes = 0;

    void SetUp() override {
        plat::posix::SetString(IDS_ABOUTBOX, IDS_ABOUTBOX_TEXT);
        InstallEmbeddedImages();
    }
    void TearDown() override {
        orvex::LogClose();
        plat::posix::ResetFacts();
    }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
    UnitControlFactories Factories(std::vector<FakeConnection> adapter, std::vector<FakeConnection> remote) {
        UnitControlFactories f;
        f.adapter = [this, adapter] {
            ++adapterMade;
            auto u = std::make_unique<FakeUnits>(adapter);
            u->closes = &closes;
            return u;
        };
        f.remote = [this, remote] {
            ++remoteMade;
            auto u = std::make_unique<FakeUnits>(remote);
            u->closes = &closes;
            return u;
        };
        return f;
    }
};

TEST_F(DialogTest, NoImplementationFindsAUnit) {
    COrvexUpdateDlg dlg("", UnitControlFactories{});
    EXPECT_TRUE(dlg.OnInitDialog(surface));
    // The fixed furniture comes first.
    EXPECT_TRUE(surface.acceptsFiles);
    EXPECT_EQ(surface.background, IDB_BACKGROUND);
    EXPECT_EQ(surface.icon, IDR_MAINFRAME);
    ASSERT_EQ(surface.systemMenu.size(), 1u);
    EXPECT_EQ(surface.systemMenu[0].first, 0x10u);
    EXPECT_EQ(surface.systemMenu[0].second, "&About Orvex Firmware Update...");

    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text, "Unable to locate an Orvex!");
    EXPECT_EQ(surface.boxes[0].caption, "Orvex Firmware Update");
    EXPECT_EQ(surface.boxes[0].type, plat::mb::Ok);
    EXPECT_TRUE(surface.ended);
    EXPECT_EQ(surface.endResult, 0);
    EXPECT_EQ(dlg.MixerIF(), nullptr);
    EXPECT_EQ(plat::posix::Facts().waitCursorDepth, 0) << "cursor restored";
    std::string log = Log();
    EXPECT_LT(log.find("Trying to locate Orvex using Tarsel"), log.find("Unable to locate an Orvex!"));
}

TEST_F(DialogTest, EmptySystemMenuStringAddsNoItem) {
    plat::posix::SetString(IDS_ABOUTBOX, "");
    COrvexUpdateDlg dlg("", UnitControlFactories{});
    dlg.OnInitDialog(surface);
    EXPECT_TRUE(surface.systemMenu.empty());
}

TEST_F(DialogTest, AdapterWithNoConnectionsFallsBackToTheRemotePath) {
    COrvexUpdateDlg dlg("", Factories({}, {{}}));
    dlg.OnInitDialog(surface);
    EXPECT_EQ(adapterMade, 1);
    EXPECT_EQ(remoteMade, 1);
    EXPECT_FALSE(surface.ended);
    ASSERT_EQ(surface.list.size(), 1u);
    std::string log = Log();
    EXPECT_NE(log.find("Found Orvex Using Tarsel. Number Of Connections: 0"), std::string::npos);
    EXPECT_NE(log.find("Found Orvex MIDI/IrDA. Number Of Connections: 1"), std::string::npos);
    EXPECT_NE(log.find("Found Orvex 16 connected via Port 1"), std::string::npos);
    // Ready view with bold notices.
    for (int id = IDC_NOTICE1; id <= IDC_CONGRATULATIONS; ++id) {
        EXPECT_EQ(surface.fonts[id].face, "Tahoma");
        EXPECT_EQ(surface.fonts[id].height, 13);
        EXPECT_EQ(surface.fonts[id].weight, 700);
    }
    EXPECT_TRUE(surface.visible[IDC_UPDATE]);
    EXPECT_FALSE(surface.visible[plat::kIdOk]);

    // Closing the window closes and frees the unit-control object.
    dlg.OnDestroy();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(dlg.MixerIF(), nullptr);
}

TEST_F(DialogTest, ShiftAndControlSkipTheAdapter) {
    plat::posix::Facts().shiftDown = plat::posix::Facts().controlDown = true;
    COrvexUpdateDlg dlg("", Factories({{}}, {{}}));
    dlg.OnInitDialog(surface);
    EXPECT_EQ(remoteMade, 1);
    std::string log = Log();
    EXPECT_NE(log.find("User is pressing CONTROL+SHIFT: Ignoring Tarsel Card"), std::string::npos);
    EXPECT_EQ(log.find("Trying to locate Orvex using Tarsel"), std::string::npos);
}

TEST_F(DialogTest, ListEntriesFollowTheUnitAndCardRules) {
    FakeConnection relay{128, "Harken Relay 4x4 connected via Port 2"};
    struct Case {
        const char* what;
        std::vector<FakeConnection> units;
        std::vector<std::string> entries;
        std::vector<uint32_t> words;
        std::vector<std::string> logged;
    } cases[] = {
        {"two units, the first with a VA-VOVUZ card",
         {{38, "Orvex 16 connected via Port 1", 21}, relay},
         {"Orvex 16 connected via Port 1", "VA-VOVUZ in Orvex 16 connected via Port 1",
          "Harken Relay 4x4 connected via Port 2"},
         {0, 0x10000, 1},
         {"Found VA-VOVUZ in Orvex 16 connected via Port 1"}},
        {"Tavi and Orvex(n) are not listed", {{49, "Tavi"}, {96, "Orvex(n)"}, relay},
         {"Harken Relay 4x4 connected via Port 2"}, {2}, {}},
        {"VI-RIZO through the adapter card is not listed", {{38, "U", 19, orvex::kConnectionAdapter}}, {"U"}, {0}, {}},
        {"VI-RIZO over MIDI", {{38, "U", 19, orvex::kConnectionMidi, 28}}, {"U", "VI-RIZO in U"}, {0, 0x10000}, {}},
        {"VI-RIZO with firmware 18", {{38, "U", 19, orvex::kConnectionMidi, 18}}, {"U"}, {0}, {}},
        {"DI-ZO with firmware 21", {{39, "U", 24, orvex::kConnectionMidi, 21}}, {"U"}, {0}, {}},
        {"DI-ZO with firmware 31", {{39, "U", 24, orvex::kConnectionMidi, 31}}, {"U", "DI-ZO in U"}, {0, 0x10000},
         {"Found DI-ZO in U"}},
        {"DU-RA and VA-VO are only logged", {{38, "U", 20}, {38, "V", 25}}, {"U", "V"}, {0, 1},
         {"Found DU-RA in U", "Found VA-VO in V"}},
        {"DO-ZAZ over MIDI without card access", {{38, "U", 50, orvex::kConnectionMidi}}, {"U"}, {0},
         {"Found DO-ZAZ in U"}},
        {"failed description skips the unit", {{38, "U", 0, 3, 28, 0, true}, relay},
         {"Harken Relay 4x4 connected via Port 2"}, {1}, {}},
    };
    for (const Case& c : cases) {
        RecorderSurface s;
        std::filesystem::remove(dir / "OrvexUpdate.log");
        COrvexUpdateDlg dlg("", Factories({}, c.units));
        dlg.OnInitDialog(s);
        EXPECT_EQ(s.list, c.entries) << c.what;
        ASSERT_EQ(s.listData.size(), c.entries.size()) << c.what;
        for (size_t i = 0; i < c.words.size(); ++i) {
            EXPECT_EQ(s.listData[i], i) << c.what;
            EXPECT_EQ(dlg.ListItem(static_cast<int>(i)), c.words[i]) << c.what;
        }
        EXPECT_EQ(s.selection, 0) << c.what;
        std::string log = Log();
        for (const std::string& line : c.logged) EXPECT_NE(log.find(line), std::string::npos) << c.what << ": " << line;
    }
}

TEST_F(DialogTest, DoZazLockoutIsShownAndTheCardIsNotListed) {
    COrvexUpdateDlg dlg("", Factories({{38, "U", 50, orvex::kConnectionAdapter, 28, 1}}, {}));
    dlg.OnInitDialog(surface);
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text,
              "DO-ZAZ causing Front Panel Lockout!\n\nIf the DO-ZAZ is connected to a computer,\nthe Orvex cannot be "
              "connected via Tarsel or MIDI!");
    EXPECT_EQ(surface.boxes[0].type, plat::mb::Ok | plat::mb::IconError);
    EXPECT_EQ(surface.list.size(), 1u);
    EXPECT_FALSE(surface.ended);
    EXPECT_NE(Log().find("DO-ZAZ causing Front Panel Lockout!"), std::string::npos);
}

TEST_F(DialogTest, OnlyUnlistedModelsEndTheWindowWithNoOrvexFound) {
    COrvexUpdateDlg dlg("", Factories({}, {{49, "Tavi"}}));
    dlg.OnInitDialog(surface);
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text, "No Orvex Found!");
    EXPECT_EQ(surface.boxes[0].caption, "Orvex Firmware Update");
    EXPECT_TRUE(surface.ended);
    EXPECT_NE(Log().find("No Orvex Found!"), std::string::npos);
}

TEST_F(DialogTest, TheListStopsAtSixteenEntries) {
    std::vector<FakeConnection> units(12, FakeConnection{38, "U", 21});
    COrvexUpdateDlg dlg("", Factories({}, units));
    dlg.OnInitDialog(surface);
    EXPECT_EQ(surface.list.size(), 16u);
    EXPECT_EQ(dlg.ListItem(15), 0x10007u);
    EXPECT_NE(Log().find("Unit list full: U not listed"), std::string::npos);
}

// A description longer than the window's buffers is cut to them: 259
// characters in the list (card entries included), 255 as the unit's.
TEST_F(DialogTest, LongDescriptionsAreCutToTheirBuffers) {
    const std::string longText(400, 'd');
    COrvexUpdateDlg dlg("", Factories({}, {FakeConnection{38, longText, 21}}));
    dlg.OnInitDialog(surface);
    ASSERT_EQ(surface.list.size(), 2u);
    EXPECT_EQ(surface.list[0], longText.substr(0, 259));
    EXPECT_EQ(surface.list[1], "VA-VOVUZ in " + longText.substr(0, 259 - 12));
    EXPECT_EQ(std::string(dlg.UnitDescription()), longText.substr(0, 255));
}

TEST_F(DialogTest, ViewsShowTheirControlSets) {
    COrvexUpdateDlg dlg("", Factories({}, {{}}));
    dlg.OnInitDialog(surface);
    const int controls[] = {IDC_NOTICE1, IDC_NOTICE2,     IDC_NOTICE3, IDC_DONT_INTERRUPT, IDC_PROGRAMMING,
                            IDC_PROGRESS, IDC_CONGRATULATIONS, plat::kIdCancel, IDC_UPDATE, plat::kIdOk};
    const bool shown[3][10] = {
        {1, 1, 1, 0, 0, 0, 0, 1, 1, 0},
        {0, 0, 0, 1, 1, 1, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 1, 0, 0, 1},
    };
    for (int view = 0; view < 3; ++view) {
        dlg.SetView(view);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(surface.visible[controls[i]], shown[view][i]) << view << " " << i;
    }
    auto before = surface.visible;
    dlg.SetView(3);
    dlg.SetView(-1);
    EXPECT_EQ(surface.visible, before);
}

TEST_F(DialogTest, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    COrvexUpdateDlg dlg("", Factories({}, {{}}));
    dlg.OnInitDialog(surface);
    for (unsigned cmd = 0x10; cmd <= 0x1F; ++cmd) EXPECT_TRUE(dlg.OnSysCommand(cmd)) << cmd;
    EXPECT_EQ(surface.childDialogs, std::vector<int>(16, IDD_ABOUTBOX));
    for (unsigned cmd : {0x0u, 0x20u, 0xF060u, 0xF020u}) EXPECT_FALSE(dlg.OnSysCommand(cmd)) << cmd;
    EXPECT_EQ(surface.childDialogs.size(), 16u);
}

TEST_F(DialogTest, NoticesAreBlueAndLabelsTransparent) {
    COrvexUpdateDlg dlg("", UnitControlFactories{});
    for (int id = IDC_NOTICE1; id <= IDC_CONGRATULATIONS; ++id) {
        EXPECT_TRUE(dlg.GetControlColours(id).blueText) << id;
        EXPECT_TRUE(dlg.GetControlColours(id).transparent) << id;
    }
    for (int id : {-1, IDC_SERIAL, IDC_PCBREV, IDC_CURRENT_VERSION, IDC_CURRENT_DATE, IDC_NEW_VERSION, IDC_NEW_DATE,
                   IDC_ALT_VERSION, IDC_ALT_DATE, IDC_ALT_VERSION_LABEL, IDC_ALT_DATE_LABEL, IDC_MANUFACTURE_DATE}) {
        EXPECT_FALSE(dlg.GetControlColours(id).blueText) << id;
        EXPECT_TRUE(dlg.GetControlColours(id).transparent) << id;
    }
    for (int id : {IDC_UNITS, IDC_PROGRESS, IDC_UPDATE, plat::kIdOk, plat::kIdCancel}) {
        EXPECT_FALSE(dlg.GetControlColours(id).blueText) << id;
        EXPECT_FALSE(dlg.GetControlColours(id).transparent) << id;
    }
}

TEST_F(DialogTest, CloseAndCancelEndTheWindow) {
    for (int id : {plat::kIdOk, plat::kIdCancel}) {
        RecorderSurface s;
        COrvexUpdateDlg dlg("", Factories({}, {{}}));
        dlg.OnInitDialog(s);
        dlg.OnCommand(id, 0);
        EXPECT_TRUE(s.ended);
        EXPECT_EQ(s.endResult, id);
    }
}

}  // namespace

// ---- the refresh, serial entry and programming against scripted units ----------

namespace {

class RefreshTest : public DialogTest {
protected:
    UnitControlFactories Units(std::vector<FakeConnection> units, FakeUnits** made = nullptr) {
        UnitControlFactories f;
        f.remote = [units, made] {
            auto u = std::make_unique<FakeUnits>(units);
            if (made) *made = u.get();
            return u;
        };
        f.adapter = [units, made] {
            auto u = std::make_unique<FakeUnits>(units);
            if (made) *made = u.get();
            return u;
        };
        f.adapterControl = FakeAdapterControl;
        return f;
    }
};

TEST_F(RefreshTest, TheTarselFirmwareMustSuitTheUnitsFirmware) {
    struct Case {
        uint8_t unit;
        uint32_t model, adapter;
        const char* refusal;  // start of the box text, null when the unit is shown
    } cases[] = {
        {9, 36, 0, nullptr},
        {12, 36, 22, nullptr},
        {5, 37, 21, nullptr},
        {5, 40, 0, nullptr},  // Tarsel-X: not checked
        {5, 36, 22, "The Tarsel Firmware MUST be Revision 20 to function with"},
        {12, 36, 21, "The Tarsel Firmware MUST be Revision 22 to function with"},
        {28, 37, 22, "The Tarsel Firmware MUST be Revision 23 or higher"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.unit) << " " << c.model << " " << c.adapter);
        orvex::LogClose();
        std::filesystem::remove(dir / "OrvexUpdate.log");
        RecorderSurface s;
        FakeConnection unit;
        unit.type = orvex::kConnectionAdapter;
        unit.firmware = c.unit;
        unit.adapterModel = c.model;
        unit.adapterFirmware = c.adapter;
        COrvexUpdateDlg dlg("", Units({unit}));
        dlg.OnInitDialog(s);
        EXPECT_EQ(s.ended, c.refusal != nullptr);
        if (!c.refusal) {
            EXPECT_TRUE(s.boxes.empty());
            continue;
        }
        ASSERT_EQ(s.boxes.size(), 1u);
        EXPECT_EQ(s.boxes[0].text.rfind(c.refusal, 0), 0u) << s.boxes[0].text;
        EXPECT_EQ(s.boxes[0].caption, "Orvex Firmware Update");
        EXPECT_EQ(s.boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
        const std::string log = Log();
        EXPECT_LT(log.find("Tarsel Firmware Invalid!"), log.find("UpdateSelectedConnection Failed!"));
    }
}

TEST_F(RefreshTest, AFailedPrepareEndsTheWindowWithoutABox) {
    FakeUnits* made = nullptr;
    UnitControlFactories f = Units({{}}, &made);
    auto remote = f.remote;
    f.adapter = nullptr;
    f.remote = [remote, &made] {
        auto u = remote();
        made->prepareStatus = orvex::kStatusFailure;
        return u;
    };
    COrvexUpdateDlg dlg("", f);
    dlg.OnInitDialog(surface);
    EXPECT_TRUE(surface.ended);
    EXPECT_TRUE(surface.boxes.empty());
    EXPECT_NE(Log().find("m_pMixerIF->PrepareForProgramming: FAILED!"), std::string::npos);
}

TEST_F(RefreshTest, NoImageForTheBoardEndsTheWindow) {
    FakeConnection unit;
    unit.xslot = 24;  // DI-ZO on PCB A: no image
    unit.xslotPcb = 1;
    COrvexUpdateDlg dlg("", Units({unit}));
    dlg.OnInitDialog(surface);
    ASSERT_FALSE(surface.ended);
    surface.selection = 1;
    dlg.OnCommand(IDC_UNITS, plat::kCbnSelChange);
    EXPECT_TRUE(surface.ended);
    ASSERT_EQ(surface.boxes.size(), 1u);
    EXPECT_EQ(surface.boxes[0].text, "Unable to determine New Firmware Version!");
    EXPECT_EQ(surface.boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
    const std::string log = Log();
    EXPECT_NE(log.find("OnSelChangeModel"), std::string::npos);
    EXPECT_NE(log.find("Unable to determine New Firmware Version!"), std::string::npos);
}

TEST_F(RefreshTest, ASerialOfAnotherDeviceIsAskedForAgainUntilItMatches) {
    FakeConnection unit;
    unit.serial = 0x27C0F001;  // a valid Orvex 8 number read from an Orvex 16
    FakeUnits* made = nullptr;
    for (const char* typed : {"2712150001", "2612150123"}) {
        surface.childScripts.push_back([typed](plat::IDialogHandler& d, RecorderSurface& child) {
            child.texts[IDC_SERIAL_EDIT] = typed;
            d.OnCommand(plat::kIdOk, 0);
        });
    }
    COrvexUpdateDlg dlg("", Units({unit}, &made));
    dlg.OnInitDialog(surface);
    ASSERT_FALSE(surface.ended);
    ASSERT_EQ(surface.boxes.size(), 2u);
    for (const RecordedBox& b : surface.boxes) {
        EXPECT_EQ(b.text, "Serial Number does not match Device ID!");
        EXPECT_EQ(b.type, plat::mb::Ok | plat::mb::IconWarning);
    }
    EXPECT_EQ(surface.childDialogs.size(), 2u);
    EXPECT_EQ(made->serialsWritten, (std::vector<uint32_t>{0x27C0F001, kFakeOrvex16Serial}));
    EXPECT_EQ(surface.texts[IDC_SERIAL], "2612150123");
}

TEST_F(RefreshTest, SerialEntryFailuresEndTheWindow) {
    struct Case {
        const char* what;
        uint32_t writeStatus;
        uint8_t statusAfter;
        std::string box;  // empty: none
        std::string logged;
    } cases[] = {
        {"cancel", 0, 0, "", "Invalid Serial Number. User Pressed Cancel."},
        {"write refused", orvex::kStatusFailure, 0, "", ""},
        {"store never settles", 0, orvex::kProgPIP, "Wait for WriteSerialNumber Failed!\n\nTIMEOUT",
         "Wait for WriteSerialNumber Failed!\n\nTIMEOUT"},
        {"store fails", 0, orvex::kProgPGMERR, "Wait for WriteSerialNumber Failed!\n\nPGMERR",
         "Wait for WriteSerialNumber Failed!\n\nPGMERR"},
    };
    plat::UseVirtualClock(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        orvex::LogClose();
        std::filesystem::remove(dir / "OrvexUpdate.log");
        RecorderSurface s;
        FakeConnection unit;
        unit.serial = 0;
        unit.status = c.statusAfter;
        FakeUnits* made = nullptr;
        UnitControlFactories f = Units({unit}, &made);
        auto remote = f.remote;
        f.adapter = nullptr;
        f.remote = [remote, &made, &c] {
            auto u = remote();
            made->writeSerialStatus = c.writeStatus;
            return u;
        };
        s.childScripts.push_back([&c](plat::IDialogHandler& d, RecorderSurface& child) {
            child.texts[IDC_SERIAL_EDIT] = "2612150123";
            d.OnCommand(std::string(c.what) == "cancel" ? plat::kIdCancel : plat::kIdOk, 0);
        });
        COrvexUpdateDlg dlg("", f);
        const uint64_t start = plat::ClockMicros();
        dlg.OnInitDialog(s);
        EXPECT_TRUE(s.ended);
        if (c.box.empty()) {
            EXPECT_TRUE(s.boxes.empty());
        } else {
            ASSERT_EQ(s.boxes.size(), 1u);
            EXPECT_EQ(s.boxes[0].text, c.box);
            EXPECT_EQ(s.boxes[0].caption, "Orvex Firmware Update");
            EXPECT_EQ(s.boxes[0].type, plat::mb::Ok);
            EXPECT_EQ(s.texts[IDC_PROGRAMMING], "Writing Serial Number... Please wait...");
        }
        if (c.statusAfter == orvex::kProgPIP) {
            const double ms = double(plat::ClockMicros() - start) / 1000;
            EXPECT_GT(ms, 1000);
            EXPECT_LT(ms, 1100);
        }
        if (!c.logged.empty()) {
            EXPECT_NE(Log().find(c.logged), std::string::npos);
        }
    }
    plat::UseVirtualClock(false);
}

TEST_F(RefreshTest, ImageNamesThatDoNotFitTheTableArePassedOver) {
    // 18 names: one too long for its slot, and two past the table's sixteen.
    static const unsigned char kByte[] = {0};
    std::vector<std::string> names = {"AAAAAAAAAAAAAAAA.BIN"};
    for (int i = 0; i < 15; ++i) names.push_back("XCFW0" + std::to_string(10 + i) + "A.BIN");
    names.push_back("OVF031B.BIN");
    names.push_back("OVF032B.BIN");
    std::vector<plat::RawResource> table;
    for (const std::string& n : names) table.push_back({n.c_str(), kByte, 1});
    plat::posix::SetRawResources(table.data(), unsigned(table.size()));
    COrvexUpdateDlg dlg("", Units({{}}));
    dlg.OnInitDialog(surface);
    EXPECT_EQ(dlg.ResourceNameCount(), 16);
    EXPECT_EQ(std::string(dlg.ResourceName(15)), "OVF031B.BIN");
    EXPECT_EQ(std::string(dlg.FirmwareFile()), "OVF031B.BIN");
    const std::string log = Log();
    EXPECT_NE(log.find("Embedded image name too long: AAAAAAAAAAAAAAAA.BIN not used"), std::string::npos);
    EXPECT_NE(log.find("Embedded image table full: OVF032B.BIN not used"), std::string::npos);
}

// A unit whose programming operations can be made to fail one at a time.
class ScriptedUnit : public FakeUnits {
public:
    using FakeUnits::FakeUnits;
    std::string fail;           // the operation that fails
    uint32_t failAt = 0;        // packet number for the packet operations
    uint8_t eraseStatus = 0, packetStatus = 0, verifyStatus = orvex::kProgPAKRDY;
    std::vector<uint8_t> bank;  // what the unit took
    uint32_t verified = 0, cancels = 0;
    std::vector<std::string> calls;
    uint8_t register9 = 0;

    uint32_t Result(const char* op) { return calls.push_back(op), fail == op ? orvex::kStatusFailure : 0; }
    uint32_t SelectXSlotFirmware(uint8_t on) override {
        calls.push_back(on ? "card" : "unit");
        return fail == "SelectXSlotFirmware" ? 1 : 0;
    }
    uint32_t SelectAlternateBank() override { return Result("SelectAlternateBank"); }
    uint32_t WaitForResponse(uint32_t) override { return fail == "WaitForResponse" ? 1 : 0; }
    uint32_t EraseAlternateBank() override {
        bank.clear();
        Cur().status = eraseStatus;
        return Result("EraseAlternateBank");
    }
    uint32_t WriteFirmwarePacket(const uint8_t* data, uint32_t length) override {
        const uint32_t k = uint32_t(bank.size() / 128);
        if (fail == "WriteFirmwarePacket" && k == failAt) return 1;
        bank.insert(bank.end(), data, data + length);
        Cur().status = (fail == "packet status" && k == failAt) ? packetStatus : 0;
        return 0;
    }
    uint32_t RequestVerifyPacket() override {
        if (fail == "RequestVerifyPacket" && verified == failAt) return 1;
        Cur().status = (fail == "verify status" && verified == failAt) ? verifyStatus : orvex::kProgPAKRDY;
        return 0;
    }
    uint32_t ReadVerifyPacket(uint8_t* buffer, uint32_t length) override {
        if (fail == "ReadVerifyPacket" && verified == failAt) return 1;
        std::memcpy(buffer, bank.data() + size_t{verified} * 128, length);
        if (fail == "compare" && verified == failAt) buffer[3] ^= 1;
        ++verified;
        return 0;
    }
    uint32_t GetRegister(uint16_t reg, uint8_t* value) override {
        if (reg != 9) return 1;
        *value = register9;
        return 0;
    }
    uint32_t SetRegister(uint16_t reg, uint8_t value) override {
        if (reg == 9) register9 = value;
        calls.push_back("SetRegister 9");
        return 0;
    }
    uint32_t SetProgrammingComplete() override { return Result("SetProgrammingComplete"); }
    uint32_t CancelProgramming() override { return ++cancels, 0; }
};

class ProgrammingTest : public DialogTest {
protected:
    ScriptedUnit* unit = nullptr;
    std::unique_ptr<COrvexUpdateDlg> dlg;

    void SetUp() override {
        DialogTest::SetUp();
        plat::UseVirtualClock(true);
    }
    void TearDown() override {
        if (dlg) dlg->OnDestroy();
        plat::UseVirtualClock(false);
        DialogTest::TearDown();
    }
    void Open(const std::function<void(ScriptedUnit&)>& arrange, FakeConnection c = {}) {
        UnitControlFactories f;
        f.remote = [this, arrange, c] {
            auto u = std::make_unique<ScriptedUnit>(std::vector<FakeConnection>{c});
            unit = u.get();
            arrange(*u);
            return u;
        };
        dlg = std::make_unique<COrvexUpdateDlg>("", f);
        dlg->OnInitDialog(surface);
        ASSERT_FALSE(surface.ended);
    }
};

TEST_F(ProgrammingTest, EveryFailingStepHasItsTextThenTheCancelAndTheFailureBox) {
    struct Case {
        std::string fail;
        uint32_t at;
        uint8_t flags;  // erase, packet or verify status
        std::string text;
        bool logged;
    } cases[] = {
        {"SelectXSlotFirmware", 0, 0, "ProgramEEPROM: SelectXSlotFirmware Failed!\n", true},
        {"SelectAlternateBank", 0, 0, "ProgramEEPROM: SelectAlternateBank Failed!\n", true},
        // Logged as "ProgramEEPROM: WaitForResponse Failed!", a line of its own.
        {"WaitForResponse", 0, 0, "ProgramEEPROM: WaitForResponse Failed!\n", true},
        {"erase status", 0, orvex::kProgPGMERR, "Wait for Erase EEPROM Failed!\n\nPGMERR", true},
        {"erase status", 0, orvex::kProgPIP, "Wait for Erase EEPROM Failed!\n\nTIMEOUT", true},
        {"WriteFirmwarePacket", 7, 0, "WriteFirmwarePacket Failed!", false},
        {"packet status", 1659, orvex::kProgTXERR, "Wait for Write Firmware Packet Failed!\n\nTXERR", true},
        {"packet status", 3, orvex::kProgPIP, "Wait for Write Firmware Packet Failed!\n\nTIMEOUT", true},
        {"packet status", 4, orvex::kProgPAKRDY, "Wait for Write Firmware Packet Failed!\n\nTIMEOUT", true},
        {"RequestVerifyPacket", 0, 0, "RequestVerifyPacket Failed!", false},
        {"verify status", 9, orvex::kProgPGMERR | orvex::kProgTXERR, "Wait for Verify Packet Failed!\n\nPGMERR\nTXERR",
         true},
        {"verify status", 10, orvex::kProgPAKRDY | orvex::kProgPIP, "Wait for Verify Packet Failed!\n\nPIP\nPAKRDY",
         true},
        {"verify status", 11, orvex::kProgPIP, "Wait for Verify Packet Failed!\n\nTIMEOUT", true},
        {"ReadVerifyPacket", 12, 0, "ReadVerifyPacket Failed!", false},
        {"compare", 1659, 0, "Firmware Verify Failed!", false},
        {"SetProgrammingComplete", 0, 0, "SetProgrammingComplete Failed!", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        orvex::LogClose();
        std::filesystem::remove(dir / "OrvexUpdate.log");
        surface = RecorderSurface{};
        SetUp();
        Open([&c](ScriptedUnit& u) {
            u.fail = c.fail;
            u.failAt = c.at;
            if (c.fail == "erase status") u.eraseStatus = c.flags;
            u.packetStatus = u.verifyStatus = c.flags;
            if (c.fail != "verify status") u.verifyStatus = orvex::kProgPAKRDY;
        });
        dlg->OnUpdate();
        ASSERT_EQ(surface.boxes.size(), 3u);
        EXPECT_EQ(surface.boxes[1].text, c.text);
        EXPECT_EQ(surface.boxes[1].caption, "Orvex Firmware Update");
        EXPECT_EQ(surface.boxes[1].type, plat::mb::Ok);
        EXPECT_EQ(surface.boxes[2].text, "Updating the Firmware on the Orvex FAILED!");
        EXPECT_EQ(unit->cancels, 1u);
        EXPECT_TRUE(surface.visible[IDC_UPDATE]);
        const std::string log = Log();
        EXPECT_EQ(log.find(c.text) != std::string::npos, c.logged) << log;
    }
}

TEST_F(ProgrammingTest, AVaVovuzImageSkipsTheBankAndSetsBitSevenOfRegisterNine) {
    FakeConnection c;
    c.xslot = 21;
    c.xslotSerial = 0x15146007;  // 15 17 06 0007
    Open([](ScriptedUnit& u) { u.register9 = 0x05; }, c);
    surface.selection = 1;
    dlg->OnSelChangeModel();
    ASSERT_EQ(std::string(dlg->FirmwareFile()), "XCDNT0102NC.BIN");
    dlg->OnUpdate();
    EXPECT_TRUE(surface.visible[IDC_CONGRATULATIONS]);
    EXPECT_EQ(unit->register9, 0x85);
    EXPECT_EQ(std::count(unit->calls.begin(), unit->calls.end(), "SelectAlternateBank"), 0);
    const auto set = std::find(unit->calls.begin(), unit->calls.end(), "SetRegister 9");
    ASSERT_NE(set, unit->calls.end());
    EXPECT_EQ(*(set + 1), "SetProgrammingComplete") << "after the verify, right before completion";
    EXPECT_EQ(unit->calls.front(), "card");
    EXPECT_EQ(unit->bank.size(), 2664u * 128);
}

TEST_F(ProgrammingTest, TheWindowRefusesTheUsersActionsWhileItWrites) {
    Open([](ScriptedUnit&) {}, FakeConnection{38, "U", 24, orvex::kConnectionMidi, 28, 0, false, kFakeOrvex16Serial,
                                              2, 28, 0, 14, 2});
    ASSERT_EQ(surface.list.size(), 2u);
    int tries = 0;
    surface.onPump = [&] {
        if (tries++ != 100) return;
        surface.selection = 1;
        dlg->OnCommand(IDC_UNITS, plat::kCbnSelChange);
        dlg->OnCommand(plat::kIdCancel, 0);
        dlg->OnDropFiles({dir / "OVF028A.BIN"});
    };
    dlg->OnUpdate();
    EXPECT_GT(tries, 100);
    EXPECT_TRUE(surface.visible[IDC_CONGRATULATIONS]);
    EXPECT_FALSE(surface.ended);
    EXPECT_EQ(surface.selection, 0) << "the list shows the entry being written";
    EXPECT_FALSE(dlg->XSlotSelected());
    EXPECT_EQ(Log().find("OnSelChangeModel"), std::string::npos);
}

TEST(StatusWait, FlagsAndTheirNames) {
    struct Case {
        uint8_t flags;
        const char* names;
    } cases[] = {{0x00, ""},
                 {0x01, "\nPIP"},
                 {0x06, "\nPGMERR\nTXERR"},
                 {0x08, "\nPAKRDY"},
                 {0x10, ""},
                 {0x20, "\nTIMEOUT"},
                 {0xFF, "\nPIP\nPGMERR\nTXERR\nPAKRDY\nTIMEOUT"}};
    for (const Case& c : cases) {
        std::string text = "Wait!\n";
        COrvexUpdateDlg::AppendStatusFlags(text, c.flags);
        EXPECT_EQ(text, std::string("Wait!\n") + c.names) << int(c.flags);
    }
}

TEST_F(ProgrammingTest, TheStatusWaitEndsByModeAndLimit) {
    struct Case {
        uint8_t status;
        bool verify;
        uint8_t answer;
        bool timesOut;
    } cases[] = {
        {0x00, false, 0x00, false}, {0x80, false, 0x00, false},  // the running-bank bit is not a flag
        {0x08, false, 0x20, true},  {0x01, false, 0x20, true},   {0x02, false, 0x02, false},
        {0x05, false, 0x05, false}, {0x08, true, 0x08, false},   {0x09, true, 0x09, false},
        {0x00, true, 0x20, true},   {0x01, true, 0x20, true},    {0x12, true, 0x12, false},
        {0x10, false, 0x20, true},
    };
    Open([](ScriptedUnit&) {});
    for (const Case& c : cases) {
        unit->Cur().status = c.status;
        const uint64_t start = plat::ClockMicros();
        EXPECT_EQ(dlg->WaitForProgrammingStatus(1000, c.verify, false), c.answer) << int(c.status) << c.verify;
        const double ms = double(plat::ClockMicros() - start) / 1000;
        if (c.timesOut) {
            EXPECT_GT(ms, 1000);
            EXPECT_LT(ms, 1010);
        } else {
            EXPECT_LT(ms, 1);
        }
    }
    // No four fresh answers: TIMEOUT at once, without reading the status.
    unit->fail = "WaitForResponse";
    unit->Cur().status = 0;
    EXPECT_EQ(dlg->WaitForProgrammingStatus(1000, false, false), 0x20);
    // The bar counts tenths of a second; a range of 40 is full after 4 s.
    surface.progressPositions.clear();
    unit->fail.clear();
    unit->Cur().status = orvex::kProgPIP;
    EXPECT_EQ(dlg->WaitForProgrammingStatus(12000, false, true), 0x20);
    ASSERT_FALSE(surface.progressPositions.empty());
    EXPECT_EQ(surface.progressPositions.front(), 0);
    EXPECT_EQ(surface.progressPositions.back(), 120);
    for (size_t i = 1; i < surface.progressPositions.size(); ++i)
        EXPECT_LE(surface.progressPositions[i] - surface.progressPositions[i - 1], 1);
}

}  // namespace

#include "updater/GetSerialNumberDlg.h"

namespace {

TEST(SerialNumberDialog, TakesTenCharactersAndSubmitsOnTheEleventh) {
    struct Case {
        const char* text;
        int command, notify;
        bool ends;
        int result;
    } cases[] = {
        {"2612150123", plat::kIdOk, 0, true, plat::kIdOk},
        {"2612150123", IDC_SERIAL_EDIT, plat::kEnMaxText, true, plat::kIdOk},  // typing an eleventh digit
        {"2612150000", IDC_SERIAL_EDIT, plat::kEnMaxText, false, 0},
        {"261215012", plat::kIdOk, 0, false, 0},
        {"", plat::kIdCancel, 0, true, plat::kIdCancel},
        {"2612150123", IDC_SERIAL_EDIT, 0x0300, false, 0},  // another notification of the field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CGetSerialNumberDlg dlg;
        RecorderSurface s;
        dlg.OnInitDialog(s);
        EXPECT_EQ(s.textLimits[IDC_SERIAL_EDIT], 10);
        s.texts[IDC_SERIAL_EDIT] = c.text;
        dlg.OnCommand(c.command, c.notify);
        EXPECT_EQ(s.ended, c.ends);
        if (c.ends) {
            EXPECT_EQ(s.endResult, c.result);
        }
        if (!c.ends && c.notify != 0x0300) {
            ASSERT_EQ(s.boxes.size(), 1u);
            EXPECT_EQ(s.boxes[0].text, "Invalid Serial Number!");
            EXPECT_EQ(s.boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
        }
        if (c.result == plat::kIdOk) {
            EXPECT_EQ(dlg.SerialNumber(), kFakeOrvex16Serial);
        }
    }
}

}  // namespace
