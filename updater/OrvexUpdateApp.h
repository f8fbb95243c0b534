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

    COrvexUpdateApp(UnitControlFactories factories, WindowRunner runner);
    // The whole process from the banner to the exit line; answers the process exit code.
    int Run();

    // The first argument that is not a flag ("-..." or "/..."); further ones are ignored.
    static std::string FirmwareFileFromArgs(const std::vector<std::string>& args);
    // Answers every message box by itself (OK where offered) and logs its text.
    static constexpr const char* kAutoAnswerFlag = "-autoanswer";

    const std::string& FirmwareFile() const { return m_szFirmwareFile; }
    const std::string& RegistryKey() const { return m_szRegistryKey; }

private:
    UnitControlFactories m_Factories;
    WindowRunner m_Runner;
    std::string m_szFirmwareFile;
    std::string m_szRegistryKey;
};
