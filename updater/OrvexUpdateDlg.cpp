// The main window: furniture, views, discovery and the refresh for the
// selected list entry.
#include "updater/OrvexUpdateDlg.h"

#include <cstdio>
#include <cstring>

#include "common/Log.h"
#include "resources/resource.h"
#include "updater/AboutDlg.h"
#include "updater/FirmwareRules.h"

namespace {
constexpr const char* kCaption = "Orvex Firmware Update";
bool Ok(uint32_t status) { return (status & 0xFFFF) == orvex::kStatusSuccess; }
}  // namespace

COrvexUpdateDlg::COrvexUpdateDlg(const char* commandLineFile, UnitControlFactories factories)
    : m_Factories(std::move(factories)) {
    std::snprintf(m_szCommandLineFile, sizeof m_szCommandLineFile, "%s", commandLineFile ? commandLineFile : "");
}

COrvexUpdateDlg::~COrvexUpdateDlg() = default;

int COrvexUpdateDlg::Box(const char* text, unsigned type) { return m_pSurface->MessageBox(text, kCaption, type); }

void COrvexUpdateDlg::ShowValue(int id, const std::string& text) {
    m_pSurface->ShowItem(id, false);
    m_pSurface->SetItemText(id, text);
    m_pSurface->SetItemFont(id, m_BoldFont);
    m_pSurface->ShowItem(id, true);
}

void COrvexUpdateDlg::ShowDate(int id, const plat::LocalTime* date) {
    ShowValue(id, date ? rules::FormatDate(*date) : std::string());
}

void COrvexUpdateDlg::SetStatusLine(const char* text) {
    m_pSurface->ShowItem(IDC_PROGRAMMING, false);
    m_pSurface->SetItemText(IDC_PROGRAMMING, text);
    m_pSurface->ShowItem(IDC_PROGRAMMING, true);
    if (m_ViewObserver) m_ViewObserver(*m_pSurface, m_nView, false);
}

bool COrvexUpdateDlg::OnInitDialog(plat::IDialogSurface& surface) {
    m_pSurface = &surface;

    m_pNewFirmwareDate.reset();
    m_bFileSpecified = false;
    m_bXSlotSelected = false;
    m_bForceXCUSBDowngrade = false;
    m_szFirmwareFile[0] = '\0';
    std::memset(m_szResourceNames, 0, sizeof m_szResourceNames);
    std::memset(m_dwListItem, 0, sizeof m_dwListItem);
    m_wNewVersion = 0;
    m_ucNewMinor = 0;

    surface.AcceptFiles(true);
    m_Background = IDB_BACKGROUND;
    surface.SetBackgroundBitmap(m_Background);

    std::string about = plat::LoadString(IDS_ABOUTBOX);
    if (!about.empty()) surface.AppendSystemMenuItem(kAboutCommand, about);

    m_hIcon = IDR_MAINFRAME;
    surface.SetIcon(m_hIcon);

    if (!FindUnits()) return true;
    for (int id = IDC_NOTICE1; id <= IDC_CONGRATULATIONS; ++id) surface.SetItemFont(id, m_BoldFont);
    SetView(kViewReady);
    return true;
}

// ---- discovery -------------------------------------------------------------------

bool COrvexUpdateDlg::FindUnits() {
    plat::CursorHandle cursor = plat::SetWaitCursor();
    uint16_t count = 0;

    m_pMixerIF = m_Factories.adapter ? m_Factories.adapter() : nullptr;
    if (plat::IsKeyDown(plat::kVkShift) && plat::IsKeyDown(plat::kVkControl)) {
        OrvexLog("User is pressing CONTROL+SHIFT: Ignoring Tarsel Card");
    } else {
        OrvexLog("Trying to locate Orvex using Tarsel");
        if (m_pMixerIF && Ok(m_pMixerIF->Open())) {
            m_pMixerIF->GetNumConnections(&count);
            OrvexLog("Found Orvex Using Tarsel. Number Of Connections: %u", count);
        }
    }

    if (count == 0) {
        m_pMixerIF.reset();
        m_pMixerIF = m_Factories.remote ? m_Factories.remote() : nullptr;
        if (m_pMixerIF && Ok(m_pMixerIF->Open())) {
            m_pMixerIF->GetNumConnections(&count);
            OrvexLog("Found Orvex MIDI/IrDA. Number Of Connections: %u", count);
        }
        if (count == 0) m_pMixerIF.reset();
    }

    plat::RestoreCursor(cursor);

    if (!m_pMixerIF) {
        OrvexLog("Unable to locate an Orvex!");
        Box("Unable to locate an Orvex!", plat::mb::Ok);
        m_pSurface->EndDialog(0);
        return false;
    }
    return BuildUnitList(count);
}

