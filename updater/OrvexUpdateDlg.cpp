#include "updater/OrvexUpdateDlg.h"

#include <cstdio>
#include <cstring>

#include "common/Log.h"
#include "resources/resource.h"
#include "updater/AboutDlg.h"

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
    // The table of list words bounds the list; a unit past it is logged, not listed.
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
    if (AddEntry(text, connection + 0x10000u, entries)) OrvexLog("Found %s", text);
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

bool COrvexUpdateDlg::UpdateSelectedConnection(uint32_t item) {
    // The unit-information refresh is not part of this window yet: only the
    // selection is taken over.
    if (item >= kMaxListEntries) return false;
    m_wConnection = static_cast<uint16_t>(m_dwListItem[item] & 0xFFFF);
    m_bXSlotSelected = (m_dwListItem[item] & 0x10000) != 0;
    return true;
}

void COrvexUpdateDlg::SetView(int view) {
    if (view < kViewReady || view > kViewDone) return;
    const bool ready = view == kViewReady, programming = view == kViewProgramming, done = view == kViewDone;
    for (int id : {IDC_NOTICE1, IDC_NOTICE2, IDC_NOTICE3}) m_pSurface->ShowItem(id, ready);
    for (int id : {IDC_DONT_INTERRUPT, IDC_PROGRAMMING, IDC_PROGRESS}) m_pSurface->ShowItem(id, programming);
    m_pSurface->ShowItem(IDC_CONGRATULATIONS, done);
    m_pSurface->ShowItem(plat::kIdCancel, ready);
    m_pSurface->ShowItem(IDC_UPDATE, ready);
    m_pSurface->ShowItem(plat::kIdOk, done);
}

void COrvexUpdateDlg::OnCommand(int id, int) {
    if (id == plat::kIdOk || id == plat::kIdCancel) m_pSurface->EndDialog(id);
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
