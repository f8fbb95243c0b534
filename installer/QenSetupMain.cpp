// QenSetup.exe: the installer on the system's own services.
#include "installer/win32/QenWin32.h"

#include "common/Log.h"
#include "installer/QenSetup.h"
#include "installer/win32/QenSystemWin32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int showCommand) {
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    CQenSystemWin32 system;
    CQenSetupApp app(system);
    return app.Run(commandLine ? commandLine : "", showCommand);
}
