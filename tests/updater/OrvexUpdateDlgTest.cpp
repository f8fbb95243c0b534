#include <gtest/gtest.h>

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