bool COrvexUpdateDlg::AddEntry(const char* text, uint32_t word, int& entries) {
    // The table of list words bounds the list; an entry past it is logged, not listed.
    if (entries >= kMaxListEntries) {
        OrvexLog("Unit list full: %s not listed", text);
        return false;
    }
    int index = m_pSurface->AddListEntry(IDC_UNITS, text);
    m_pSurface->SetListItemData(IDC_UNITS, index, static_cast<uint32_t>(entries));
    m_dwListItem[entries++] = word;
    return true;
}

void COrvexUpdateDlg::AddCardEntry(uint16_t connection, const char* description, int& entries) {
    const char* format = nullptr;
    switch (m_ucXSlotDeviceID) {
        case orvex::kXSlotViRizo: {
            uint16_t type = 0;
            m_pMixerIF->GetConnectionType(&type);
            if (type == orvex::kConnectionAdapter) return;
            uint8_t revision = 0;
            m_pMixerIF->GetFirmwareRevision(&revision);
            if (revision == 18 || revision == 21) return;
            format = "VI-RIZO in %s";
            break;
        }
        case orvex::kXSlotDiZo: {
            uint8_t revision = 0;
            m_pMixerIF->GetFirmwareRevision(&revision);
            if (revision == 18 || revision == 21) return;
            format = "DI-ZO in %s";
            break;
        }
        case orvex::kXSlotVaVovuz:
            format = "VA-VOVUZ in %s";
            break;
        case orvex::kXSlotDoZaz: {
            OrvexLog("Found DO-ZAZ in %s", description);
            uint16_t type = 0;
            m_pMixerIF->GetConnectionType(&type);
            if (type == orvex::kConnectionMidi) {
                if (!m_Factories.usbCard || !m_Factories.usbCard(*m_pMixerIF)) return;
                format = "DO-ZAZ in %s";
                break;
            }
            uint8_t mode = 0;
            m_pMixerIF->GetXSlotMode(&mode);
            if (mode & 1) {
                OrvexLog("DO-ZAZ causing Front Panel Lockout!");
                Box("DO-ZAZ causing Front Panel Lockout!\n\nIf the DO-ZAZ is connected to a computer,\nthe Orvex "
                    "cannot be connected via Tarsel or MIDI!",
                    plat::mb::Ok | plat::mb::IconError);
            }
            return;
        }
        case orvex::kXSlotDuRa:
            OrvexLog("Found DU-RA in %s", description);
            return;
        case orvex::kXSlotVaVo:
            OrvexLog("Found VA-VO in %s", description);
            return;
        default:
            return;
    }
    char text[260] = {};
    std::snprintf(text, sizeof text, format, description);
    if (AddEntry(text, connection + kXSlotEntry, entries)) OrvexLog("Found %s", text);
}

bool COrvexUpdateDlg::BuildUnitList(uint16_t count) {
    int entries = 0;
    for (uint16_t a = 0; a < count; ++a) {
        uint8_t deviceID = 0;
        m_pMixerIF->SelectConnection(a);
        m_pMixerIF->GetDeviceID(&deviceID);
        if (deviceID != orvex::kDeviceOrvex16 && deviceID != orvex::kDeviceOrvex8 &&
            deviceID != orvex::kDeviceHarkenRelay4x4)
            continue;
        char description[260] = {};
        uint8_t describedID = 0;
        if (!Ok(m_pMixerIF->GetConnectionDescription(a, description, sizeof description, &describedID))) continue;
        description[sizeof description - 1] = '\0';
        OrvexLog("Found %s", description);
        if (!AddEntry(description, a, entries)) continue;
        m_pMixerIF->GetXSlotDeviceID(&m_ucXSlotDeviceID);
        AddCardEntry(a, description, entries);
    }

    if (entries == 0) {
        OrvexLog("No Orvex Found!");
        Box("No Orvex Found!", plat::mb::Ok);
        m_pSurface->EndDialog(0);
        return false;
    }
    m_pSurface->SetListSelection(IDC_UNITS, 0);
    if (!UpdateSelectedConnection(0)) {
        OrvexLog("UpdateSelectedConnection Failed!");
        m_pSurface->EndDialog(0);
        return false;
    }
    return true;
}

// ---- the refresh -------------------------------------------------------------------

