#pragma once
// "Enter Orvex Serial Number": the serial number printed on the back of the
// unit, checked for form and validity before the dialog may end with OK.
#include <cstdint>
#include <string>

#include "platform/Dialog.h"

class CGetSerialNumberDlg : public plat::IDialogHandler {
public:
    static constexpr int kEditId = 1002;
    static constexpr int kTextLimit = 10;

    bool OnInitDialog(plat::IDialogSurface& surface) override;
    void OnCommand(int id, int notifyCode) override;

    // An unattended run types this into the field and presses OK.
    void SetAutoEntry(const std::string& text) { m_AutoEntry = text; }
    // Valid only when the dialog ended with OK.
    uint32_t SerialNumber() const { return m_dwSerialNumber; }

private:
    void OnOK();

    plat::IDialogSurface* m_pSurface = nullptr;
    uint32_t m_dwSerialNumber = 0;
    std::string m_AutoEntry;
};
