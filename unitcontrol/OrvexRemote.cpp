// The remote link (receive ring, message cutting, register store, requests
// and waits) and the unit's identity, selection and polling.
#include "unitcontrol/OrvexRemote.h"

#include <cstdio>
#include <cstring>

#include "common/Log.h"
#include "platform/Platform.h"
#include "protocol/SerialNumber.h"

namespace orvex {

namespace {
constexpr uint32_t kLossSilenceMs = 1000;
constexpr uint32_t kWaitForResponseMs = 500;
constexpr int kVerifiedAttempts = 6;
// A transport that never runs dry must not hold the caller's thread forever.
constexpr int kMaxReadsPerPump = 256;
bool Ok(uint32_t status) { return (status & 0xFFFF) == 0; }
}  // namespace

COrvexRemote::COrvexRemote() : COrvexRemote(DefaultRemoteTransports()) {}

COrvexRemote::COrvexRemote(Transports transports) : m_Transports(std::move(transports)) {
    m_dwLastPollTime = plat::GetTickCount();
    m_dwLastReceiveTime = m_dwLastPollTime;
}

COrvexRemote::~COrvexRemote() {
    DropUsbCard();
    DropTransport();
}

void COrvexRemote::DropUsbCard() {
    if (!m_pXCUSB) return;
    m_pXCUSB->Close();
    m_pXCUSB.reset();
    m_wXCUSBConnection = kNoConnection;
}

void COrvexRemote::DropTransport() {
    if (!m_pMidiIF) return;
    if (m_bExtendedMap) SetRegister27(0);
    m_pMidiIF->Close();
    m_pMidiIF.reset();
    m_bDisconnected = 1;
}

// ---- settings -----------------------------------------------------------------

void COrvexRemote::SetPortName(const char* name) {
    // Longer names are cut to the field; they could not name a MIDI port anyway.
    std::snprintf(m_szPortName, sizeof m_szPortName, "%s", name ? name : "");
}
void COrvexRemote::SetSecondPortName(const char* name) {
    std::snprintf(m_szSecondPortName, sizeof m_szSecondPortName, "%s", name ? name : "");
}
void COrvexRemote::SetTransportMask(uint32_t mask) { m_dwTransportMask = mask; }

// ---- transport ----------------------------------------------------------------

uint32_t COrvexRemote::Open() {
    if ((m_dwTransportMask & kTransportMidi) && !m_pMidiIF) {
        m_wConnectionType = kConnectionMidi;
        m_pMidiIF = m_Transports.midi ? m_Transports.midi() : nullptr;
        if (m_pMidiIF) {
            if (m_szPortName[0]) m_pMidiIF->SetPortNameFilter(m_szPortName);
            if (m_pMidiIF->Open() != kTransportOk) m_pMidiIF.reset();
        }
    }
    if ((m_dwTransportMask & kTransportNetwork) && !m_pMidiIF) {
        m_wConnectionType = kConnectionNetwork;
        m_pMidiIF = m_Transports.network ? m_Transports.network() : nullptr;
        if (m_pMidiIF && m_pMidiIF->Open() != kTransportOk) m_pMidiIF.reset();
    }
    return m_pMidiIF ? kStatusSuccess : kStatusFailure;
}

uint32_t COrvexRemote::Close() {
    DropTransport();
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetNumConnections(uint16_t* count) {
    if (!m_pMidiIF) return kStatusFailure;
    return m_pMidiIF->GetNumConnections(count);
}

uint32_t COrvexRemote::GetCurrentConnection(uint16_t* connection) {
    if (!m_pMidiIF) return kStatusFailure;
    return m_pMidiIF->GetCurrentConnection(connection);
}

uint32_t COrvexRemote::GetConnectionType(uint16_t* type) {
    *type = m_wConnectionType;
    return kStatusSuccess;
}

uint32_t COrvexRemote::IsDisconnected(uint8_t* disconnected) {
    *disconnected = m_bDisconnected;
    return kStatusSuccess;
}

// ---- sending -------------------------------------------------------------------

uint32_t COrvexRemote::Send(const std::vector<uint8_t>& message) {
    if (!m_pMidiIF) return kStatusFailure;
    if (message.empty()) return kStatusOutOfRange;
    return m_pMidiIF->Write(message.data(), static_cast<int32_t>(message.size())) & 0xFFFF;
}

uint32_t COrvexRemote::WriteRegister(uint16_t reg, uint8_t value) {
    if (!m_pMidiIF) return kStatusFailure;
    if (reg > 255 && IsTaviOrOrvexN()) return Send(EncodeRegisterWrite(reg, value, true));
    // The short form carries nine register bits: a higher register would land
    // on another one, so it is refused.
    if (reg > 511) return kStatusOutOfRange;
    return Send(EncodeRegisterWrite(reg, value, false));
}

uint32_t COrvexRemote::RequestRegisterStatus(uint16_t first, uint16_t last) {
    if (!m_pMidiIF) return kStatusFailure;
    uint16_t count = static_cast<uint16_t>(last - first);
    if (first > 255) {
        if (m_bExtendedMap) return Send(EncodeStatusRequest(first, count, true));
        return Send(EncodeStatusRequest(static_cast<uint16_t>((first & 0xFF) | 0x100), count & 0xFF, false));
    }
    return Send(EncodeStatusRequest(first, count & 0xFF, false));
}

uint32_t COrvexRemote::SendCommand(uint8_t command) { return Send(EncodeCommand(command)); }

uint32_t COrvexRemote::RequestRegisterStatusVerified(uint16_t first, uint16_t last) {
    if (m_bVerifiedBusy) return kStatusFailure;
    m_bVerifiedBusy = 1;
    for (int attempt = 1; attempt <= kVerifiedAttempts; ++attempt) {
        if (!Ok(RequestRegisterStatus(first, last))) {
            OrvexLog("RequestRegisterStatusVerified: RequestRegisterStatus FAILED! %04x %04x\n", first, last);
            m_bVerifiedBusy = 0;
            return kStatusFailure;
        }
        if (!Ok(WaitForResponse(1))) OrvexLog("RequestRegisterStatusVerified: WaitForResponse FAILED!\n");
        if (m_wLastResponseFirst == first) break;
        OrvexLog("RequestRegisterStatusVerified: RETRY! Last %04x First %04x\n", m_wLastResponseFirst, first);
    }
    m_bVerifiedBusy = 0;
    if (m_wLastResponseFirst == first) return kStatusSuccess;
    OrvexLog("RequestRegisterStatusVerified: Last %04x != First %04x\n", m_wLastResponseFirst, first);
    return kStatusFailure;
}

uint32_t COrvexRemote::WaitForResponse(uint32_t count) {
    if (m_ucMode == 3 || m_ucMode == 4) return kStatusSuccess;
    uint32_t start = plat::GetTickCount();
    uint32_t base = m_dwResponseCount;
    do {
        uint32_t elapsed = plat::GetTickCount() - start;
        if (elapsed > kWaitForResponseMs) {
            OrvexLog("COrvexRemote::WaitForResponse TIMEOUT %ld\n", static_cast<long>(elapsed));
            return kStatusFailure;
        }
        Poll();
        if (!IsTavi()) plat::Sleep(5);
        plat::PumpOneMessage();
    } while (m_dwResponseCount - base < count);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetMode(uint8_t mode) {
    m_ucMode = mode;
    m_dwLastReceiveTime = plat::GetTickCount();
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetChangeCallback(uint16_t first, uint16_t second, OrvexChangeCallback callback,
                                         uint32_t context1, uint32_t context2) {
    m_wWatched[0] = first;
    m_wWatched[1] = second;
    m_pfnChangeCallback = callback;
    m_dwCallbackContext[0] = context1;
    m_dwCallbackContext[1] = context2;
    return kStatusSuccess;
}

// ---- receive ring -----------------------------------------------------------------

bool COrvexRemote::RingPut(const uint8_t* bytes, uint32_t n) {
    std::lock_guard<std::mutex> lock(m_RingLock);
    if (n >= kRingCapacity - m_dwRingCount) return false;
    for (uint32_t i = 0; i < n; ++i) {
        m_Ring[m_dwRingWrite] = bytes[i];
        m_dwRingWrite = (m_dwRingWrite + 1) % kRingCapacity;
    }
    m_dwRingCount += n;
    return true;
}

bool COrvexRemote::RingTake(uint32_t n, uint8_t* destination) {
    std::lock_guard<std::mutex> lock(m_RingLock);
    if (n > m_dwRingCount) return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (destination) destination[i] = m_Ring[m_dwRingRead];
        m_dwRingRead = (m_dwRingRead + 1) % kRingCapacity;
    }
    m_dwRingCount -= n;
    return true;
}

bool COrvexRemote::RingFind(uint8_t value, uint32_t* distance) {
    std::lock_guard<std::mutex> lock(m_RingLock);
    for (uint32_t i = 0; i < m_dwRingCount; ++i)
        if (m_Ring[(m_dwRingRead + i) % kRingCapacity] == value) {
            *distance = i;
            return true;
        }
    return false;
}

void COrvexRemote::RingClear() {
    std::lock_guard<std::mutex> lock(m_RingLock);
    m_dwRingCount = m_dwRingWrite = m_dwRingRead = 0;
}

uint16_t COrvexRemote::ReceivePump(bool* decoded) {
    *decoded = false;
    uint16_t status = kTransportOk;
    uint8_t buffer[kMaxMessage];
    for (int reads = 0; reads < kMaxReadsPerPump; ++reads) {
        int32_t received = 0;
        status = m_pMidiIF->Read(buffer, sizeof buffer, &received);
        if (status != kTransportOk) {
            RingClear();
            m_bInsideMessage = 0;
            break;
        }
        if (received <= 0) break;
        m_dwLastReceiveTime = plat::GetTickCount();
        RingPut(buffer, static_cast<uint32_t>(received > int32_t(kMaxMessage) ? kMaxMessage : received));
    }

    uint8_t message[kMaxMessage];
    for (;;) {
        uint32_t at = 0;
        if (!m_bInsideMessage) {
            if (!RingFind(kSysexStart, &at)) {
                RingClear();  // nothing but garbage: no message can start in it
                break;
            }
            RingTake(at, nullptr);
            m_bInsideMessage = 1;
        }
        uint32_t length = 0;
        if (RingFind(kSysexEnd, &at))
            length = at + 1 > kMaxMessage ? kMaxMessage : at + 1;
        else if (m_dwRingCount >= kMaxMessage)
            length = kMaxMessage;  // no end in sight: cut here so the ring cannot fill up for good
        else
            break;
        if (!RingTake(length, message)) break;
        // A lost F7 would glue a broken message to the next one; a second F0
        // inside the block starts the message that counts.
        uint32_t start = 0;
        for (uint32_t i = 1; i < length; ++i)
            if (message[i] == kSysexStart) start = i;
        DecodeMessage(message + start, length - start, this, m_ucManufacturerID);
        *decoded = true;
        m_bInsideMessage = 0;
    }
    return status;
}

// ---- register store -----------------------------------------------------------------

void COrvexRemote::CountResponse() { ++m_dwResponseCount; }

void COrvexRemote::StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) {
    m_wLastResponseFirst = firstReg;
    m_wLastResponseCount = static_cast<uint16_t>(count);
    bool notify = false;
    const bool mixerLayout = !IsTaviOrOrvexN();
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t r = static_cast<uint16_t>(firstReg + i);
        uint8_t v = values[i];
        if (m_ucMode == 4 && r >= 128) {
            // The verify buffer holds the 128 bytes of one packet; anything past it is dropped.
            if (r < 256) m_VerifyBuffer[r - 128] = v;
            continue;
        }
        if (r >= 2048) return;
        m_Registers[r] = v;
        if (r == m_wWatched[0] || r == m_wWatched[1]) notify = true;
        if (!mixerLayout) continue;
        if (r >= 64 && r <= 127) {
            m_PeakMeters[r - 64] = v >> 4;
            m_Overloads[r - 64] = (v >> 3) & 1;
            continue;
        }
        if (r < 128) continue;
        unsigned d, input;
        bool volume;
        if (r <= 255) {
            unsigned t = r - 128;
            d = t >> 2;
            input = (t & 3) >> 1;
            volume = (t & 1) == 0;
        } else {
            unsigned u = r & 0xFF;
            d = u >> 5;
            input = ((u & 0x1F) >> 1) + 2;
            volume = (u & 1) == 0;
        }
        unsigned at = d * 18 + input;
        if (volume) {
            if (v == 0xFF) {
                m_MixerMutes[at] = 1;
            } else {
                m_MixerMutes[at] = 0;
                m_MixerVolumes[at] = v;
            }
        } else {
            m_MixerSources[at] = v & 0x3F;
        }
    }
    // A read-back counts only when the whole packet came: a response to anything
    // else would leave a verify buffer the unit never filled to be compared.
    if (m_ucMode == 4 && firstReg == 128 && count >= kMaxPacketData) {
        m_Registers[9] |= kProgPAKRDY;
        m_bVerifyPacketArrived = 1;
    }
    if (notify && m_pfnChangeCallback) m_pfnChangeCallback(m_dwCallbackContext[0], m_dwCallbackContext[1]);
}

// ---- identity -------------------------------------------------------------------------

uint8_t COrvexRemote::GetDeviceIDValue() const {
    uint8_t id = m_Registers[1];
    if ((id == kDeviceOrvex16 || id == kDeviceOrvex8) && m_Registers[6] == kDeviceOrvexN) return kDeviceOrvexN;
    return id;
}

uint32_t COrvexRemote::GetDeviceID(uint8_t* deviceID) {
    *deviceID = GetDeviceIDValue();
    return kStatusSuccess;
}

bool COrvexRemote::IsTavi() { return GetDeviceIDValue() == kDeviceTavi; }

// The two families with the larger register layout, CRC-checked packets and long-form writes.
bool COrvexRemote::IsTaviOrOrvexN() {
    uint8_t id = GetDeviceIDValue();
    return id == kDeviceTavi || id == kDeviceOrvexN;
}

bool COrvexRemote::IsPlainUnit() {
    uint8_t id = GetDeviceIDValue();
    return id == kDeviceOrvex16 || id == kDeviceOrvex8 || id == kDeviceHarkenRelay4x4;
}

uint32_t COrvexRemote::GetPCBRevision(uint8_t* revision) {
    *revision = m_Registers[11] >> 4;
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetFirmwareRevision(uint8_t* revision) {
    *revision = m_Registers[10] & 0x3F;
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetAlternateFirmwareRevision(uint8_t* revision) {
    *revision = static_cast<uint8_t>(((m_Registers[11] * 4) | (m_Registers[10] >> 6)) & 0x3F);
    return kStatusSuccess;
}

uint32_t COrvexRemote::IsVariant1824(uint8_t* is) {
    *is = (m_Registers[10] & 0x3F) >= 18 && !(m_Registers[7] & 0x40);
    return kStatusSuccess;
}

uint32_t COrvexRemote::IsVariantVT(uint8_t* is) {
    *is = (m_Registers[10] & 0x3F) >= 18 && !(m_Registers[7] & 0x80);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetXSlotDeviceID(uint8_t* deviceID) {
    *deviceID = m_Registers[16] == kXSlotViRizoAlias ? kXSlotViRizo : m_Registers[16];
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetXSlotFirmwareRevision(uint8_t* revision, uint8_t* second) {
    *revision = m_Registers[17];
    if (second && IsTaviOrOrvexN()) *second = m_Registers[20];
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetXSlotPCBRevision(uint8_t* revision) {
    *revision = m_Registers[18];
    return kStatusSuccess;
}

bool COrvexRemote::HasExtendedMixer() { return m_bExtendedMixer != 0; }

uint32_t COrvexRemote::SerialFromRegisters(uint16_t base, uint8_t deviceID) const {
    const uint8_t* r = m_Registers + base;
    if (r[0] == 0 || r[0] == 0xFF) return kBlankSerialNumber;
    // The week is six bits; a wider register value must not spill into the year.
    return (uint32_t{deviceID} << 24) | (uint32_t(r[1] & 0x0F) << 20) | (uint32_t(r[1] & 0x30) << 14) |
           (uint32_t(r[0] & 0x3F) << 12) | (((uint32_t{r[3]} << 8) | r[2]) & 0xFFF);
}

uint32_t COrvexRemote::GetSerialNumber(uint32_t* serial) {
    *serial = SerialFromRegisters(12, GetDeviceIDValue());
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetXSlotSerialNumber(uint32_t* serial) {
    uint8_t card = 0;
    GetXSlotDeviceID(&card);
    // No poll reads the card's serial registers: a card that has a number would
    // otherwise always read blank. While one is being written, the polling reads them.
    if (card != 0 && !m_bWritingCardSerial && m_pMidiIF) RequestRegisterStatusVerified(28, 31);
    *serial = SerialFromRegisters(28, card);
    return *serial == kBlankSerialNumber ? kStatusFailure : kStatusSuccess;
}

uint32_t COrvexRemote::SetRegister27(uint8_t value) {
    m_Registers[27] = (m_Registers[10] & 0x3F) >= 7 ? value : (value != 0);
    WriteRegister(27, m_Registers[27]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::PrepareForProgramming() {
    SetMode(1);
    return kStatusSuccess;
}

// ---- selection ---------------------------------------------------------------------------

uint32_t COrvexRemote::SelectConnection(uint16_t connection) {
    if (!m_pMidiIF) return kStatusFailure;
    if (connection == m_wCurrentConnection) return kStatusSuccess;

    m_bExtendedMixer = 0;
    m_bExtendedMap = 0;
    m_dwLastReceiveTime = plat::GetTickCount();
    m_bSuspended = 1;
    SetMode(0);

    if (m_pMidiIF->SelectConnection(connection) != kTransportOk) {
        OrvexLog("COrvexRemote::SelectConnection: m_pMidiIF->SelectConnection FAILED!\n");
        return kStatusFailure;
    }
    uint32_t status = RequestRegisterStatusVerified(1, 24);
    if (!Ok(status)) {
        OrvexLog("COrvexRemote::SelectConnection: RequestRegisterStatus REG_ASTAT_PID/REMO_XC_SN_SERNUMHI FAILED!\n");
        return kStatusFailure;
    }
    if (m_Registers[16] == kXSlotVaVo) status = RequestRegisterStatusVerified(32, 32);
    // The card access belongs to the connection it was opened for: another
    // unit's DO-ZAZ must not be updated or clocked through it.
    if (m_pXCUSB && m_wXCUSBConnection != connection) DropUsbCard();
    if (m_Registers[16] == kXSlotDoZaz && m_wConnectionType == kConnectionMidi && !m_pXCUSB && m_Transports.usbCard) {
        m_pXCUSB = m_Transports.usbCard(connection);
        m_wXCUSBConnection = connection;
    }

    uint8_t revision = 0;
    GetFirmwareRevision(&revision);
    if (IsTavi()) {
        SetRegister27(0);
        status = RequestRegisterStatusVerified(0, 127);
        if (revision >= 6) {
            m_bExtendedMap = 1;
            SetMode(2);
            status = RequestRegisterStatusVerified(256, 547);
            status = RequestRegisterStatusVerified(1024, 2047);
        }
    } else if (GetDeviceIDValue() == kDeviceOrvexN) {
        status = RequestRegisterStatusVerified(0, 127);
    } else if (IsPlainUnit() && revision > 16) {
        m_bExtendedMixer = 1;
    }

    m_wCurrentConnection = connection;
    m_bDisconnected = 0;
    m_bSuspended = 0;
    return status;
}

uint32_t COrvexRemote::GetConnectionDescription(uint16_t connection, char* text, uint32_t size, uint8_t* deviceID) {
    if (!m_pMidiIF) return kStatusFailure;
    SelectConnection(connection);
    uint8_t id = GetDeviceIDValue();
    if (deviceID) *deviceID = id;
    uint8_t is1824 = 0, isVT = 0;
    IsVariant1824(&is1824);
    IsVariantVT(&isVT);
    const char* suffix = is1824 ? "/1824" : isVT ? "/VT" : "";
    char port[255] = {};
    m_pMidiIF->GetConnectionDescription(connection, port, sizeof port);
    port[sizeof port - 1] = '\0';
    // Callers pass 256 bytes or more; the size is honoured all the same.
    if (text && size) std::snprintf(text, size, "%s%s connected via %s", ModelNameForDeviceID(id), suffix, port);
    return kStatusSuccess;
}

// ---- polling --------------------------------------------------------------------------------

void COrvexRemote::LoseUnit() {
    m_pMidiIF->Close();
    RingClear();
    m_bInsideMessage = 0;
    std::memset(m_Registers, 0, sizeof m_Registers);
    DropUsbCard();
    m_bDisconnected = 1;
}

void COrvexRemote::RunSchedule(bool decoded, uint32_t now, uint32_t* outcome) {
    const uint32_t since = now - m_dwLastPollTime;
    auto request = [&](uint16_t first, uint16_t last) { *outcome = RequestRegisterStatus(first, last); };
    switch (m_ucMode) {
        case 0: {
            if (since <= 100 && !decoded) return;
            m_dwLastPollTime = now;
            if (IsTavi()) {
                request(0, 125);
            } else if (IsPlainUnit() && m_Registers[16] == kXSlotDoZaz) {
                uint32_t step = m_dwPollStep % 8;
                if (step == 0 || step == 4 || step == 6)
                    request(1, 24);
                else if (step == 2 && m_bExtendedMixer)
                    request(256, 383);
                else
                    request(64, 255);
                m_dwPollStep = (step + 1) % 8;
            } else if (IsPlainUnit()) {
                uint32_t step = m_dwPollStep % 40;
                const bool ext = m_bExtendedMixer != 0;
                if (step % 8 == 0)
                    request(1, step == 0 && m_Registers[1] == 0 ? 125 : 24);
                else if (step % 2 == 1)
                    request(64, 127);
                else if (step == 2 || step == 12 || step == 22 || step == 34)
                    request(128, 191);
                else if (step == 4 || step == 14 || step == 26 || step == 36)
                    request(192, 255);
                else if (step == 6 || step == 18 || step == 28 || step == 38)
                    ext ? request(256, 319) : request(128, 191);
                else
                    ext ? request(320, 383) : request(192, 255);
                if (step == 39) request(32, 32);
                m_dwPollStep = (step + 1) % 40;
            }
            return;
        }
        case 1:
            if (since <= 50) return;
            m_dwLastPollTime = now;
            if (m_bWritingCardSerial)
                request(28, 31);
            else if (IsTavi())
                request(0, 125);
            else
                request(1, 24);
            return;
        case 2:
            if (since <= 3000 || !IsTaviOrOrvexN() ||
                m_Registers[16] != kXSlotDoZaz || m_bSuspended)
                return;
            m_dwLastPollTime = now;
            request(1, 31);
            return;
        case 5:
            if (since <= 100) return;
            m_dwLastPollTime = now;
            request(56, 58);
            return;
        default:
            return;  // programming and verifying: the unit reports by itself
    }
}

uint32_t COrvexRemote::Poll() {
    if (!m_pMidiIF) return kStatusFailure;
    if (!m_pMidiIF->IsOpen()) {
        if (m_pMidiIF->Open() != kTransportOk) return kStatusFailure;
        uint16_t connection = m_wCurrentConnection;
        m_wCurrentConnection = kNoConnection;
        if (!Ok(SelectConnection(connection == kNoConnection ? 0 : connection))) return kStatusFailure;
    }

    bool decoded = false;
    uint32_t outcome = ReceivePump(&decoded);

    uint32_t now = plat::GetTickCount();
    if (m_ucMode != 3 && !m_bWritingCardSerial && now - m_dwLastReceiveTime > kLossSilenceMs) {
        m_bSuspended = 1;
        outcome = kStatusFailure;
    }
    if (!m_bSuspended) RunSchedule(decoded, now, &outcome);
    if (!Ok(outcome)) LoseUnit();
    return kStatusSuccess;
}

}  // namespace orvex
