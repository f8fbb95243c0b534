#pragma once
// The updater's main window: its furniture and views, discovery of units, the
// refresh for the selected entry, the firmware images, the programming
// sequence, serial-number entry and the programming-status wait.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Dialog.h"
#include "platform/Platform.h"
#include "unitcontrol/OrvexMixerInterface.h"
#include "unitcontrol/UsbCardAccess.h"

using orvex::COrvexMixerInterface;

// Makes the unit-control implementations discovery tries, adapter card first.
// A factory that is unset, or answers null, stands for a path that finds nothing.
struct UnitControlFactories {
    std::function<std::unique_ptr<COrvexMixerInterface>()> adapter;
    std::function<std::unique_ptr<COrvexMixerInterface>()> remote;
    // The DO-ZAZ card access the remote object holds for its selected connection; null when none.
    std::function<orvex::IUsbCardAccess*(COrvexMixerInterface&)> usbCard;
    // An adapter-line control of the adapter implementation ("Device ID", "Firmware Rev"),
    // read as a 4-byte value; false when it cannot be read.
    std::function<bool(COrvexMixerInterface&, const char* name, uint32_t* value)> adapterControl;
};

class COrvexUpdateDlg : public plat::IDialogHandler {
public:
    enum View { kViewReady = 0, kViewProgramming = 1, kViewDone = 2 };
    static constexpr int kMaxListEntries = 16;
    static constexpr int kMaxResourceNames = 16;
    static constexpr unsigned kAboutCommand = 0x10;
    static constexpr uint32_t kXSlotEntry = 0x10000;

    COrvexUpdateDlg(const char* commandLineFile, UnitControlFactories factories);
    ~COrvexUpdateDlg() override;

    bool OnInitDialog(plat::IDialogSurface& surface) override;
    void OnCommand(int id, int notifyCode) override;
    bool OnSysCommand(unsigned command) override;
    void OnDropFiles(const std::vector<std::string>& paths) override;
    plat::ControlColours GetControlColours(int id) override;
    void OnDestroy() override;

    void SetView(int view);
    // Called after every change of view (viewChanged) and of the status line, so an
    // unattended run can take pictures of the window and press its buttons.
    using ViewObserver = std::function<void(plat::IDialogSurface&, int view, bool viewChanged)>;
    void SetViewObserver(ViewObserver observer) { m_ViewObserver = std::move(observer); }
    // An unattended run: what is typed into the serial-number dialog for a connection's unit or card.
    using SerialAnswerer = std::function<std::string(uint16_t connection, bool card)>;
    void SetSerialAnswerer(SerialAnswerer answerer) { m_SerialAnswerer = std::move(answerer); }

    // The window's handlers, callable by tests as the window would call them.
    void OnSelChangeModel();
    void OnUpdate();
    bool ProgramEEPROM();
    // Polls the programming status until it settles, the unit reports an error,
    // or limitMs passes (0x20); dispatches one window message per pass.
    uint8_t WaitForProgrammingStatus(uint32_t limitMs, bool verifyMode, bool showProgress);
    static void AppendStatusFlags(std::string& text, uint8_t flags);

    // Read access for the window's owner and tests.
    COrvexMixerInterface* MixerIF() const { return m_pMixerIF.get(); }
    uint32_t ListItem(int index) const { return m_dwListItem[index]; }
    const char* FirmwareFile() const { return m_szFirmwareFile; }
    bool FileSpecified() const { return m_bFileSpecified; }
    bool XSlotSelected() const { return m_bXSlotSelected; }
    int ResourceNameCount() const { return m_nResourceNames; }
    const char* ResourceName(int i) const { return m_szResourceNames[i]; }
    uint8_t NewDeviceID() const { return m_ucNewDeviceID; }
    uint16_t NewVersion() const { return m_wNewVersion; }
    uint8_t NewPCBRev() const { return m_ucNewPCBRev; }
    const char* UnitDescription() const { return m_szUnitDescription; }

protected:
    // Discovery: fills the list; false when the window has been ended.
    bool FindUnits();
    bool BuildUnitList(uint16_t count);
    // The refresh for list entry `item`; false when the window has been ended.
    bool UpdateSelectedConnection(uint32_t item);

    // Firmware images.
    void CollectResourceNames();
    bool GetDeviceIDFromFileName(const char* name, uint8_t* deviceID, uint16_t* version, uint8_t* pcb);
    void SelectNewFirmware(const char* path);
    bool LoadFirmware();

    // Serial-number entry: a serial whose device ID is the target's, or false
    // when the window has been ended.
    bool EnterSerialNumber(uint8_t targetID, uint32_t* serial);

    plat::IDialogSurface* m_pSurface = nullptr;
    UnitControlFactories m_Factories;
    char m_szCommandLineFile[260] = {};
    ViewObserver m_ViewObserver;
    SerialAnswerer m_SerialAnswerer;
    // While the Programming view is up, the user's own actions (another entry,
    // a drop, Close, Cancel) are refused: they must not reach the unit mid-update.
    int m_nView = kViewReady;

    // Shared by the refresh, the images, programming and serial-number entry.
    std::unique_ptr<COrvexMixerInterface> m_pMixerIF;
    uint16_t m_wConnection = orvex::kNoConnection;
    uint16_t m_wConnectionType = 0;
    uint32_t m_dwListItem[kMaxListEntries] = {};
    int m_hIcon = 0;
    plat::FontSpec m_BoldFont{"Tahoma", 13, 700};
    int m_Background = 0;
    uint8_t m_ucXSlotDeviceID = 0;
    bool m_bFileSpecified = false;
    uint8_t m_ucNewDeviceID = 0;
    uint16_t m_wNewVersion = 0;
    uint8_t m_ucNewMinor = 0;
    uint8_t m_ucNewPCBRev = 0;
    std::unique_ptr<plat::LocalTime> m_pNewFirmwareDate;
    bool m_bXSlotSelected = false;
    bool m_bForceXCUSBDowngrade = false;
    int32_t m_nResourceNames = 0;
    char m_szResourceNames[kMaxResourceNames][16] = {};
    char m_szFirmwareFile[260] = {};
    uint32_t m_dwFirmwareSize = 0;
    std::unique_ptr<uint8_t[]> m_pFirmware;
    char m_szUnitDescription[256] = {};

private:
    int Box(const char* text, unsigned type);
    // "fail" of the programming sequence: show the text, log it when asked, answer false.
    bool Fail(const std::string& text, bool log);
    // Hide, set, embolden, show: how every value field is updated.
    void ShowValue(int id, const std::string& text);
    void SetStatusLine(const char* text);
    void ShowDate(int id, const plat::LocalTime* date);
    bool AddEntry(const char* text, uint32_t word, int& entries);
    void AddCardEntry(uint16_t connection, const char* description, int& entries);
    // Selects the list entry whose word is `word` and refreshes for it.
    bool SwitchToEntry(uint32_t word);
    bool ChooseNewFirmware(uint8_t targetID, uint8_t pcb);
};
