#pragma once
// Emulated converter: stands in for an Orvex unit (and the card in its XSlot)
// at the far end of a MIDI pair or a UDP peer, speaking the remote-control
// messages of protocol/RemoteMessages.h.
//
// How this unit keeps its registers and carries out commands:
//
// Bytes. Messages are cut from F0 to F7 in whatever pieces they arrive; bytes
//   outside a message are dropped, real-time bytes (F8-FF) are skipped, any
//   other status byte abandons the message, and so does a message that runs
//   past 256 bytes (no host message is longer than a 152-byte packet).
// Registers. 2048 bytes. Registers 1, 6, 9, 10, 11, 16, 17, 18 and 20 are the
//   unit's own (identity, programming status, revisions): host writes to them
//   are ignored, so a host that sets bit 7 of register 9 in its image cannot
//   switch banks by accident. Every other register takes what is written.
//   Writes or requests that reach past register 2047, and requests for more
//   than 4095 registers, are ignored (no answer).
// Answers. A status request gets one status response for exactly the
//   requested range, in the request's form, except that a range the short
//   form cannot carry unambiguously (first register 224-255 or 480-511, whose
//   short type byte reads as the long-form marker) is answered in the long
//   form. Writes and commands are never acknowledged.
// Flash. Each bank, and each of the card's two banks, is a byte array of
//   Config::flashSize / cardFlashSize bytes; erased is FF. A bank's firmware
//   revision is its byte at Config::revisionOffset (bits 5-0); the card's
//   second revision byte (register 20) is the byte after it. A bank is
//   bootable ("valid") until it is erased, and again once it has been marked
//   complete.
// Target. Register 5 bit 4 at the time of the erase chooses the card, when one
//   is fitted (SetCardAddressed lets a network peer address the card directly).
//   The unit's bank is chosen by commands 6 (bank 1) and 7 (bank 2); after power
//   on the selected bank is the running one. The card always programs its own
//   idle bank, so the unit's bank commands do not concern it.
// Commands. Command 12 arms the next command message; commands 3, 4 and 10
//   run only when armed and are ignored otherwise. Messages with a bad check
//   byte are ignored. While the unit is busy, every command but 11 is ignored.
//   1   announces a full re-read; the registers are always current: no effect.
//   3   erases the selected bank (PGMERR without erasing when it is the running
//       bank, or the card is targeted and none is fitted), Config::eraseMicros;
//       opens an update: packets go to consecutive 128-byte offsets from 0.
//   4   announces one type-15 packet. The packet is written at the next offset
//       (Config::packetMicros). For a Tavi or an Orvex(n) the CRC-8 written to
//       register 52 after command 4 must match, else PGMERR. A packet with no
//       open update, or past the end of flash, gives PGMERR; a packet that was
//       not announced gives TXERR.
//   5   reads back the next packet in written order (a cursor from offset 0,
//       reset by the erase, advanced by each command 5): its 128 bytes go to
//       registers 128-255 and are reported at once; register 9 gets PAKRDY.
//       This serves both a host that verifies after each write and one that
//       writes everything first and then reads every packet back.
//   6/7 select bank 1/2; selecting another bank closes an open update.
//   8/9 mark complete: 8 marks bank 1 (sent while bank 2 runs), 9 bank 2.
//       The bank must be the one just erased and written without error, else
//       PGMERR. For the card either command completes the card's update.
//   10  stores registers 12-15 and 28-31 as they stand (Config::serialStoreMicros);
//       until then a power cycle brings back the stored serial numbers.
//   11  cancels: any work stops, the open update is dropped (its bank stays
//       unbootable), flags PIP, PGMERR, TXERR and PAKRDY are cleared.
// Busy. While erasing, programming a packet or storing serial numbers, the
//   unit sends short status responses for register 9 by itself every
//   Config::reportIntervalMicros with PIP set, and one when the work ends with
//   PIP clear (PGMERR set when it failed). A refusal is reported the same way
//   at once, so the host does not wait for a time-out to learn it.
// Power cycle. Work in progress is lost. Each of the unit and the card boots
//   the bank marked complete when it is still valid, otherwise the bank that
//   ran before (never erasable, so always valid). Identity registers, the
//   stored serial numbers and register 5 bit 4 (cleared) are reloaded; other
//   registers keep their values (settings live in non-volatile memory), and
//   so does what was sent before the power went (it is on the cable).
// Time. The unit reads no clock: it acts at the times handed to Receive and
//   Transmit (microseconds; a time earlier than one already seen counts as
//   that one).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/ByteDevice.h"