void COrvexUpdateDlg::OnSelChangeModel() {
    const int index = m_pSurface->GetListSelection(IDC_UNITS);
    if (index < 0) return;
    const uint32_t item = m_pSurface->GetListItemData(IDC_UNITS, index);
    OrvexLog("OnSelChangeModel");
    UpdateSelectedConnection(item);
}

bool COrvexUpdateDlg::SwitchToEntry(uint32_t word) {
    const int count = m_pSurface->GetListCount(IDC_UNITS);
    for (int index = 0; index < count; ++index) {
        const uint32_t item = m_pSurface->GetListItemData(IDC_UNITS, index);
        if (item >= kMaxListEntries || m_dwListItem[item] != word) continue;
        m_pSurface->SetListSelection(IDC_UNITS, index);
        return UpdateSelectedConnection(item);
    }
    // Only a DO-ZAZ whose USB driver cannot reach it has no entry of its own:
    // it cannot be taken back to 5.30 from here, so nothing may be updated.
    OrvexLog("No list entry for %08lx: the DO-ZAZ cannot be reached through its USB driver",
             static_cast<unsigned long>(word));
    m_bForceXCUSBDowngrade = false;
    m_pSurface->EndDialog(0);
    return false;
}

bool COrvexUpdateDlg::UpdateSelectedConnection(uint32_t item) {
    if (item >= kMaxListEntries) return false;
    // 1. Target.
    m_bXSlotSelected = (m_dwListItem[item] & kXSlotEntry) != 0;
    m_wConnection = static_cast<uint16_t>(m_dwListItem[item] & 0xFFFF);
    m_pMixerIF->SelectConnection(m_wConnection);
    m_pMixerIF->GetConnectionType(&m_wConnectionType);
    m_pMixerIF->GetXSlotDeviceID(&m_ucXSlotDeviceID);

    // 2. Description.
    uint8_t describedID = 0;
    if (m_bXSlotSelected) {
        char description[260] = {};
        m_pMixerIF->GetConnectionDescription(m_wConnection, description, sizeof description, &describedID);
        description[sizeof description - 1] = '\0';
        std::snprintf(m_szUnitDescription, sizeof m_szUnitDescription, "%s in %s", rules::CardName(m_ucXSlotDeviceID),
                      description);
    } else {
        m_pMixerIF->GetConnectionDescription(m_wConnection, m_szUnitDescription, sizeof m_szUnitDescription,
                                             &describedID);
        m_szUnitDescription[sizeof m_szUnitDescription - 1] = '\0';
    }

    // 3, 4.
    if (!Ok(m_pMixerIF->PrepareForProgramming())) {
        OrvexLog("m_pMixerIF->PrepareForProgramming: FAILED!");
        m_pSurface->EndDialog(0);
        return false;
    }
    uint8_t unitRevision = 0;
    m_pMixerIF->GetFirmwareRevision(&unitRevision);

    // 5. Adapter firmware.
    if (m_wConnectionType == orvex::kConnectionAdapter) {
        uint32_t model = 0, adapterRevision = 0;
        if (m_Factories.adapterControl) m_Factories.adapterControl(*m_pMixerIF, "Device ID", &model);
        if (model == 36 || model == 37) {
            if (m_Factories.adapterControl) m_Factories.adapterControl(*m_pMixerIF, "Firmware Rev", &adapterRevision);
            const rules::AdapterRule rule = rules::CheckAdapterFirmware(model, unitRevision, adapterRevision);
            if (rule != rules::AdapterRule::kOk) {
                OrvexLog("Tarsel Firmware Invalid!");
                Box(rules::AdapterRuleText(rule), plat::mb::Ok | plat::mb::IconWarning);
                m_pSurface->EndDialog(0);
                return false;
            }
        }
    }

    // 6. An old unit cannot be updated while its DO-ZAZ runs 6 or later, and the
    // card must follow the unit, not lead it.
    if (m_wConnectionType == orvex::kConnectionMidi && m_ucXSlotDeviceID == orvex::kXSlotDoZaz &&
        unitRevision < 26 && !m_bForceXCUSBDowngrade) {
        uint8_t cardRevision = 0;
        m_pMixerIF->GetXSlotFirmwareRevision(&cardRevision, nullptr);
        if (cardRevision >= 6) {
            OrvexLog("MIDI: DO-ZAZ firmware 6 or higher!");
            Box(rules::kDoZazDownText, plat::mb::Ok | plat::mb::IconWarning);
            m_bXSlotSelected = true;
            m_bForceXCUSBDowngrade = true;
            return SwitchToEntry(m_wConnection + kXSlotEntry);
        }
        if (m_bXSlotSelected) {
            OrvexLog("MIDI: Cannot upgrade DO-ZAZ firmware first!");
            Box(rules::kDoZazFirstText, plat::mb::Ok | plat::mb::IconWarning);
            m_bXSlotSelected = false;
            return SwitchToEntry(m_wConnection);
        }
    }

    // 7. Serial number.
    uint8_t targetID = 0;
    uint32_t serial = 0;
    if (m_bXSlotSelected) {
        m_pMixerIF->GetXSlotDeviceID(&targetID);
        m_pMixerIF->GetXSlotSerialNumber(&serial);
    } else {
        m_pMixerIF->GetDeviceID(&targetID);
        m_pMixerIF->GetSerialNumber(&serial);
    }
    if (targetID == orvex::kDeviceOrvex16 || targetID == orvex::kXSlotVaVovuz) {
        bool ask = !rules::IsValidSerialNumber(serial);
        if (!ask && (serial >> 24) != targetID) {
            Box("Serial Number does not match Device ID!", plat::mb::Ok | plat::mb::IconWarning);
            ask = true;
        }
        if (ask && !EnterSerialNumber(targetID, &serial)) return false;
    }
    const std::string serialText = rules::SerialNumberText(serial);
    OrvexLog("SerialNumber: %s", serialText.c_str());
    ShowValue(IDC_SERIAL, serialText);

    // 8.
    if (!m_bXSlotSelected) {
        uint8_t status = 0;
        m_pMixerIF->GetProgrammingStatus(&status);
        OrvexLog((status & orvex::kProgRunningBank) ? "Bank 2 is Active" : "Bank 1 is Active");
    }

    // 9. Manufacture date.
    plat::LocalTime date{};
    ShowDate(IDC_MANUFACTURE_DATE, rules::ManufactureDate(serial, &date) ? &date : nullptr);

    // 10. PCB revision.
    uint8_t pcb = 0;
    if (m_bXSlotSelected)
        m_pMixerIF->GetXSlotPCBRevision(&pcb);
    else
        m_pMixerIF->GetPCBRevision(&pcb);
    ShowValue(IDC_PCBREV, rules::PcbText(pcb));

    // 11, 12. Current firmware.
    uint8_t current = 0;
    if (m_bXSlotSelected)
        m_pMixerIF->GetXSlotFirmwareRevision(&current, nullptr);
    else
        m_pMixerIF->GetFirmwareRevision(&current);
    const std::string currentText = rules::RevisionText(current);
    ShowValue(IDC_CURRENT_VERSION, currentText);
    OrvexLog("Current Firmware: %s", currentText.c_str());
    ShowDate(IDC_CURRENT_DATE, rules::ReleaseDate(targetID, current, &date) ? &date : nullptr);

    // 13. New firmware.
    if (!ChooseNewFirmware(targetID, pcb)) return false;

    // 14. Alternate firmware: the unit's other bank; a card shows none.
    if (m_bXSlotSelected) {
        for (int id : {IDC_ALT_VERSION_LABEL, IDC_ALT_VERSION, IDC_ALT_DATE, IDC_ALT_DATE_LABEL})
            m_pSurface->ShowItem(id, false);
    } else {
        m_pSurface->ShowItem(IDC_ALT_VERSION_LABEL, true);
        m_pSurface->ShowItem(IDC_ALT_DATE_LABEL, true);
        uint8_t alternate = 0;
        m_pMixerIF->GetAlternateFirmwareRevision(&alternate);
        ShowValue(IDC_ALT_VERSION, rules::RevisionText(alternate));
        const bool dated = alternate >= 1 && alternate <= 38 && rules::ReleaseDate(targetID, alternate, &date);
        ShowDate(IDC_ALT_DATE, dated ? &date : nullptr);
    }

    // 15.
    m_bForceXCUSBDowngrade = false;
    return true;
}

