#include "updater/OrvexUpdateApp.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Log.h"
#include "platform/Platform.h"
#include "resources/resource.h"

COrvexUpdateApp::COrvexUpdateApp(UnitControlFactories factories, WindowRunner runner, Hooks hooks)
    : m_Factories(std::move(factories)), m_Runner(std::move(runner)), m_Hooks(std::move(hooks)) {}

std::string COrvexUpdateApp::FirmwareFileFromArgs(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (!arg.empty() && arg[0] != '-' && arg[0] != '/') return arg;
    return {};
}

int COrvexUpdateApp::Run() { return Run(plat::GetCommandLineArgs()); }

void COrvexUpdateApp::PrepareWindow(COrvexUpdateDlg& dlg, const std::vector<std::string>& args) {
    std::string pictures;
    bool autoUpdate = false;
    for (const std::string& arg : args) {
        if (arg == kAutoUpdateFlag) autoUpdate = true;
        if (arg.rfind(kPicturesFlag, 0) == 0) pictures = arg.substr(std::strlen(kPicturesFlag));
    }
    if (pictures.empty() && !autoUpdate) return;
    if (!pictures.empty()) {
        if (!plat::CreateDirectory(pictures)) OrvexLog("Pictures: cannot create the folder %s", pictures.c_str());
        if (pictures.back() != '\\' && pictures.back() != '/') pictures += plat::PathSeparator();
    }
    // Update is pressed once, at the first Ready view; the view it leads to ends the run.
    enum Step { kWaiting, kPressed, kProgramming };
    struct State {
        int pictures = 0;
        Step step = kWaiting;
    };
    auto state = std::make_shared<State>();
    dlg.SetViewObserver([pictures, autoUpdate, state](plat::IDialogSurface& surface, int view, bool viewChanged) {
        if (!pictures.empty()) {
            static const char* const kNames[] = {"ready", "programming", "done"};
            char name[64];
            std::snprintf(name, sizeof name, "%02d-%s.bmp", ++state->pictures, kNames[view]);
            const std::string path = pictures + name;
            const bool saved = surface.SavePicture(path);
            OrvexLog("Picture of the window: %s%s", path.c_str(), saved ? "" : " FAILED");
        }
        if (!autoUpdate || !viewChanged) return;
        if (view == COrvexUpdateDlg::kViewProgramming && state->step == kPressed) {
            state->step = kProgramming;
        } else if (view == COrvexUpdateDlg::kViewReady && state->step == kWaiting) {
            state->step = kPressed;
            OrvexLog("Automatic: pressing Update");
            surface.PostCommand(IDC_UPDATE);
        } else if (view == COrvexUpdateDlg::kViewReady && state->step == kProgramming) {
            OrvexLog("Automatic: pressing Cancel");
            surface.PostCommand(plat::kIdCancel);
        } else if (view == COrvexUpdateDlg::kViewDone) {
            OrvexLog("Automatic: pressing Close");
            surface.PostCommand(plat::kIdOk);
        }
    });
}

int COrvexUpdateApp::Run(const std::vector<std::string>& args) {
    OrvexLog("OrvexUpdate Built: Dec 21 2017 14:34:42");

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
        PrepareWindow(dlg, args);
        if (m_Hooks.beforeWindow) m_Hooks.beforeWindow(dlg);
        if (m_Runner(dlg) == -1)
            OrvexLog("The main window could not be created [%08lx]", (unsigned long)plat::GetLastError());
    }
    if (m_Hooks.afterWindow) m_Hooks.afterWindow();

    orvex::LogExitLine();
    orvex::LogClose();
    plat::StopSockets();
    return 0;
}
