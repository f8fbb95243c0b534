// OrvexUpdate.exe: the application with the program's own unit-control paths.
#include "platform/Platform.h"
#include "resources/resource.h"
#include "transport/OrvexMIDI.h"
#include "transport/WinMMApi.h"
#include "unitcontrol/OrvexRemote.h"
#include "updater/OrvexUpdateApp.h"

int main() {
    orvex::COrvexMIDI::SetWinMMApi(&winmm::SystemWinMM());
    UnitControlFactories factories;
    // The adapter-card path is not part of the program yet: discovery goes straight to the remote path.
    factories.remote = [] { return std::make_unique<orvex::COrvexRemote>(); };
    factories.usbCard = [](COrvexMixerInterface& unit) -> orvex::IUsbCardAccess* {
        auto* remote = dynamic_cast<orvex::COrvexRemote*>(&unit);
        return remote ? remote->UsbCardAccess() : nullptr;
    };
    COrvexUpdateApp app(factories, [](COrvexUpdateDlg& dlg) {
        return plat::DialogBoxParam(IDD_ORVEXUPDATE_DIALOG, dlg);
    });
    return app.Run();
}
