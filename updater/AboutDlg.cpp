#include "updater/AboutDlg.h"

bool CAboutDlg::OnInitDialog(plat::IDialogSurface& surface) {
    m_pSurface = &surface;
    return true;
}

void CAboutDlg::OnCommand(int id, int) {
    if (id == plat::kIdOk || id == plat::kIdCancel) m_pSurface->EndDialog(id);
}
