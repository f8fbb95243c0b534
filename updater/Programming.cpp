// The main window's programming sequence and its wait on the unit's
// programming status.
#include <cstdio>
#include <cstring>

#include "common/Log.h"
#include "resources/resource.h"
#include "updater/FirmwareRules.h"
#include "updater/OrvexUpdateDlg.h"

namespace {
constexpr const char* kCaption = "Orvex Firmware Update";
constexpr const char* kFailureCaption = "EEPROM Programming Failure";
constexpr uint32_t kPacketSize = 128;
bool Ok(uint32_t status) { return (status & 0xFFFF) == orvex::kStatusSuccess; }
}  // namespace

void COrvexUpdateDlg::AppendStatusFlags(std::string& text, uint8_t flags) {
    if (flags & orvex::kProgPIP) text += "\nPIP";
    if (flags & orvex::kProgPGMERR) text += "\nPGMERR";
    if (flags & orvex::kProgTXERR) text += "\nTXERR";
    if (flags & orvex::kProgPAKRDY) text += "\nPAKRDY";
    if (flags & orvex::kProgTIMEOUT) text += "\nTIMEOUT";
}

uint8_t COrvexUpdateDlg::WaitForProgrammingStatus(uint32_t limitMs, bool verifyMode, bool showProgress) {
    if (!Ok(m_pMixerIF->WaitForResponse(4))) return orvex::kProgTIMEOUT;
    const uint32_t start = plat::GetTickCount();
    for (;;) {
        const uint32_t elapsed = plat::GetTickCount() - start;
        if (showProgress) m_pSurface->SetProgressPos(IDC_PROGRESS, static_cast<int>(elapsed / 100));
        if (elapsed > limitMs) return orvex::kProgTIMEOUT;
        uint8_t status = 0;
        m_pMixerIF->GetProgrammingStatus(&status);
        status &= 0x3F;
        if (verifyMode) {
            if (status & (orvex::kProgPGMERR | orvex::kProgTXERR | orvex::kProgPAKRDY)) return status;
        } else {
            if (status & (orvex::kProgPGMERR | orvex::kProgTXERR)) return status;
            if (status == 0) return 0;
        }
        m_pSurface->PumpMessage();
        plat::Sleep(5);
    }
}

bool COrvexUpdateDlg::Fail(const std::string& text, bool log) {
    m_pSurface->MessageBox(text, kCaption, plat::mb::Ok);
    if (log) OrvexLog("%s", text.c_str());
    return false;
}

