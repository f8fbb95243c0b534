#pragma once
#include "platform/Dialog.h"

// The about box: the program icon, the build text and OK.
class CAboutDlg : public plat::IDialogHandler {
public:
    bool OnInitDialog(plat::IDialogSurface& surface) override;
    void OnCommand(int id, int notifyCode) override;

private:
    plat::IDialogSurface* m_pSurface = nullptr;
};
