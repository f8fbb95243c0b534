#pragma once
// The updater's main window: its state, its fixed furniture and views, and
// the discovery of units when it opens.
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
    static constexpr unsigned kAboutCommand = 0x10;

    COrvexUpdateDlg(const char* commandLineFile, UnitControlFactories factories);
    ~COrvexUpdateDlg() override;

    bool OnInitDialog(plat::IDialogSurface& surface) override;
    void OnCommand(int id, int notifyCode) override;
    bool OnSysCommand(unsigned command) override;
    plat::ControlColours GetControlColours(int id) override;
    void OnDestroy() override;

    void SetView(int view);

    // Read access for the window's owner and tests.
    COrvexMixerInterface* MixerIF() const { return m_pMixerIF.get(); }
    uint32_t ListItem(int index) const { return m_dwListItem[index]; }

protected:
    // Fills the list; false when the window has been ended.
    bool FindUnits();
    bool BuildUnitList(uint16_t count);
    // Refreshes the window for list entry `item`.
    virtual bool UpdateSelectedConnection(uint32_t item);

    plat::IDialogSurface* m_pSurface = nullptr;
    UnitControlFactories m_Factories;
    char m_szCommandLineFile[260] = {};

    // Shared with the unit-information, programming and serial-number steps.
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
    char m_szResourceNames[16][16] = {};
    char m_szFirmwareFile[260] = {};
    uint32_t m_dwFirmwareSize = 0;
    std::unique_ptr<uint8_t[]> m_pFirmware;
    char m_szUnitDescription[256] = {};

private:
    int Box(const char* text, unsigned type);
    bool AddEntry(const char* text, uint32_t word, int& entries);
    void AddCardEntry(uint16_t connection, const char* description, int& entries);
};