bool COrvexUpdateDlg::ProgramEEPROM() {
    const uint32_t packets = (m_dwFirmwareSize + kPacketSize - 1) / kPacketSize;
    OrvexLog("ProgramEEPROM");

    SetStatusLine("Erasing Alternate Firmware...");
    OrvexLog("Erasing Alternate Firmware");
    m_pSurface->SetProgressRange(IDC_PROGRESS, 0, 40);
    m_pSurface->SetProgressPos(IDC_PROGRESS, 0);

    OrvexLog("SelectXSlotFirmware %d", m_bXSlotSelected ? 1 : 0);
    if (!Ok(m_pMixerIF->SelectXSlotFirmware(m_bXSlotSelected ? 1 : 0)))
        return Fail("ProgramEEPROM: SelectXSlotFirmware Failed!\n", true);
    // The VA-VOVUZ keeps one bank and is addressed directly.
    if (m_ucNewDeviceID != orvex::kXSlotVaVovuz) {
        OrvexLog("SelectAlternateBank");
        if (!Ok(m_pMixerIF->SelectAlternateBank())) return Fail("ProgramEEPROM: SelectAlternateBank Failed!\n", true);
    }
    if (!Ok(m_pMixerIF->WaitForResponse(4))) {
        OrvexLog("ProgramEEPROM: WaitForResponse Failed!");
        return Fail("ProgramEEPROM: WaitForResponse Failed!\n", false);
    }

    OrvexLog("Start Erase");
    m_pMixerIF->EraseAlternateBank();
    if (uint8_t flags = WaitForProgrammingStatus(12000, false, true)) {
        std::string text = "Wait for Erase EEPROM Failed!\n";
        AppendStatusFlags(text, flags);
        return Fail(text, true);
    }

    OrvexLog("Erase Complete");
    SetStatusLine("Programming Firmware...");
    m_pSurface->SetProgressRange(IDC_PROGRESS, 0, static_cast<int>(packets));
    OrvexLog("Programming %d Packets", static_cast<int>(packets));
    for (uint32_t k = 0; k < packets; ++k) {
        m_pSurface->SetProgressPos(IDC_PROGRESS, static_cast<int>(k));
        m_pSurface->PumpMessage();
        // Half-way through, an unattended run takes a picture of the bar.
        if (k == packets / 2 && m_ViewObserver) m_ViewObserver(*m_pSurface, m_nView, false);
        if (!Ok(m_pMixerIF->WriteFirmwarePacket(m_pFirmware.get() + size_t{k} * kPacketSize, kPacketSize)))
            return Fail("WriteFirmwarePacket Failed!", false);
        if (uint8_t flags = WaitForProgrammingStatus(1000, false, false)) {
            std::string text = "Wait for Write Firmware Packet Failed!\n";
            AppendStatusFlags(text, flags);
            return Fail(text, true);
        }
    }

    SetStatusLine("Verifying Firmware...");
    m_pSurface->SetProgressRange(IDC_PROGRESS, 0, static_cast<int>(packets));
    OrvexLog("Verifying %d Packets", static_cast<int>(packets));
    for (uint32_t k = 0; k < packets; ++k) {
        m_pSurface->SetProgressPos(IDC_PROGRESS, static_cast<int>(k));
        m_pSurface->PumpMessage();
        if (!Ok(m_pMixerIF->RequestVerifyPacket())) return Fail("RequestVerifyPacket Failed!", false);
        const uint8_t flags = WaitForProgrammingStatus(1000, true, false);
        if (flags != orvex::kProgPAKRDY) {
            std::string text = "Wait for Verify Packet Failed!\n";
            AppendStatusFlags(text, flags);
            return Fail(text, true);
        }
        uint8_t packet[kPacketSize] = {};
        if (!Ok(m_pMixerIF->ReadVerifyPacket(packet, kPacketSize))) return Fail("ReadVerifyPacket Failed!", false);
        if (std::memcmp(packet, m_pFirmware.get() + size_t{k} * kPacketSize, kPacketSize) != 0)
            return Fail("Firmware Verify Failed!", false);
    }
    OrvexLog("Verify Complete");

    if (m_ucNewDeviceID == orvex::kXSlotVaVovuz) {
        uint8_t status = 0;
        m_pMixerIF->GetRegister(9, &status);
        m_pMixerIF->SetRegister(9, static_cast<uint8_t>(status | 0x80));
    }
    if (!Ok(m_pMixerIF->SetProgrammingComplete())) return Fail("SetProgrammingComplete Failed!", true);
    OrvexLog("EEPROM Programming Success");
    return true;
}

void COrvexUpdateDlg::OnUpdate() {
    OrvexLog("OnUpdate");
    SetView(kViewProgramming);
    if (!LoadFirmware()) {
        m_pFirmware.reset();
        SetView(kViewReady);
        return;
    }

    const rules::Version version = rules::SplitVersion(m_wNewVersion);
    m_wNewVersion = version.major;
    if (version.split) m_ucNewMinor = version.minor;
    char text[600];
    std::snprintf(text, sizeof text, "About to program the %s with Firmware Version %s", m_szUnitDescription,
                  version.text.c_str());
    OrvexLog("%s", text);
    const char* caption = m_bFileSpecified ? m_szFirmwareFile : "Firmware Update Confirmation";
    const int answer =
        m_pSurface->MessageBox(text, caption, plat::mb::OkCancel | plat::mb::DefButton2 | plat::mb::IconWarning);

    bool success = false;
    if (answer == plat::id::Ok) {
        plat::CursorHandle cursor = plat::SetWaitCursor();
        if (m_ucNewDeviceID == orvex::kXSlotDoZaz) {
            orvex::IUsbCardAccess* card = m_Factories.usbCard ? m_Factories.usbCard(*m_pMixerIF) : nullptr;
            if (card) {
                success = card->ProgramEEPROM(m_pFirmware.get(), m_dwFirmwareSize, *m_pSurface, IDC_PROGRESS);
                if (!success)
                    m_pSurface->MessageBox("DO-ZAZ Firmware Update Failed!", kFailureCaption,
                                           plat::mb::Ok | plat::mb::IconWarning);
            } else {
                OrvexLog("OnUpdate: no DO-ZAZ card access for %s: nothing written", m_szUnitDescription);
            }
        } else {
            success = ProgramEEPROM();
            if (!success) {
                m_pMixerIF->CancelProgramming();
                m_pSurface->MessageBox("Updating the Firmware on the Orvex FAILED!", kFailureCaption,
                                       plat::mb::Ok | plat::mb::IconWarning);
            }
        }
        plat::RestoreCursor(cursor);
    }
    m_pFirmware.reset();
    SetView(success ? kViewDone : kViewReady);
}
