#pragma once
// What dialog logic sees of its window. The Win32 host implements it on real
// controls from a dialog template; tests implement it with a recorder.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct FontSpec {
    std::string face;
    int height;  // pixels
    int weight;  // 400 normal, 700 bold
};

class IDialogHandler;

class IDialogSurface {
public:
    virtual ~IDialogSurface() = default;
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual std::string GetItemText(int id) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual bool IsItemVisible(int id) = 0;
    virtual void SetItemFont(int id, const FontSpec& font) = 0;
    // Characters an edit field takes; typing past them reports kEnMaxText.
    virtual void SetItemTextLimit(int id, int characters) = 0;

    // The drop-down list.
    virtual int AddListEntry(int id, const std::string& text) = 0;  // index of the new entry
    virtual void SetListItemData(int id, int index, uint32_t data) = 0;
    virtual uint32_t GetListItemData(int id, int index) = 0;
    virtual void SetListSelection(int id, int index) = 0;
    virtual int GetListSelection(int id) = 0;
    virtual int GetListCount(int id) = 0;

    virtual void SetProgressRange(int id, int low, int high) = 0;
    virtual void SetProgressPos(int id, int pos) = 0;

    // Window furniture.
    virtual void SetIcon(int iconId) = 0;                // large and small icon
    virtual void SetBackgroundBitmap(int bitmapId) = 0;  // tiled over the client area
    virtual void AppendSystemMenuItem(unsigned command, const std::string& text) = 0;  // after a separator
    virtual void AcceptFiles(bool accept) = 0;

    virtual void EndDialog(int result) = 0;
    // Queues a command for the window, handled once the current handler has returned.
    virtual void PostCommand(int id) = 0;
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned type) = 0;
    virtual int RunChildDialog(int templateId, IDialogHandler& handler) = 0;  // modal, owned by this window
    virtual bool PumpMessage() = 0;
    virtual void* NativeHandle() = 0;
    // Saves what the window shows now as a picture file (BMP); false when it cannot.
    virtual bool SavePicture(const std::string& path) = 0;
};

struct ControlColours {
    bool blueText = false;
    bool transparent = false;  // transparent text background, hollow brush
};

class IDialogHandler {
public:
    virtual ~IDialogHandler() = default;
    // The surface stays valid until OnDestroy returns.
    virtual bool OnInitDialog(IDialogSurface& surface) = 0;
    virtual void OnCommand(int id, int notifyCode) = 0;
    // True when the handler took the system command; false for the default handling.
    virtual bool OnSysCommand(unsigned command) { (void)command; return false; }
    virtual void OnDropFiles(const std::vector<std::string>& paths) { (void)paths; }
    virtual ControlColours GetControlColours(int id) { (void)id; return {}; }
    virtual void OnDestroy() {}
};

// Runs a dialog template modally with no owner; answers the EndDialog result, -1 when it cannot.
int DialogBoxParam(int templateId, IDialogHandler& handler);
// Saves what a window shows now, its frame included, as a 24-bit BMP file; false when it cannot.
bool SaveWindowPicture(void* window, const std::string& path);

// Notification codes the handlers look at.
inline constexpr int kCbnSelChange = 1;
inline constexpr int kEnMaxText = 0x0501;
inline constexpr int kIdOk = 1, kIdCancel = 2;

}  // namespace plat
