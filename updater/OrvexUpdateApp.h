#pragma once
// Process start-up of the updater: the checks, the main window, the exit line.
#include <functional>
#include <string>
#include <vector>

#include "updater/OrvexUpdateDlg.h"

class COrvexUpdateApp {
public:
    // Runs the main window modally and answers its result; tests drive it through a recorder.
    using WindowRunner = std::function<int(COrvexUpdateDlg&)>;
    // Around the window: after the start-up checks, and after the window has closed
    // (before the exit line). Simulation mode sets up and reports its studio here.
    struct Hooks {
        std::function<void(COrvexUpdateDlg&)> beforeWindow;
        std::function<void()> afterWindow;
    };

    COrvexUpdateApp(UnitControlFactories factories, WindowRunner runner, Hooks hooks = {});
    // The whole process from the banner to the exit line; answers the process exit code.
    int Run();
    int Run(const std::vector<std::string>& args);

    // The first argument that is not a flag ("-..." or "/..."); further ones are ignored.
    static std::string FirmwareFileFromArgs(const std::vector<std::string>& args);
    // Answers every message box by itself (OK where offered) and logs its text.
    static constexpr const char* kAutoAnswerFlag = "-autoanswer";
    // Presses Update once the window is ready, then Close (or Cancel after a failure).
    static constexpr const char* kAutoUpdateFlag = "-autoupdate";
    // -pictures=FOLDER: a picture of the window at each change of view or status line.
    static constexpr const char* kPicturesFlag = "-pictures=";

    const std::string& FirmwareFile() const { return m_szFirmwareFile; }
    const std::string& RegistryKey() const { return m_szRegistryKey; }

private:
    void PrepareWindow(COrvexUpdateDlg& dlg, const std::vector<std::string>& args);

    UnitControlFactories m_Factories;
    WindowRunner m_Runner;
    Hooks m_Hooks;
    std::string m_szFirmwareFile;
    std::string m_szRegistryKey;
};
