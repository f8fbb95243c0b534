// The emulated converter (sim::OrvexUnit) fed whatever a host could send:
// raw bytes, and real host messages (writes, requests, commands with their
// prefix, packets) cut at any point, with the clock moving and power cycles
// between them. Whatever it hears:
//  - the bank it runs from, its own and its card's, is never written, and
//    stays bootable;
//  - a power cycle boots a bank that is bootable;
//  - its identity registers stay its own;
//  - everything it sends is a sequence of well-formed status responses.
#include <algorithm>

#include "fuzz/support/Fuzz.h"
#include "protocol/RemoteMessages.h"
#include "sim/OrvexUnit.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Snapshot {
    uint8_t bank;
    Bytes flash;
};

uint8_t RunningBank(const sim::OrvexUnit& unit, bool card) {
    return card ? unit.CardRunningBank() : unit.RunningBank();
}

Snapshot Running(const sim::OrvexUnit& unit, bool card) {
    const uint8_t bank = RunningBank(unit, card);
    return {bank, unit.Flash(card, bank)};
}

void CheckRunning(const sim::OrvexUnit& unit, const Snapshot& own, const Snapshot& card) {
    ORVEX_FUZZ_CHECK(RunningBank(unit, false) == own.bank && unit.Flash(false, own.bank) == own.flash,
                     "the running bank was written");
    ORVEX_FUZZ_CHECK(unit.BankValid(false, own.bank), "the running bank is no longer bootable");
    ORVEX_FUZZ_CHECK(RunningBank(unit, true) == card.bank && unit.Flash(true, card.bank) == card.flash,
                     "the card's running bank was written");
    ORVEX_FUZZ_CHECK(unit.BankValid(true, card.bank), "the card's running bank is no longer bootable");
}

