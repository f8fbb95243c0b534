#pragma once
// Emulated Pelk adapter card: the card in the computer that is cabled to one
// converter (an emulated sim::OrvexUnit) and presents it, and itself, as one
// mixer device with named controls, and serves the card's device requests.
//
// How the card works:
//
// Cable. The card speaks the converter's remote-control messages over its
//   cable: it writes registers, sends commands and firmware packets, and asks
//   for the status of registers 0-255 every Config::pollMicros. Each status
//   response the converter sends (answers and the reports it sends by itself
//   while busy) advances the response counter and refreshes the card's copy
//   of those registers, which every control and status read comes from. The
//   card has no thread: it catches up with the clock on every call.
// Lines. Destination 0 is the converter line (component type 2, line ID 0,
//   2 channels) with the converter's controls and 64 source lines: 0-31 carry
//   a "Peak" meter each, 32-63 the six controls of output 0-31. Destination 1
//   is the card's own line (component type 0, line ID 1, 1 channel).
// Controls. All are uniform except "VolumeA" and "VolumeB", which take a
//   value per channel (channel 0 counts). "Current Source" (7 items, the
//   driver's clock codes) and "PreferredSource" (8 items) are lists.
//   "Fast Controls" and "Slow Controls" are 450-byte custom values: the status
//   block; the fast one leaves the output mixer (offsets 226-417) zero.
//   Register mapping: clock code in register 3 bits 2-0, SL enable bit 3, rate
//   code bits 6-4; register 4 bits 1-0 FPA, 3-2 FPD, 4 wide-wire in, 5 out,
//   6 meter source, 7 XSlot out; trim group g is register 2 bit g, set when
//   the control is 0; "XS1 XCMODE" bit 0 is register 5 bit 3, bits 12 and 13
//   register 19 bits 4 and 5; output o at register 128 + 4o: volume A,
//   source A, volume B, source B. Mutes are the card's own; a muted output
//   reports volume 255.
// Lock. "DigIn1Status" bit 0 is set while the card's digital input 1 is not
//   locked (bit 4 is always set: signal present). The input loses lock for
//   Config::lockMicros whenever the converter's clock source or sample rate
//   changes, or the card's own source, wide-wire or SL setting changes.
// Requests. Each runs at once on the cable. Select alternate bank sends
//   command 7 while bank 1 runs and 6 while bank 2 runs; erase sends 12 and 3;
//   a packet (1-128 bytes) sends 12, 4, the CRC-8 to register 52 for a Tavi or
//   an Orvex(n), and the packet; verify sends 5 and the read returns registers
//   128 on; complete sends 8 while bank 2 runs and 9 while bank 1 runs; cancel
//   sends 11; the serial number is written to registers 12-15 and stored with
//   12 and 10; the XSlot slot (0 or 1; 1 only with a card fitted) sets
//   register 5 bit 4. Erase, packet and serial store mark the status busy
//   until the converter reports. Requests with buffers of the wrong size fail.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "adapter/AdapterDriver.h"
#include "adapter/MixerRecords.h"
#include "protocol/RemoteMessages.h"
#include "sim/OrvexUnit.h"

namespace sim {

class AdapterCard final : private orvex::IResponseSink {
public:
    struct Config {
        uint16_t model = adapter::kModelTarselX;  // adapter model code (the card's "Device ID")
        uint16_t firmware = 23;                  // the card's "Firmware Rev"
        uint16_t bus = 2;
        uint16_t device = 0;
        uint32_t slot = 3;                       // 0: the driver knows no slot
        uint64_t pollMicros = 1000;              // status request to the converter
        uint64_t lockMicros = 250'000;           // input 1 relocks after a clock change
        uint8_t clockCode = 1;                   // the converter's clock source at start (driver code)
        uint32_t rateHz = 48000;                 // and its sample rate
    };

    // Faults.
    struct Faults {
        bool clockStuck = false;       // "Current Source" writes never reach the converter
        uint32_t rateCeilingHz = 0;    // non-zero: higher rates are not taken
        bool neverLocks = false;       // input 1 never locks
        uint32_t neverLocksAfterLosses = 0;  // non-zero: from this loss of lock on, input 1 never locks again
        bool noAdapterLine = false;    // the driver presents no line of the card's own
        // Requests with this control code fail once `skip` of them have passed.
        uint32_t failCode = 0;
        uint32_t failSkip = 0;
        uint32_t failCount = 0xFFFFFFFF;
        // Every request fails once this many have passed (the card left the bus).
        uint32_t failAllAfter = 0xFFFFFFFF;
        // The cable, for fault campaigns. Bytes are numbered in each direction
        // from the card's start (see CableBytes): of the converter's answers,
        // answerCount bytes from answerFrom are lost (answerMask 0), changed
        // (XOR answerMask) or, with answerDelayMicros, held back that long;
        // of what the card sends the converter, requestCount bytes from
        // requestFrom are lost or changed (XOR requestMask).
        uint64_t answerFrom = UINT64_MAX;
        uint32_t answerCount = 0;
        uint8_t answerMask = 0;
        uint64_t answerDelayMicros = 0;
        uint64_t requestFrom = UINT64_MAX;
        uint32_t requestCount = 0;
        uint8_t requestMask = 0;
    };

    // unit may be null: no converter on the cable.
    AdapterCard(const Config& config, OrvexUnit* unit, uint64_t nowMicros);

