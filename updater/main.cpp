// OrvexUpdate.exe
#include "platform/Platform.h"
#include "resources/resource.h"
#include "transport/OrvexMIDI.h"
#include "transport/WinMMApi.h"
#include "updater/ProgramMain.h"

int main() {
    orvex::COrvexMIDI::SetWinMMApi(&winmm::SystemWinMM());
    return RunOrvexUpdate(plat::GetCommandLineArgs(),
                          [](COrvexUpdateDlg& dlg) { return plat::DialogBoxParam(IDD_ORVEXUPDATE_DIALOG, dlg); });
}