void CheckSent(const Bytes& sent) {
    struct Sink : orvex::IResponseSink {
        int stored = 0;
        void CountResponse() override {}
        void StoreRegisters(uint16_t, uint32_t, const uint8_t*) override { ++stored; }
    };
    size_t start = 0;
    while (start < sent.size()) {
        ORVEX_FUZZ_CHECK(sent[start] == 0xF0, "the unit sent a byte outside a message: " + fuzz::Hex(sent));
        const auto end = std::find(sent.begin() + long(start), sent.end(), uint8_t(0xF7));
        ORVEX_FUZZ_CHECK(end != sent.end(), "the unit sent an unfinished message: " + fuzz::Hex(sent));
        const size_t length = size_t(end - sent.begin()) + 1 - start;
        Sink sink;
        ORVEX_FUZZ_CHECK(orvex::DecodeMessage(sent.data() + start, uint32_t(length), &sink) == 0 && sink.stored == 1,
                         "the unit sent a malformed response: " + fuzz::Hex(sent.data() + start, length));
        start += length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    static constexpr uint8_t kModels[][2] = {{38, 0}, {39, 0}, {128, 0}, {49, 0}, {38, 96}};
    static constexpr uint8_t kCards[] = {0, 19, 21, 24, 50};
    sim::OrvexUnit::Config config;
    const auto& model = kModels[in.Byte() % 5];
    config.deviceId = model[0];
    config.variant = model[1];
    config.card.id = kCards[in.Byte() % 5];
    config.runningBank = in.Byte() & 1;
    config.flashSize = 4096;  // 32 packets: small enough to be written whole in one input
    config.cardFlashSize = 4096;
    config.revisionOffset = 0x110;
    config.eraseMicros = in.Range(0, 100'000);
    config.packetMicros = in.Range(0, 5'000);
    config.serialStoreMicros = in.Range(0, 50'000);
    config.reportIntervalMicros = in.Range(0, 30'000);
    sim::OrvexUnit unit(config);

    Snapshot own = Running(unit, false), card = Running(unit, true);
    uint64_t now = 0;
    Bytes sent;
    Bytes packet(128);
    for (int op = 0; op < 2000 && !in.Empty(); ++op) {
        Bytes message;
        switch (in.Byte() % 10) {
        case 0: message = in.Bytes(in.Range(0, 200)); break;
        case 1: message = orvex::EncodeRegisterWrite(in.U16(), in.Byte(), in.Bool()); break;
        case 2: message = orvex::EncodeStatusRequest(in.U16(), in.U16(), in.Bool()); break;
        case 3: message = orvex::EncodeCommand(in.Range(1, 12)); break;
        case 4: {
            // The prefix and a command it arms: erase, packet follows, store serial.
            static constexpr uint8_t kArmed[] = {orvex::kCmdErase, orvex::kCmdPacketFollows, orvex::kCmdStoreSerial};
            message = orvex::EncodeCommand(orvex::kCmdPrefix);
            const Bytes c = orvex::EncodeCommand(kArmed[in.Byte() % 3]);
            message.insert(message.end(), c.begin(), c.end());
            break;
        }
        case 5: {
            const uint32_t n = in.Range(1, 128);
            const uint8_t fill = in.Byte();
            for (uint32_t i = 0; i < n; ++i) packet[i] = uint8_t(fill + i * 3);
            message = orvex::EncodeFirmwarePacket(packet.data(), n);
            if (in.Bool()) {  // the CRC write a Tavi or an Orvex(n) wants first
                Bytes crc = orvex::EncodeRegisterWrite(52, orvex::PacketCrc8(packet.data(), n), false);
                message.insert(message.begin(), crc.begin(), crc.end());
            }
            break;
        }
        case 6: now += in.Range(0, 2'000'000); break;
        case 7: unit.Transmit(now, sent); break;
        case 8:
            if (in.Byte() % 8 == 0) {
                // Nothing can bring a running bank back once written, so a check
                // before each power cycle and at the end sees every write to one.
                CheckRunning(unit, own, card);
                unit.PowerCycle(now);
                for (bool c : {false, true})
                    ORVEX_FUZZ_CHECK(unit.BankValid(c, RunningBank(unit, c)), "a power cycle booted a bank that is not bootable");
                own = Running(unit, false);
                card = Running(unit, true);
            }
            break;
        default: {
            // A message cut in two, the pieces arriving at different times.
            message = orvex::EncodeCommand(in.Range(1, 12));
            const size_t cut = in.Range(0, uint32_t(message.size()));
            unit.Receive(message.data(), cut, now);
            now += in.Range(0, 50'000);
            message.erase(message.begin(), message.begin() + long(cut));
            break;
        }
        }
        if (!message.empty()) unit.Receive(message.data(), message.size(), now);
        ORVEX_FUZZ_CHECK(unit.Register(1) == config.deviceId && unit.Register(6) == config.variant &&
                             unit.Register(16) == config.card.id,
                         "the identity registers changed");
    }
    unit.Transmit(now + 10'000'000, sent);
    CheckRunning(unit, own, card);
    CheckSent(sent);
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    // An Orvex 16 running bank 1: erase, four packets each read back, complete, power cycle.
    for (uint8_t model : {0, 4}) {
        InputWriter w;
        w.Byte(model).Byte(model == 4 ? 4 : 0).Byte(0).Range(0, 100'000, 1000).Range(0, 5'000, 100).Range(0, 50'000, 100)
            .Range(0, 30'000, 200);
        w.Byte(3).Range(1, 12, orvex::kCmdSelectBank2);
        w.Byte(4).Byte(0).Byte(6).Range(0, 2'000'000, 5000).Byte(7);
        for (int p = 0; p < 4; ++p) {
            w.Byte(4).Byte(1).Byte(5).Range(1, 128, 128).Byte(uint8_t(p)).Bool(model == 4);
            w.Byte(6).Range(0, 2'000'000, 1000).Byte(3).Range(1, 12, orvex::kCmdVerifyPacket).Byte(7);
        }
        w.Byte(3).Range(1, 12, orvex::kCmdCompleteBank1Active).Byte(2).U16(1).U16(23).Bool(false).Byte(7);
        w.Byte(8).Byte(0).Byte(7);
        seeds.push_back(w.Data());
    }
    // A serial number written and stored, a cancel in the middle of an erase, a request cut in two.
    seeds.push_back(InputWriter().Byte(0).Byte(1).Byte(1).Range(0, 100'000, 50'000).Range(0, 5'000, 0)
                        .Range(0, 50'000, 40'000).Range(0, 30'000, 20'000)
                        .Byte(1).U16(12).Byte(0x0F).Bool(false).Byte(4).Byte(2).Byte(6).Range(0, 2'000'000, 100)
                        .Byte(4).Byte(0).Byte(3).Range(1, 12, orvex::kCmdCancel).Byte(9).Range(1, 12, 5).Range(0, 8, 3)
                        .Range(0, 50'000, 10).Byte(7).Data());
}
