#include "updater/ProgramMain.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "sim/studio/Studio.h"
#include "adapter/OrvexMixer.h"
#include "unitcontrol/OrvexRemote.h"

UnitControlFactories ProgramFactories() {
    UnitControlFactories factories;
    factories.adapter = [] { return std::make_unique<orvex::COrvexMixer>(); };
    factories.adapterControl = orvex::ReadAdapterControl;
    factories.remote = [] { return std::make_unique<orvex::COrvexRemote>(); };
    factories.usbCard = [](COrvexMixerInterface& unit) -> orvex::IUsbCardAccess* {
        auto* remote = dynamic_cast<orvex::COrvexRemote*>(&unit);
        return remote ? remote->UsbCardAccess() : nullptr;
    };
    return factories;
}

namespace {

// Whether the arguments ask for simulation mode, and with which scenario.
bool SimulationRequested(const std::vector<std::string>& args, std::string* scenario) {
    const size_t n = std::strlen(kSimulateFlag);
    for (const std::string& arg : args) {
        if (arg == kSimulateFlag) return true;
        if (arg.compare(0, n + 1, std::string(kSimulateFlag) + "=") == 0) {
            *scenario = arg.substr(n + 1);
            return true;
        }
    }
    return false;
}

bool HasFlag(const std::vector<std::string>& args, const char* flag) {
    for (const std::string& arg : args)
        if (arg == flag) return true;
    return false;
}

}  // namespace

int RunOrvexUpdate(const std::vector<std::string>& args, const COrvexUpdateApp::WindowRunner& runner) {
    std::string scenarioName;
    if (!SimulationRequested(args, &scenarioName)) {
        COrvexUpdateApp app(ProgramFactories(), runner);
        return app.Run(args);
    }

    sim::Scenario scenario;
    std::string error;
    if (!sim::LoadScenario(scenarioName, &scenario, &error)) {
        const std::string text = "The simulated studio cannot be set up:\n\n" + error;
        std::fprintf(stderr, "OrvexUpdate: %s\n", text.c_str());
        if (!HasFlag(args, COrvexUpdateApp::kAutoAnswerFlag))
            plat::MessageBox(text, "Orvex Firmware Update", plat::mb::Ok | plat::mb::IconError);
        return 2;
    }
    sim::Studio studio(scenario);
    COrvexUpdateApp::Hooks hooks;
    const bool unattended = HasFlag(args, COrvexUpdateApp::kAutoUpdateFlag);
    hooks.beforeWindow = [&](COrvexUpdateDlg& dlg) {
        studio.Install();
        // An unattended run types what is printed on the unit, as its owner would.
        if (unattended)
            dlg.SetSerialAnswerer([&](uint16_t connection, bool card) {
                return studio.SerialLabel(studio.UnitOfConnection(connection), card);
            });
    };
    hooks.afterWindow = [&] {
        studio.PowerCycleAndReport();
        studio.Uninstall();
    };
    COrvexUpdateApp app(ProgramFactories(), runner, hooks);
    return app.Run(args);
}