bool COrvexUpdateDlg::ChooseNewFirmware(uint8_t targetID, uint8_t pcb) {
    if (m_szCommandLineFile[0]) SelectNewFirmware(m_szCommandLineFile);

    if (!m_bFileSpecified) {
        CollectResourceNames();
        m_wNewVersion = 65535;
        m_ucNewPCBRev = 255;
        m_ucNewDeviceID = 255;
        m_szFirmwareFile[0] = '\0';
        for (int i = 0; i < m_nResourceNames; ++i) {
            rules::ImageName image;
            if (!GetDeviceIDFromFileName(m_szResourceNames[i], &image.deviceID, &image.version, &image.pcb)) continue;
            if (!rules::ImageSuitsTarget(image, targetID, pcb, m_bForceXCUSBDowngrade)) continue;
            std::snprintf(m_szFirmwareFile, sizeof m_szFirmwareFile, "%s", m_szResourceNames[i]);
            m_ucNewDeviceID = image.deviceID;
            m_wNewVersion = image.version;
            m_ucNewPCBRev = image.pcb;
            OrvexLog("Found [%s] for Device [%02lx]", m_szFirmwareFile, static_cast<unsigned long>(image.deviceID));
            break;
        }
    }

    if (m_wNewVersion == 65535) {
        m_wNewVersion = 0;
        OrvexLog("Unable to determine New Firmware Version!");
        Box("Unable to determine New Firmware Version!", plat::mb::Ok | plat::mb::IconWarning);
        m_pSurface->EndDialog(0);
        return false;
    }

    const rules::Version version = rules::SplitVersion(m_wNewVersion);
    m_wNewVersion = version.major;
    if (version.split) m_ucNewMinor = version.minor;
    OrvexLog("New Firmware: %s %s", version.text.c_str(), m_szFirmwareFile);
    ShowValue(IDC_NEW_VERSION, version.text);

    if (m_wNewVersion < 39) {
        plat::LocalTime date{};
        if (rules::ReleaseDate(targetID, m_wNewVersion, &date))
            m_pNewFirmwareDate = std::make_unique<plat::LocalTime>(date);
        else
            m_pNewFirmwareDate.reset();
        ShowDate(IDC_NEW_DATE, m_pNewFirmwareDate.get());
    } else if (!m_bFileSpecified) {
        ShowValue(IDC_NEW_DATE, "Unknown");
    }
    return true;
}

