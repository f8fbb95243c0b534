// Shows the real main window in its three views and the about box, and writes
// each as a BMP file into the working directory. Fails when a capture is blank.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Win32Names.h"
#include "resources/resource.h"
#include "tests/support/FakeUnits.h"
#include "updater/OrvexUpdateApp.h"

namespace {

int g_failures = 0;

// Saves the window's picture; false when the file is missing or every pixel is the same.
bool Capture(HWND window, const char* file) {
    bool ok = plat::SaveWindowPicture(window, file);
    std::set<uint32_t> colours;
    int w = 0, h = 0;
    if (FILE* f = ok ? std::fopen(file, "rb") : nullptr) {
        BITMAPFILEHEADER fh{};
        BITMAPINFOHEADER ih{};
        ok = std::fread(&fh, sizeof fh, 1, f) == 1 && std::fread(&ih, sizeof ih, 1, f) == 1;
        w = ih.biWidth;
        h = ih.biHeight;
        const int stride = ((w * 3) + 3) & ~3;
        std::vector<uint8_t> row(stride > 0 ? stride : 0);
        for (int y = 0; ok && y < h && colours.size() < 16; ++y) {
            if (std::fread(row.data(), 1, row.size(), f) != row.size()) break;
            for (int x = 0; x < w; ++x) colours.insert(row[x * 3] | (row[x * 3 + 1] << 8) | (row[x * 3 + 2] << 16));
        }
        std::fclose(f);
    }
    ok = ok && w > 0 && h > 0 && colours.size() > 1;
    std::printf("%s: %dx%d, %s\n", file, w, h, ok ? "captured" : "BLANK");
    return ok;
}

class ShotDlg;
ShotDlg* g_dlg = nullptr;
HWND g_main = nullptr;
int g_step = 0;

class ShotDlg : public COrvexUpdateDlg {
public:
    using COrvexUpdateDlg::COrvexUpdateDlg;
    bool OnInitDialog(plat::IDialogSurface& surface) override {
        bool r = COrvexUpdateDlg::OnInitDialog(surface);
        g_main = static_cast<HWND>(surface.NativeHandle());
        surface.SetProgressRange(IDC_PROGRESS, 0, 100);
        surface.SetProgressPos(IDC_PROGRESS, 40);
        return r;
    }
    plat::IDialogSurface& Surface() { return *m_pSurface; }
};

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
    switch (g_step++) {
        case 0:
            g_failures += !Capture(g_main, "main-ready.bmp");
            g_dlg->SetView(COrvexUpdateDlg::kViewProgramming);
            break;
        case 1:
            g_failures += !Capture(g_main, "main-programming.bmp");
            g_dlg->SetView(COrvexUpdateDlg::kViewDone);
            break;
        case 2:
            g_failures += !Capture(g_main, "main-done.bmp");
            // The system-menu item: the about box runs modally inside this loop.
            PostMessageA(g_main, WM_SYSCOMMAND, COrvexUpdateDlg::kAboutCommand, 0);
            break;
        case 3: {
            HWND about = FindWindowA(nullptr, "About Orvex Update");
            if (!about) {
                std::printf("about box not found\n");
                ++g_failures;
            } else {
                g_failures += !Capture(about, "about.bmp");
                PostMessageA(about, WM_COMMAND, IDOK, 0);
            }
            break;
        }
        default:
            PostMessageA(g_main, WM_COMMAND, IDCANCEL, 0);
            break;
    }
}

}  // namespace

int main() {
    std::vector<FakeConnection> units = {{38, "Orvex 16 connected via Virtual Port 1", 21},
                                         {128, "Harken Relay 4x4 connected via Virtual Port 2"}};
    UnitControlFactories factories;
    factories.remote = [units] { return std::make_unique<FakeUnits>(units); };
    ShotDlg dlg("", factories);
    g_dlg = &dlg;
    // A thread timer keeps firing inside the about box's own modal loop.
    SetTimer(nullptr, 0, 700, Step);
    int result = plat::DialogBoxParam(IDD_ORVEXUPDATE_DIALOG, dlg);
    if (result < 0) {
        std::printf("dialog could not be created\n");
        return 1;
    }
    if (g_step < 5) {
        std::printf("window closed early at step %d\n", g_step);
        ++g_failures;
    }
    return g_failures == 0 ? 0 : 1;
}