namespace orvex {
struct HostMessage;
}

namespace sim {

class OrvexUnit final : public IByteDevice {
public:
    static constexpr uint32_t kRegisterCount = 2048;
    static constexpr uint32_t kPacketSize = 128;

    struct CardConfig {
        uint8_t id = 0;          // 0: no card fitted
        uint8_t revision = 0;    // register 17
        uint8_t revision2 = 0;   // register 20
        uint8_t pcb = 0;         // register 18
        uint32_t serial = 0;     // registers 28-31, same layout as the unit's
    };

    struct Config {
        uint8_t deviceId = 38;                    // register 1
        uint8_t variant = 0;                      // register 6 (96 makes an Orvex 8/16 an Orvex(n))
        uint8_t modelBits = 0xC0;                 // register 7 bits 7-6: bit 6 clear "/1824", bit 7 clear "/VT"
        uint8_t pcbRevision = 2;                  // register 11 bits 7-4
        std::array<uint8_t, 2> bankRevision{28, 28};  // revision of the firmware in bank 1, bank 2
        uint8_t runningBank = 0;                  // 0 bank 1, 1 bank 2
        // Serial word: device ID (not stored) bits 31-24, year bits 23-20 and
        // 19-18, week bits 17-12, number bits 11-0. Week 0 reads as blank.
        uint32_t serial = 0;
        CardConfig card;
        uint32_t flashSize = 512 * 1024;
        uint32_t cardFlashSize = 512 * 1024;
        uint32_t revisionOffset = 0;
        uint64_t eraseMicros = 1'500'000;
        uint64_t packetMicros = 2'000;
        uint64_t serialStoreMicros = 40'000;
        uint64_t reportIntervalMicros = 20'000;
    };

    explicit OrvexUnit(const Config& config);

    void Receive(const uint8_t* bytes, size_t size, uint64_t nowMicros) override;
    void Transmit(uint64_t nowMicros, std::vector<uint8_t>& out) override;

    // Switches the power off and on at nowMicros.
    void PowerCycle(uint64_t nowMicros);
    // A network peer addresses the card itself (the card's own transport target).
    void SetCardAddressed(bool on) { cardAddressed_ = on; }
    // The card's firmware was replaced by a path of its own (a DO-ZAZ card's
    // USB download): its running bank now carries these revisions, which
    // registers 17 and 20 show from the next power cycle on.
    void ReplaceCardFirmware(uint8_t revision, uint8_t revision2);

    // Inspection for tests.
    uint8_t Register(uint16_t reg) const { return reg < kRegisterCount ? regs_[reg] : 0; }
    uint8_t RunningBank() const { return unit_.running; }
    uint8_t CardRunningBank() const { return card_.running; }
    bool BankValid(bool card, uint8_t bank) const;
    // Bytes of a bank, for checking that it was (not) touched.
    const std::vector<uint8_t>& Flash(bool card, uint8_t bank) const;
    bool Busy() const { return work_ != Work::kNone; }
    bool Erasing() const { return work_ == Work::kErase; }
    uint32_t StatusRequestsSeen() const { return statusRequests_; }
    // The firmware revision a target runs now (the card's: register 17).
    uint8_t RunningRevision(bool card) const;

    // What the host did in the last update since the erase: for reports only.
    struct UpdateRecord {
        bool started = false, card = false, completed = false;
        uint8_t bank = 0;
        uint64_t eraseMicros = 0, completeMicros = 0;
        uint32_t written = 0, readBack = 0;
    };
    const UpdateRecord& LastUpdate() const { return record_; }

