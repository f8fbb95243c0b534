// The main window's serial-number entry: ask, write, wait for the unit to
// store it, and ask again until the number belongs to the target.
#include <string>

#include "common/Log.h"
#include "resources/resource.h"
#include "updater/GetSerialNumberDlg.h"
#include "updater/OrvexUpdateDlg.h"

bool COrvexUpdateDlg::EnterSerialNumber(uint8_t targetID, uint32_t* serial) {
    for (;;) {
        CGetSerialNumberDlg dlg;
        if (m_SerialAnswerer) dlg.SetAutoEntry(m_SerialAnswerer(m_wConnection, m_bXSlotSelected));
        if (m_pSurface->RunChildDialog(IDD_SERIALNUMBER, dlg) != plat::kIdOk) {
            OrvexLog("Invalid Serial Number. User Pressed Cancel.");
            m_pSurface->EndDialog(0);
            return false;
        }
        const uint32_t entered = dlg.SerialNumber();
        SetView(kViewProgramming);
        SetStatusLine("Writing Serial Number... Please wait...");
        const uint32_t status = m_bXSlotSelected ? m_pMixerIF->WriteXSlotSerialNumber(entered)
                                                 : m_pMixerIF->WriteSerialNumber(entered);
        if ((status & 0xFFFF) == orvex::kStatusFailure) {
            m_pSurface->EndDialog(0);
            return false;
        }
        if (uint8_t flags = WaitForProgrammingStatus(1000, false, false)) {
            std::string text = "Wait for WriteSerialNumber Failed!\n";
            AppendStatusFlags(text, flags);
            OrvexLog("%s", text.c_str());
            m_pSurface->MessageBox(text, "Orvex Firmware Update", plat::mb::Ok);
            m_pSurface->EndDialog(0);
            return false;
        }
        SetStatusLine("Writing Serial Number Complete...");
        SetView(kViewReady);
        if ((entered >> 24) == targetID) {
            *serial = entered;
            return true;
        }
        m_pSurface->MessageBox("Serial Number does not match Device ID!", "Orvex Firmware Update",
                               plat::mb::Ok | plat::mb::IconWarning);
    }
}