    // ---- the mixer device ----
    void Caps(mixer::MIXERCAPSA* caps, uint32_t size) const;
    mixer::MMRESULT LineInfo(mixer::MIXERLINEA* line, uint32_t flags) const;
    mixer::MMRESULT LineControls(mixer::MIXERLINECONTROLSA* request, uint32_t flags) const;
    mixer::MMRESULT GetDetails(mixer::MIXERCONTROLDETAILS* details, uint32_t flags, uint64_t nowMicros);
    mixer::MMRESULT SetDetails(mixer::MIXERCONTROLDETAILS* details, uint32_t flags, uint64_t nowMicros);

    // ---- the device ----
    // deviceNumber: the mixer device number the driver gave this card.
    bool Request(uint32_t deviceNumber, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* returned, uint64_t nowMicros);

    // Catches up with the clock: collects what the converter sent, polls when due.
    void Service(uint64_t nowMicros);

    Faults& Fault() { return faults_; }
    const Config& Settings() const { return config_; }
    OrvexUnit* Unit() const { return unit_; }
    uint32_t ResponseCounter() const { return counter_; }
    uint8_t PreferredSource() const { return preferredSource_; }
    // The card's own wide-wire in, wide-wire out and SL settings.
    uint8_t CardSetting(int which) const { return which == 0 ? cardWideWireIn_ : which == 1 ? cardWideWireOut_ : cardSLEnable_; }
    uint32_t LockLosses() const { return lockLosses_; }
    // Bytes that crossed the cable so far: from the converter, and to it.
    uint64_t CableBytes(bool fromConverter) const { return fromConverter ? answerBytes_ : requestBytes_; }
    // Device requests taken so far (the count failAllAfter compares with).
    uint32_t Requests() const { return requests_; }
    uint32_t RequestCount(uint32_t code) const;
    // The status block as "Slow Controls" reports it now.
    std::array<uint8_t, adapter::kStatusBlockSize> StatusBlock(bool fast) const;

private:
    enum class Kind {
        DeviceID, SerialNumber, PCBRev, FirmwareRev, XSDeviceID, XSPCBRev, XSFWRev, Trim, CurrentSource,
        RateSelect, FPAOutSource, FPDOutSource, XSlotOutSource, XCMode, FPMeterSource, WideWireIn, WideWireOut,
        SLEnable, FastControls, SlowControls, Peak, SourceA, SourceB, VolumeA, VolumeB, MuteA, MuteB,
        PreferredSource, CardWideWireIn, CardWideWireOut, CardSLEnable, DigIn1Status, CardDeviceID, CardFirmware,
    };
    struct Control {
        uint32_t id;
        uint32_t line;   // line ID
        Kind kind;
        uint32_t index;  // trim group or output
        const char* shortName;
        const char* name;
        uint32_t type;
        uint32_t flags;
        uint32_t items;
        uint32_t valueSize;
    };
    struct Line {
        uint32_t id;
        uint32_t destination;
        uint32_t source;  // 0xFFFFFFFF for a destination line
        uint32_t componentType;
        uint32_t channels;
        uint32_t connections;
        const char* shortName;
        const char* name;
        std::vector<uint32_t> controls;  // indexes into controls_
    };

    void BuildLines();
    void AddControl(uint32_t line, Kind kind, uint32_t index, const char* shortName, const char* name, uint32_t type,
                    uint32_t flags = mixer::MIXERCONTROL_CONTROLF_UNIFORM, uint32_t items = 0,
                    uint32_t valueSize = 4);
    const Line* FindLine(uint32_t id) const;
    const Control* FindControl(uint32_t id) const;
    uint32_t LineChannels(const Control& control) const;
    uint32_t Read(const Control& control, uint64_t now) const;
    mixer::MMRESULT Write(const Control& control, uint32_t value, uint64_t now);

    // Cable.
    void CountResponse() override;
    void StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) override;
    void Send(const std::vector<uint8_t>& bytes, uint64_t now);
    void Collect(uint64_t now);
    void WriteRegister(uint16_t reg, uint8_t value, uint64_t now);
    void SetRegisterBits(uint16_t reg, uint8_t mask, uint8_t value, uint64_t now);
    void Command(uint8_t command, uint64_t now);
    void MarkBusy();
    void LoseLock(uint64_t now);
    bool IsTaviFamily() const;
    uint32_t SerialNumber() const;
    uint8_t AlternateRevision() const;

    Config config_;
    OrvexUnit* unit_;
    Faults faults_;
    std::vector<Line> lines_;
    std::vector<Control> controls_;
    std::array<uint8_t, 256> regs_{};  // the converter's registers as last reported
    std::array<uint8_t, 2 * adapter::kOutputs> mutes_{};
    uint8_t preferredSource_ = 0;
    uint8_t cardWideWireIn_ = 1, cardWideWireOut_ = 1, cardSLEnable_ = 1;
    uint32_t counter_ = 0;
    uint64_t nextPoll_ = 0;
    uint64_t lockedAt_ = 0;
    uint32_t lockLosses_ = 0;
    std::vector<uint8_t> inbox_;
    uint64_t answerBytes_ = 0, requestBytes_ = 0;
    uint32_t requests_ = 0;
    std::vector<std::pair<uint64_t, uint8_t>> heldAnswers_;  // due, byte
    std::vector<std::pair<uint32_t, uint32_t>> requestCounts_;  // code, calls
};

}  // namespace sim