// ---- views, commands, furniture ----------------------------------------------------

void COrvexUpdateDlg::SetView(int view) {
    if (view < kViewReady || view > kViewDone) return;
    m_nView = view;
    const bool ready = view == kViewReady, programming = view == kViewProgramming, done = view == kViewDone;
    for (int id : {IDC_NOTICE1, IDC_NOTICE2, IDC_NOTICE3}) m_pSurface->ShowItem(id, ready);
    for (int id : {IDC_DONT_INTERRUPT, IDC_PROGRAMMING, IDC_PROGRESS}) m_pSurface->ShowItem(id, programming);
    m_pSurface->ShowItem(IDC_CONGRATULATIONS, done);
    m_pSurface->ShowItem(plat::kIdCancel, ready);
    m_pSurface->ShowItem(IDC_UPDATE, ready);
    m_pSurface->ShowItem(plat::kIdOk, done);
    if (m_ViewObserver) m_ViewObserver(*m_pSurface, view, true);
}

void COrvexUpdateDlg::OnCommand(int id, int notifyCode) {
    if (m_nView == kViewProgramming) {
        // The list stays on screen while the unit is written: put its selection back.
        if (id == IDC_UNITS && notifyCode == plat::kCbnSelChange) {
            for (int index = 0; index < m_pSurface->GetListCount(IDC_UNITS); ++index) {
                const uint32_t item = m_pSurface->GetListItemData(IDC_UNITS, index);
                if (item < kMaxListEntries && (m_dwListItem[item] & 0xFFFF) == m_wConnection &&
                    ((m_dwListItem[item] & kXSlotEntry) != 0) == m_bXSlotSelected)
                    m_pSurface->SetListSelection(IDC_UNITS, index);
            }
        }
        return;
    }
    if (id == plat::kIdOk || id == plat::kIdCancel) {
        m_pSurface->EndDialog(id);
    } else if (id == IDC_UPDATE) {
        OnUpdate();
    } else if (id == IDC_UNITS && notifyCode == plat::kCbnSelChange) {
        OnSelChangeModel();
    }
}

bool COrvexUpdateDlg::OnSysCommand(unsigned command) {
    if ((command & ~0xFu) != kAboutCommand) return false;
    CAboutDlg about;
    m_pSurface->RunChildDialog(IDD_ABOUTBOX, about);
    return true;
}

plat::ControlColours COrvexUpdateDlg::GetControlColours(int id) {
    if (id >= IDC_NOTICE1 && id <= IDC_CONGRATULATIONS) return {true, true};
    if (id == -1 || (id >= IDC_SERIAL && id <= IDC_NEW_DATE) || (id >= IDC_ALT_VERSION && id <= IDC_MANUFACTURE_DATE))
        return {false, true};
    return {};
}

void COrvexUpdateDlg::OnDestroy() {
    m_pNewFirmwareDate.reset();
    if (m_pMixerIF) {
        m_pMixerIF->Close();
        m_pMixerIF.reset();
    }
}
