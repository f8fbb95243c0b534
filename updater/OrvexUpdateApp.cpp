#include "updater/OrvexUpdateApp.h"

#include <cstring>

#include "common/Log.h"
#include "platform/Platform.h"

COrvexUpdateApp::COrvexUpdateApp(UnitControlFactories factories, WindowRunner runner)
    : m_Factories(std::move(factories)), m_Runner(std::move(runner)) {}

std::string COrvexUpdateApp::FirmwareFileFromArgs(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (!arg.empty() && arg[0] != '-' && arg[0] != '/') return arg;
    return {};
}

int COrvexUpdateApp::Run() {
    OrvexLog("OrvexUpdate Built: Dec 21 2017 14:34:42");

    const std::vector<std::string> args = plat::GetCommandLineArgs();
    for (const std::string& arg : args) {
        if (arg != kAutoAnswerFlag) continue;
        plat::SetMessageBoxAnswerer([](const std::string& text, const std::string& caption, unsigned type) {
            int answer = plat::DefaultAnswer(type);
            OrvexLog("Message box answered automatically [%s] %s -> %d", caption.c_str(), text.c_str(), answer);
            return answer;
        });
    }

    if (!plat::StartSockets()) {
        // The program carries no text of its own for this case.
        plat::MessageBox("Windows Sockets 1.1 could not be initialized.", "Orvex Firmware Update",
                         plat::mb::Ok | plat::mb::IconError);
        orvex::LogClose();
        return 1;
    }

    plat::OsVersion version{};
    if (!plat::GetVersionEx(&version)) {
        plat::MessageBox("GetVersionEx Failed!", "", plat::mb::Ok | plat::mb::IconWarning);
        orvex::LogClose();
        return 1;
    }
    if (version.platformId != plat::kPlatformNT) {
        OrvexLog("Terminating: Unsupported Operating System.");
        plat::MessageBox("Orvex Firmware Update does not support this operating system.", "",
                         plat::mb::Ok | plat::mb::IconWarning);
        orvex::LogClose();
        return 1;
    }

    plat::PowerStatus power{};
    if (!plat::GetSystemPowerStatus(&power)) {
        OrvexLog("GetSystemPowerStatus FAILED! [%08lx]", (unsigned long)plat::GetLastError());
    } else if (power.acLineStatus == 0) {
        OrvexLog("Terminating: On Battery Power");
        plat::MessageBox("This computer must be connected to AC power to update firmware.", "On Battery Power",
                         plat::mb::Ok | plat::mb::IconError);
        orvex::LogClose();
        return 1;
    }

    // Settings would live under this key; the program stores nothing there.
    m_szRegistryKey = "Software\\Pelk";

    m_szFirmwareFile = FirmwareFileFromArgs(args);

    {
        COrvexUpdateDlg dlg(m_szFirmwareFile.c_str(), m_Factories);
        if (m_Runner(dlg) == -1)
            OrvexLog("The main window could not be created [%08lx]", (unsigned long)plat::GetLastError());
    }

    orvex::LogExitLine();
    orvex::LogClose();
    plat::StopSockets();
    return 0;
}
