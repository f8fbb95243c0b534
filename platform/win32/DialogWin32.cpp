// Runs dialog templates on real Win32 controls and hands their events to portable handlers.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "platform/win32/Win32Names.h"

#include <map>
#include <tuple>

#include "platform/Dialog.h"
#include "platform/Platform.h"

namespace plat {
namespace {

// The window as it is on screen, its frame included, as a 24-bit BMP file.
bool SaveWindowPictureImpl(HWND hwnd, const std::string& path) {
    // During its set-up a dialog is not on screen yet.
    if (!IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    // The window's own device context: what was drawn last, even before the
    // display has been brought up to date with it.
    HDC screen = GetWindowDC(hwnd);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = dib != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        const DWORD stride = ((static_cast<DWORD>(w) * 3) + 3) & ~3u;
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof(BITMAPINFOHEADER);
        fh.bfSize = fh.bfOffBits + stride * static_cast<DWORD>(h);
        HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        ok = f != INVALID_HANDLE_VALUE && ::WriteFile(f, &fh, sizeof fh, &done, nullptr) &&
             ::WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &done, nullptr) &&
             ::WriteFile(f, bits, stride * static_cast<DWORD>(h), &done, nullptr);
        if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(hwnd, screen);
    return ok;
}


class Win32Surface final : public IDialogSurface {
public:
    explicit Win32Surface(IDialogHandler& handler) : handler_(handler) {}
    ~Win32Surface() override { ReleaseGdi(); }

    IDialogHandler& handler_;
    HWND hwnd_ = nullptr;
    HICON icon_ = nullptr;
    HBITMAP background_ = nullptr;
    std::map<std::tuple<std::string, int, int>, HFONT> fonts_;

    void ReleaseGdi() {
        for (auto& f : fonts_) DeleteObject(f.second);
        fonts_.clear();
        if (background_) DeleteObject(background_);
        background_ = nullptr;
    }

    HWND Item(int id) { return GetDlgItem(hwnd_, id); }

    void SetItemText(int id, const std::string& text) override { SetDlgItemTextA(hwnd_, id, text.c_str()); }
    std::string GetItemText(int id) override {
        char buf[1024] = {};
        GetDlgItemTextA(hwnd_, id, buf, sizeof buf);
        return buf;
    }
    void ShowItem(int id, bool show) override { ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); }
    bool IsItemVisible(int id) override { return (GetWindowLongA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
    void SetItemTextLimit(int id, int characters) override { SendMessageA(Item(id), EM_LIMITTEXT, characters, 0); }
    void SetItemFont(int id, const FontSpec& font) override {
        auto key = std::make_tuple(font.face, font.height, font.weight);
        HFONT& handle = fonts_[key];
        if (!handle) handle = CreateFontA(font.height, 0, 0, 0, font.weight, 0, 0, 0, 0, 0, 0, 0, 0, font.face.c_str());
        SendMessageA(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(handle), TRUE);
    }

    int AddListEntry(int id, const std::string& text) override {
        return static_cast<int>(SendMessageA(Item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    void SetListItemData(int id, int index, uint32_t data) override {
        SendMessageA(Item(id), CB_SETITEMDATA, index, data);
    }
    uint32_t GetListItemData(int id, int index) override {
        return static_cast<uint32_t>(SendMessageA(Item(id), CB_GETITEMDATA, index, 0));
    }
    void SetListSelection(int id, int index) override { SendMessageA(Item(id), CB_SETCURSEL, index, 0); }
    int GetListSelection(int id) override { return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0)); }
    int GetListCount(int id) override { return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0)); }

    void SetProgressRange(int id, int low, int high) override { SendMessageA(Item(id), PBM_SETRANGE32, low, high); }
    void SetProgressPos(int id, int pos) override { SendMessageA(Item(id), PBM_SETPOS, pos, 0); }

    void SetIcon(int iconId) override {
        icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId));
        SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    }
    void SetBackgroundBitmap(int bitmapId) override {
        if (background_) DeleteObject(background_);
        background_ = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmapId));
    }
    void AppendSystemMenuItem(unsigned command, const std::string& text) override {
        HMENU menu = GetSystemMenu(hwnd_, FALSE);
        if (!menu) return;
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, command, text.c_str());
    }
    void AcceptFiles(bool accept) override { DragAcceptFiles(hwnd_, accept); }

    void EndDialog(int result) override { ::EndDialog(hwnd_, result); }
    void PostCommand(int id) override { PostMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
        if (const auto& answerer = GetMessageBoxAnswerer()) return answerer(text, caption, type);
        return ::MessageBoxA(hwnd_, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
    }
    int RunChildDialog(int templateId, IDialogHandler& handler) override;
    bool PumpMessage() override { return PumpOneMessage(); }
    void* NativeHandle() override { return hwnd_; }
    bool SavePicture(const std::string& path) override { return SaveWindowPicture(hwnd_, path); }

    void Paint() {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        RECT client;
        GetClientRect(hwnd_, &client);
        if (IsIconic(hwnd_)) {
            int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
            int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
            DrawIcon(dc, x, y, icon_);
        } else if (background_) {
            BITMAP bm;
            GetObjectA(background_, sizeof bm, &bm);
            HDC mem = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(mem, background_);
            // Column by column from the left edge, at the bitmap's natural size.
            for (int x = 0; x < client.right && bm.bmWidth > 0; x += bm.bmWidth)
                for (int y = 0; y < client.bottom && bm.bmHeight > 0; y += bm.bmHeight)
                    BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteDC(mem);
        }
        EndPaint(hwnd_, &ps);
    }
};

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* s = reinterpret_cast<Win32Surface*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        s = reinterpret_cast<Win32Surface*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        s->hwnd_ = hwnd;
        return s->handler_.OnInitDialog(*s) ? TRUE : FALSE;
    }
    if (!s) return FALSE;
    switch (msg) {
        case WM_COMMAND:
            s->handler_.OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return s->handler_.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            if (!s->background_ && !IsIconic(hwnd)) return FALSE;
            s->Paint();
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(s->icon_);
        case WM_CTLCOLORSTATIC: {
            int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id == 0xFFFF) id = -1;  // labels without an id
            ControlColours c = s->handler_.GetControlColours(id);
            if (!c.blueText && !c.transparent) return FALSE;
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (c.blueText) SetTextColor(dc, RGB(0, 0, 255));
            if (!c.transparent) return FALSE;
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
        }
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            std::vector<std::string> paths;
            UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < count; ++i) {
                char path[MAX_PATH + 1] = {};
                DragQueryFileA(drop, i, path, MAX_PATH);
                paths.emplace_back(path);
            }
            s->handler_.OnDropFiles(paths);
            DragFinish(drop);
            return TRUE;
        }
        case WM_DESTROY:
            s->handler_.OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

int RunDialog(HWND owner, int templateId, IDialogHandler& handler) {
    static bool commonControls = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)commonControls;
    Win32Surface surface(handler);
    INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner, DialogProc,
                                reinterpret_cast<LPARAM>(&surface));
    return static_cast<int>(r);
}

int Win32Surface::RunChildDialog(int templateId, IDialogHandler& handler) {
    return RunDialog(hwnd_, templateId, handler);
}

}  // namespace

int DialogBoxParam(int templateId, IDialogHandler& handler) { return RunDialog(nullptr, templateId, handler); }

bool SaveWindowPicture(void* window, const std::string& path) {
    return SaveWindowPictureImpl(static_cast<HWND>(window), path);
}

}  // namespace plat
