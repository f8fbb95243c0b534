// Discovery in the main window through the real remote path: COrvexRemote
// over the MIDI transport and the virtual MIDI system, two emulated units.
#include <gtest/gtest.h>

#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "resources/resource.h"
#include "sim/OrvexUnit.h"
#include "sim/VirtualMidi.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "transport/OrvexMIDI.h"
#include "unitcontrol/OrvexRemote.h"
#include "updater/OrvexUpdateDlg.h"

TEST(DiscoveryOverMidi, EveryUnitAndItsCardAreListedInPortOrder) {
    TempDir dir;
    ChangeDir cd{dir.path};
    plat::UseVirtualClock(true);
    sim::VirtualMidi vm;
    vm.Install();
    orvex::COrvexMIDI::SetWinMMApi(&sim::VirtualMidi::Api());
    plat::SetIdleHook([&] { vm.Pump(); });

    sim::OrvexUnit::Config sixteen;
    sixteen.card.id = 21;  // VA-VOVUZ
    sim::OrvexUnit::Config eight;
    eight.deviceId = 39;
    eight.bankRevision = {18, 18};  // a DI-ZO card is not offered with firmware 18
    eight.card.id = 24;
    sim::OrvexUnit a(sixteen), b(eight);
    vm.Connect(vm.AddOutPort("Studio A Out"), vm.AddInPort("Studio A In"), &a);
    vm.Connect(vm.AddOutPort("Studio B Out"), vm.AddInPort("Studio B In"), &b);

    UnitControlFactories factories;
    factories.remote = [] { return std::make_unique<orvex::COrvexRemote>(); };
    RecorderSurface surface;
    {
        COrvexUpdateDlg dlg("", factories);
        dlg.OnInitDialog(surface);
        EXPECT_FALSE(surface.ended);
        EXPECT_EQ(surface.list, (std::vector<std::string>{"Orvex 16 connected via Studio A Out",
                                                          "VA-VOVUZ in Orvex 16 connected via Studio A Out",
                                                          "Orvex 8 connected via Studio B Out"}));
        EXPECT_EQ(dlg.ListItem(0), 0u);
        EXPECT_EQ(dlg.ListItem(1), 0x10000u);
        EXPECT_EQ(dlg.ListItem(2), 1u);
        dlg.OnDestroy();
    }
    EXPECT_EQ(vm.OpenHandles(), 0) << "closing the window closes every port";

    orvex::LogClose();
    std::string log = ReadFileText(dir / "OrvexUpdate.log");
    EXPECT_NE(log.find("Found Orvex MIDI/IrDA. Number Of Connections: 2"), std::string::npos) << log;
    EXPECT_NE(log.find("Found VA-VOVUZ in Orvex 16 connected via Studio A Out"), std::string::npos);

    plat::SetIdleHook(nullptr);
    orvex::COrvexMIDI::SetWinMMApi(nullptr);
}
