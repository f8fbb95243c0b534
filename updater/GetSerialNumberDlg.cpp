#include "updater/GetSerialNumberDlg.h"

#include "common/Log.h"
#include "updater/FirmwareRules.h"

bool CGetSerialNumberDlg::OnInitDialog(plat::IDialogSurface& surface) {
    m_pSurface = &surface;
    surface.SetItemTextLimit(kEditId, kTextLimit);
    if (!m_AutoEntry.empty()) {
        OrvexLog("Automatic: typing serial number %s", m_AutoEntry.c_str());
        surface.SetItemText(kEditId, m_AutoEntry);
        surface.PostCommand(plat::kIdOk);
    }
    return true;
}

void CGetSerialNumberDlg::OnCommand(int id, int notifyCode) {
    // Typing past the tenth digit submits the ten already typed.
    if (id == kEditId && notifyCode == plat::kEnMaxText) OnOK();
    else if (id == plat::kIdOk) OnOK();
    else if (id == plat::kIdCancel) m_pSurface->EndDialog(plat::kIdCancel);
}

void CGetSerialNumberDlg::OnOK() {
    std::string text = m_pSurface->GetItemText(kEditId);
    if (text.size() > 260) text.resize(260);
    uint32_t serial = 0;
    if (rules::ParseSerialNumberText(text, &serial) != rules::SerialEntry::kAccepted) {
        m_pSurface->MessageBox("Invalid Serial Number!", "Orvex Firmware Update", plat::mb::Ok | plat::mb::IconWarning);
        return;
    }
    m_dwSerialNumber = serial;
    m_pSurface->EndDialog(plat::kIdOk);
}
