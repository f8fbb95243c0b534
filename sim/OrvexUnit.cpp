#include "sim/OrvexUnit.h"

#include <algorithm>

#include "protocol/UnitCodes.h"
#include "protocol/RemoteMessages.h"

namespace sim {

namespace {

using orvex::kProgPAKRDY;
using orvex::kProgPGMERR;
using orvex::kProgPIP;
using orvex::kProgTXERR;
constexpr uint8_t kFlagMask = kProgPIP | kProgPGMERR | kProgTXERR | kProgPAKRDY;
constexpr uint8_t kCardFirmwareSelected = 0x10;  // register 5 bit 4

// No host message is longer than a 128-byte packet (152 bytes); anything
// longer is noise and is dropped before it can grow.
constexpr size_t kMaxHostMessage = 256;
// Bytes sent but not yet collected by Transmit; beyond this the cable is
// considered full and further messages are lost whole.
constexpr size_t kOutboxLimit = 1u << 20;

bool ReadOnlyRegister(uint16_t reg) {
    switch (reg) {
    case 1: case 6: case 9: case 10: case 11: case 16: case 17: case 18: case 20:
        return true;
    default:
        return false;
    }
}

// Serial word -> the four register bytes (week, year, number low, number high).
std::array<uint8_t, 4> SerialBytes(uint32_t serial) {
    return {static_cast<uint8_t>((serial >> 12) & 0x3F),
            static_cast<uint8_t>(((serial >> 14) & 0x30) | ((serial >> 20) & 0x0F)),
            static_cast<uint8_t>(serial & 0xFF),
            static_cast<uint8_t>((serial >> 8) & 0x0F)};
}

void PutByte(std::vector<uint8_t>& flash, uint32_t offset, uint8_t value) {
    if (offset < flash.size()) flash[offset] = value;
}

}  // namespace

OrvexUnit::OrvexUnit(const Config& config) : config_(config) {
    config_.runningBank &= 1;
    for (uint8_t b = 0; b < 2; ++b) {
        Bank& bank = unit_.banks[b];
        bank.flash.assign(config_.flashSize, 0xFF);
        PutByte(bank.flash, config_.revisionOffset, config_.bankRevision[b]);
        bank.valid = true;
    }
    unit_.running = unit_.bootMark = config_.runningBank;

    for (Bank& bank : card_.banks) {
        bank.flash.assign(config_.cardFlashSize, 0xFF);
        bank.valid = false;
    }
    Bank& cardRunning = card_.banks[0];
    PutByte(cardRunning.flash, config_.revisionOffset, config_.card.revision);
    PutByte(cardRunning.flash, config_.revisionOffset + 1, config_.card.revision2);
    cardRunning.valid = true;

    const auto unitSerial = SerialBytes(config_.serial);
    const auto cardSerial = SerialBytes(config_.card.id != 0 ? config_.card.serial : 0);
    std::copy(unitSerial.begin(), unitSerial.end(), storedSerials_.begin());
    std::copy(cardSerial.begin(), cardSerial.end(), storedSerials_.begin() + 4);
    Boot();
}

bool OrvexUnit::BankValid(bool card, uint8_t bank) const {
    return (card ? card_ : unit_).banks[bank & 1].valid;
}

const std::vector<uint8_t>& OrvexUnit::Flash(bool card, uint8_t bank) const {
    return (card ? card_ : unit_).banks[bank & 1].flash;
}

// ---- time ----

void OrvexUnit::Advance(uint64_t nowMicros) {
    const uint64_t now = std::max(nowMicros, now_);
    while (work_ != Work::kNone) {
        if (workEnd_ <= nextReport_ && workEnd_ <= now) {
            now_ = workEnd_;
            FinishWork();
        } else if (nextReport_ < workEnd_ && nextReport_ <= now) {
            now_ = nextReport_;
            ReportStatus();
            nextReport_ += config_.reportIntervalMicros;
        } else {
            break;
        }
    }
    now_ = now;
    // Serial-number writes held back by DelaySerialWrites land in their order.
    while (!lateWrites_.empty() && lateWrites_.front().due <= now_) {
        regs_[lateWrites_.front().reg] = lateWrites_.front().value;
        lateWrites_.erase(lateWrites_.begin());
    }
}

void OrvexUnit::StartWork(Work work, uint64_t duration) {
    work_ = work;
    SetFlags(kProgPIP, 0);
    workEnd_ = now_ + duration;
    nextReport_ = config_.reportIntervalMicros != 0 ? now_ + config_.reportIntervalMicros : UINT64_MAX;
}

void OrvexUnit::FinishWork() {
    Target& target = TargetOf(update_.card);
    switch (work_) {
    case Work::kErase:
        if (update_.open) std::fill(target.banks[update_.bank].flash.begin(), target.banks[update_.bank].flash.end(), 0xFF);
        break;
    case Work::kPacket:
        if (!update_.open) break;
        if (failPacket_ && *failPacket_ == update_.written) {
            update_.failed = true;
            SetFlags(kProgPGMERR, 0);
        } else {
            // Flash programming only clears bits; on an erased bank this is a copy.
            std::vector<uint8_t>& flash = target.banks[update_.bank].flash;
            const size_t offset = size_t{update_.written} * kPacketSize;
            for (size_t i = 0; i < pendingPacket_.size() && offset + i < flash.size(); ++i)
                flash[offset + i] &= pendingPacket_[i];
            ++update_.written;
            record_.written = update_.written;
        }
        break;
    case Work::kSerialStore:
        if (failSerialStore_) {
            SetFlags(kProgPGMERR, 0);
            break;
        }
        std::copy(regs_.begin() + 12, regs_.begin() + 16, storedSerials_.begin());
        std::copy(regs_.begin() + 28, regs_.begin() + 32, storedSerials_.begin() + 4);
        break;
    case Work::kNone:
        break;
    }
    pendingPacket_.clear();
    work_ = Work::kNone;
    SetFlags(0, kProgPIP);
    ReportStatus();
}

// ---- bytes in and out ----

void OrvexUnit::Receive(const uint8_t* bytes, size_t size, uint64_t nowMicros) {
    Advance(nowMicros);
    if (bytes == nullptr) return;
    for (size_t i = 0; i < size; ++i) Frame(bytes[i]);
}

void OrvexUnit::Transmit(uint64_t nowMicros, std::vector<uint8_t>& out) {
    Advance(nowMicros);
    out.insert(out.end(), outbox_.begin(), outbox_.end());
    outbox_.clear();
}

void OrvexUnit::Frame(uint8_t byte) {
    if (byte >= 0xF8) return;  // real-time bytes may sit anywhere in a MIDI stream
    if (byte == orvex::kSysexStart) {
        inside_ = true;
        inMsg_.assign(1, byte);
        return;
    }
    if (!inside_) return;  // garbage between messages
    if (byte == orvex::kSysexEnd) {
        inMsg_.push_back(byte);
        inside_ = false;
        const orvex::HostMessage msg = orvex::ParseHostMessage(inMsg_.data(), static_cast<uint32_t>(inMsg_.size()));
        inMsg_.clear();
        Handle(msg);
        return;
    }
    if ((byte & 0x80) != 0 || inMsg_.size() + 1 >= kMaxHostMessage) {
        // Another status byte ends a system-exclusive message; so does noise that runs on.
        inside_ = false;
        inMsg_.clear();
        return;
    }
    inMsg_.push_back(byte);
}

void OrvexUnit::Send(uint16_t first, const uint8_t* values, uint32_t count, bool longForm) {
    if (silent_) return;
    // The encoder goes long by itself wherever the short form would not fit or be misread.
    const std::vector<uint8_t> msg = orvex::EncodeStatusResponse(first, values, count, longForm);
    if (msg.empty() || outbox_.size() + msg.size() > kOutboxLimit) return;
    outbox_.insert(outbox_.end(), msg.begin(), msg.end());
}

void OrvexUnit::ReportStatus() { Send(9, &regs_[9], 1, false); }

// ---- messages ----

void OrvexUnit::Handle(const orvex::HostMessage& msg) {
    switch (msg.kind) {
    case orvex::HostMessage::kWrite:
        HandleWrite(msg.reg, msg.value);
        break;
    case orvex::HostMessage::kStatusRequest:
        HandleStatusRequest(msg.reg, msg.count, msg.longForm);
        break;
    case orvex::HostMessage::kCommand:
        if (msg.checkOk) HandleCommand(msg.command);
        break;
    case orvex::HostMessage::kPacket:
        HandlePacket(msg.data);
        break;
    case orvex::HostMessage::kInvalid:
        break;
    }
}

void OrvexUnit::HandleWrite(uint16_t reg, uint8_t value) {
    if (reg >= kRegisterCount || ReadOnlyRegister(reg)) return;
    const bool serial = (reg >= 12 && reg <= 15) || (reg >= 28 && reg <= 31);
    if (serial && serialWriteDelay_ != 0) {
        if (serialWriteDelay_ != kNever) lateWrites_.push_back({now_ + serialWriteDelay_, reg, value});
        return;
    }
    regs_[reg] = value;
    if (reg == 52) crcWritten_ = true;  // command 4 clears it: the CRC must follow it
}

void OrvexUnit::HandleStatusRequest(uint16_t first, uint32_t count, bool longForm) {
    const uint32_t index = statusRequests_++;
    const uint32_t n = count + 1;
    if (n > orvex::kMaxResponseRegisters || uint32_t{first} + count >= kRegisterCount) return;
    if (dropRequest_ && *dropRequest_ == index) return;
    Send(first, &regs_[first], n, longForm);
}

void OrvexUnit::HandleCommand(uint8_t command) {
    if (work_ != Work::kNone && command != orvex::kCmdCancel) return;
    const bool armed = armed_;
    armed_ = false;
    packetAnnounced_ = false;
    switch (command) {
    case orvex::kCmdPrefix:
        armed_ = true;
        break;
    case orvex::kCmdRefreshAll:
        break;  // the registers are always current
    case orvex::kCmdErase:
        if (armed) Erase();
        break;
    case orvex::kCmdPacketFollows:
        if (armed) {
            packetAnnounced_ = true;
            crcWritten_ = false;
        }
        break;
    case orvex::kCmdVerifyPacket:
        ReadBack();
        break;
    case orvex::kCmdSelectBank1:
    case orvex::kCmdSelectBank2: {
        const uint8_t bank = command == orvex::kCmdSelectBank1 ? 0 : 1;
        if (update_.open && !update_.card && update_.bank != bank) update_.open = false;
        selectedBank_ = bank;
        break;
    }
    case orvex::kCmdCompleteBank2Active:
    case orvex::kCmdCompleteBank1Active:
        Complete(command);
        break;
    case orvex::kCmdStoreSerial:
        if (armed) {
            SetFlags(0, kProgPGMERR | kProgTXERR | kProgPAKRDY);
            StartWork(Work::kSerialStore, config_.serialStoreMicros);
        }
        break;
    case orvex::kCmdCancel:
        Cancel();
        break;
    default:
        break;
    }
}

bool OrvexUnit::CardTargeted() const {
    return (regs_[5] & kCardFirmwareSelected) != 0 || cardAddressed_;
}

void OrvexUnit::Erase() {
    SetFlags(0, kProgPGMERR | kProgTXERR | kProgPAKRDY);
    update_ = Update{};
    const bool card = CardTargeted();
    if (card && config_.card.id == 0) {
        Fail(kProgPGMERR);
        return;
    }
    Target& target = TargetOf(card);
    const uint8_t bank = card ? static_cast<uint8_t>(1 - card_.running) : selectedBank_;
    if (bank == target.running) {
        Fail(kProgPGMERR);  // the running bank is never touched
        return;
    }
    target.banks[bank].valid = false;
    if (target.bootMark == bank) target.bootMark = target.running;
    update_.open = true;
    update_.card = card;
    update_.bank = bank;
    record_ = UpdateRecord{true, card, false, bank, now_, 0, 0, 0};
    RefreshIdentity();
    StartWork(Work::kErase, config_.eraseMicros);
}

void OrvexUnit::HandlePacket(const std::vector<uint8_t>& data) {
    const bool announced = packetAnnounced_;
    packetAnnounced_ = false;
    if (!announced || work_ != Work::kNone) {
        Fail(kProgTXERR);
        return;
    }
    if (!update_.open || update_.failed) {
        Fail(kProgPGMERR);
        return;
    }
    if (txErrorPacket_ && *txErrorPacket_ == update_.written) {
        update_.failed = true;
        Fail(kProgTXERR);
        return;
    }
    const bool crcBad = IsTaviFamily() &&
                        (!crcWritten_ || regs_[52] != orvex::PacketCrc8(data.data(), static_cast<uint32_t>(data.size())));
    const size_t end = size_t{update_.written} * kPacketSize + data.size();
    if (crcBad || data.empty() || data.size() > kPacketSize || end > TargetOf(update_.card).banks[update_.bank].flash.size()) {
        update_.failed = true;
        Fail(kProgPGMERR);
        return;
    }
    pendingPacket_ = data;
    StartWork(Work::kPacket, config_.packetMicros);
}

void OrvexUnit::ReadBack() {
    if (!update_.open) {
        Fail(kProgPGMERR);
        return;
    }
    const std::vector<uint8_t>& flash = TargetOf(update_.card).banks[update_.bank].flash;
    const size_t offset = size_t{update_.readBack} * kPacketSize;
    if (offset + kPacketSize > flash.size()) {
        Fail(kProgPGMERR);
        return;
    }
    std::copy(flash.begin() + static_cast<std::ptrdiff_t>(offset),
              flash.begin() + static_cast<std::ptrdiff_t>(offset + kPacketSize), regs_.begin() + 128);
    if (corruptPacket_ && *corruptPacket_ == update_.readBack) regs_[128 + 64] ^= 0xFF;
    const bool lost = dropReadBack_ && *dropReadBack_ == update_.readBack;
    ++update_.readBack;
    record_.readBack = update_.readBack;
    SetFlags(kProgPAKRDY, 0);
    if (!lost) Send(128, &regs_[128], kPacketSize, false);
}

void OrvexUnit::Complete(uint8_t command) {
    if (!update_.open || update_.failed || update_.written == 0) {
        Fail(kProgPGMERR);
        return;
    }
    // Command 8 is sent while bank 2 runs, so it names bank 1; command 9 names bank 2.
    if (!update_.card && update_.bank != (command == orvex::kCmdCompleteBank2Active ? 0 : 1)) {
        Fail(kProgPGMERR);
        return;
    }
    Target& target = TargetOf(update_.card);
    target.banks[update_.bank].valid = true;
    target.bootMark = update_.bank;
    update_.open = false;
    record_.completed = true;
    record_.completeMicros = now_;
    SetFlags(0, kProgPAKRDY);
    RefreshIdentity();
}

void OrvexUnit::Cancel() {
    const bool wasBusy = work_ != Work::kNone;
    work_ = Work::kNone;
    pendingPacket_.clear();
    update_.open = false;
    armed_ = false;
    packetAnnounced_ = false;
    SetFlags(0, kFlagMask);
    if (wasBusy) ReportStatus();
}

void OrvexUnit::Fail(uint8_t flag) {
    SetFlags(flag, 0);
    ReportStatus();
}

// ---- state ----

void OrvexUnit::ReplaceCardFirmware(uint8_t revision, uint8_t revision2) {
    std::vector<uint8_t>& flash = card_.banks[card_.running].flash;
    PutByte(flash, config_.revisionOffset, revision);
    PutByte(flash, config_.revisionOffset + 1, revision2);
}

void OrvexUnit::PowerCycle(uint64_t nowMicros) {
    Advance(nowMicros);  // work due before the power went is done
    Boot();
}

void OrvexUnit::Boot() {
    for (Target* target : {&unit_, &card_}) {
        if (target->banks[target->bootMark].valid) target->running = target->bootMark;
        target->bootMark = target->running;
    }
    selectedBank_ = unit_.running;
    update_ = Update{};
    work_ = Work::kNone;
    pendingPacket_.clear();
    flags_ = 0;
    armed_ = packetAnnounced_ = crcWritten_ = false;
    lateWrites_.clear();
    inside_ = false;
    inMsg_.clear();
    regs_[5] &= static_cast<uint8_t>(~kCardFirmwareSelected);
    LoadSerials();
    RefreshIdentity();
}

void OrvexUnit::LoadSerials() {
    std::copy(storedSerials_.begin(), storedSerials_.begin() + 4, regs_.begin() + 12);
    std::copy(storedSerials_.begin() + 4, storedSerials_.end(), regs_.begin() + 28);
}

uint8_t OrvexUnit::RunningRevision(bool card) const { return card ? regs_[17] : regs_[10] & 0x3F; }

uint8_t OrvexUnit::BankRevision(const Bank& bank) const {
    return config_.revisionOffset < bank.flash.size() ? bank.flash[config_.revisionOffset] & 0x3F : 0;
}

void OrvexUnit::RefreshIdentity() {
    regs_[1] = config_.deviceId;
    regs_[6] = config_.variant;
    regs_[7] = static_cast<uint8_t>((regs_[7] & 0x3F) | (config_.modelBits & 0xC0));
    const uint8_t running = BankRevision(unit_.banks[unit_.running]);
    const Bank& idle = unit_.banks[1 - unit_.running];
    const uint8_t alternate = idle.valid ? BankRevision(idle) : 0;
    regs_[10] = static_cast<uint8_t>(running | ((alternate & 0x03) << 6));
    regs_[11] = static_cast<uint8_t>(((config_.pcbRevision & 0x0F) << 4) | ((alternate >> 2) & 0x0F));
    SetFlags(0, 0);

    const bool fitted = config_.card.id != 0;
    const std::vector<uint8_t>& cardFlash = card_.banks[card_.running].flash;
    const uint32_t off = config_.revisionOffset;
    regs_[16] = fitted ? config_.card.id : 0;
    regs_[17] = fitted && off < cardFlash.size() ? cardFlash[off] : 0;
    regs_[18] = fitted ? config_.card.pcb : 0;
    regs_[20] = fitted && off + 1 < cardFlash.size() ? cardFlash[off + 1] : 0;
}

void OrvexUnit::SetFlags(uint8_t set, uint8_t clear) {
    flags_ = static_cast<uint8_t>((flags_ | set) & ~clear & kFlagMask);
    regs_[9] = static_cast<uint8_t>((unit_.running != 0 ? 0x80 : 0) | flags_);
}

bool OrvexUnit::IsTaviFamily() const {
    uint8_t id = regs_[1];
    if ((id == 38 || id == 39) && regs_[6] == 96) id = 96;
    return id == 49 || id == 96;
}

}  // namespace sim