    // Fault injection. Packet numbers count from 0 at the erase.
    void FailPacket(std::optional<uint32_t> packet) { failPacket_ = packet; }         // PGMERR at its end
    void CorruptReadBack(std::optional<uint32_t> packet) { corruptPacket_ = packet; }  // one byte flipped
    // Drops the answer to status request number n (counting from 0, see StatusRequestsSeen).
    void DropResponse(std::optional<uint32_t> request) { dropRequest_ = request; }
    // Loses the answer to the read-back of packet n on the cable: the unit reads
    // the packet back (its cursor moves on) but the host never hears it.
    void DropReadBackAnswer(std::optional<uint32_t> packet) { dropReadBack_ = packet; }
    // A silent unit keeps working but sends nothing at all.
    void SetSilent(bool silent) { silent_ = silent; }
    // TXERR instead of taking packet n: its bytes came in damaged. The update
    // is spoilt as by PGMERR (fault campaigns aim a transfer error at one packet).
    void FailPacketTransfer(std::optional<uint32_t> packet) { txErrorPacket_ = packet; }
    // Host writes of the serial-number registers (12-15, 28-31) take effect this
    // long after they arrive, so they read back late; kNever: never (a unit that
    // refuses them); 0: at once. A power cycle loses writes not yet taken.
    static constexpr uint64_t kNever = UINT64_MAX;
    void DelaySerialWrites(uint64_t micros) { serialWriteDelay_ = micros; }
    // The serial-number store (command 10) ends with PGMERR and stores nothing.
    void FailSerialStore(bool fail) { failSerialStore_ = fail; }

private:
    enum class Work { kNone, kErase, kPacket, kSerialStore };

    struct Bank {
        std::vector<uint8_t> flash;
        bool valid = true;
    };
    struct Target {
        std::array<Bank, 2> banks;
        uint8_t running = 0;
        uint8_t bootMark = 0;
    };
    struct Update {
        bool open = false;
        bool card = false;
        uint8_t bank = 0;
        bool failed = false;
        uint32_t written = 0;   // packets written
        uint32_t readBack = 0;  // next packet command 5 reports
    };

    void Advance(uint64_t nowMicros);
    void FinishWork();
    void StartWork(Work work, uint64_t duration);
    void Frame(uint8_t byte);
    void Handle(const orvex::HostMessage& msg);
    void HandleCommand(uint8_t command);
    void HandleStatusRequest(uint16_t first, uint32_t count, bool longForm);
    void HandleWrite(uint16_t reg, uint8_t value);
    void HandlePacket(const std::vector<uint8_t>& data);
    bool CardTargeted() const;
    void Erase();
    void ReadBack();
    void Complete(uint8_t command);
    void Cancel();
    void Fail(uint8_t flag);
    void ReportStatus();
    void Send(uint16_t first, const uint8_t* values, uint32_t count, bool longForm);
    void Boot();
    void RefreshIdentity();
    void LoadSerials();
    void SetFlags(uint8_t set, uint8_t clear);
    bool IsTaviFamily() const;
    Target& TargetOf(bool card) { return card ? card_ : unit_; }
    uint8_t BankRevision(const Bank& bank) const;

    Config config_;
    std::array<uint8_t, kRegisterCount> regs_{};
    std::array<uint8_t, 8> storedSerials_{};  // 12-15 then 28-31
    Target unit_;
    Target card_;
    uint8_t selectedBank_ = 0;
    Update update_;
    uint8_t flags_ = 0;  // register 9 bits 0-3

    bool armed_ = false;           // command 12 seen
    bool packetAnnounced_ = false;  // command 4 seen
    bool crcWritten_ = false;       // register 52 written since command 4
    bool cardAddressed_ = false;

    Work work_ = Work::kNone;
    std::vector<uint8_t> pendingPacket_;  // written when its programming time is over
    uint64_t workEnd_ = 0;
    uint64_t nextReport_ = 0;
    uint64_t now_ = 0;

    std::vector<uint8_t> inMsg_;
    bool inside_ = false;
    std::vector<uint8_t> outbox_;

    uint32_t statusRequests_ = 0;
    UpdateRecord record_;
    std::optional<uint32_t> failPacket_;
    std::optional<uint32_t> corruptPacket_;
    std::optional<uint32_t> dropRequest_;
    std::optional<uint32_t> dropReadBack_;
    bool silent_ = false;
    std::optional<uint32_t> txErrorPacket_;
    uint64_t serialWriteDelay_ = 0;
    struct LateWrite {
        uint64_t due;
        uint16_t reg;
        uint8_t value;
    };
    std::vector<LateWrite> lateWrites_;
    bool failSerialStore_ = false;
};

}  // namespace sim
