#pragma once
// The network side of an emulated VA-VOVUZ card: a UDP peer on a loopback
// address in front of an emulated converter. Datagrams to port 5645 go to the
// converter behind the card; datagrams to port 5647 address the card itself
// (its registers, serial number and firmware banks). Every message the unit
// sends goes, one datagram each, to port 5646 of the computer that last
// talked to the card, from the port the message it answers came in on.
//
// No thread: Pump takes what has arrived and sends what is due by the
// platform clock; call it from the platform's idle hook.
//
// Each card binds its own address. Where the system binds a loopback address
// to the whole interface (Wine does, so a second card could not have the same
// port), the card shares the socket of the card that holds the port, and that
// socket hands each datagram to the card it was sent to.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "sim/OrvexUnit.h"

namespace sim {

class VelunCard {
public:
    static constexpr uint16_t kConverterPort = 5645;
    static constexpr uint16_t kAnswerPort = 5646;
    static constexpr uint16_t kCardPort = 5647;

    // address: IPv4 in network order, on loopback (127.0.0.x).
    VelunCard(OrvexUnit& unit, uint32_t address);
    ~VelunCard();
    VelunCard(const VelunCard&) = delete;
    VelunCard& operator=(const VelunCard&) = delete;

    // Binds both ports on the address; false with the reason when it cannot.
    bool Start(std::string* why);
    void Stop();
    bool Started() const { return converter_ != nullptr; }
    void Pump();

    uint32_t Address() const { return address_; }
    OrvexUnit& Unit() { return unit_; }

    // Faults. A silent card takes datagrams to the unit but sends nothing back.
    void SetSilent(bool silent) { silent_ = silent; }
    // An unplugged card is off the network: what reaches its ports is lost
    // and it sends nothing (the unit behind it goes on working).
    void SetUnplugged(bool unplugged) { unplugged_ = unplugged; }
    // Faults on single datagrams, for fault campaigns, counted from the call in
    // one direction: after `after` datagrams the next `count` are lost, have
    // one byte changed (XOR `mask`, at `position` modulo their length) or are
    // held back `micros` (datagrams behind them are not).
    enum class Way { kToUnit, kToComputer };
    void DropDatagrams(Way way, uint32_t after, uint32_t count);
    void CorruptDatagrams(Way way, uint32_t after, uint32_t count, uint8_t mask, uint32_t position);
    void DelayDatagrams(Way way, uint32_t after, uint32_t count, uint64_t micros);
    // Ends every datagram fault, the silence and the unplugging; held datagrams are lost.
    void ClearFaults();
    // Datagrams seen so far in one direction (the count faults start from).
    uint64_t Datagrams(Way way) const { return datagrams_[int(way)]; }
    // A datagram of these bytes (empty, oversized, anything) to port 5646 of the
    // computer that last talked to the card (127.0.0.1 before any did).
    bool SendToComputer(const std::vector<uint8_t>& bytes);

    struct Datagram {
        uint16_t port;  // the card's port it came in on
        std::vector<uint8_t> bytes;
    };
    const std::vector<Datagram>& Received() const { return received_; }
    void ClearReceived() { received_.clear(); }
    uint32_t AnswersSent() const { return answers_; }

    struct Port;  // a bound socket and the cards it takes datagrams for

private:
    struct Fault {
        Way way;
        enum Kind { kDrop, kCorrupt, kDelay } kind;
        uint64_t first, end;  // datagram numbers in its direction
        uint8_t mask;
        uint32_t position;
        uint64_t micros;
    };
    struct Held {
        uint64_t due;
        Way way;
        Port* port;  // the card's port it came in on, or goes out from
        std::vector<uint8_t> bytes;
        plat::SockAddrIn from;
    };
    void Take(Port& port);
    void Deliver(Port& port, const uint8_t* bytes, size_t size, const plat::SockAddrIn& from);
    void DeliverNow(Port& port, const uint8_t* bytes, size_t size, const plat::SockAddrIn& from);
    void Flush(plat::Socket from);
    // Applies the faults due for the next datagram of a direction: false when it is lost or held back.
    bool Faulted(Way way, std::vector<uint8_t>& bytes, Port* port, const plat::SockAddrIn& from);
    void ReleaseHeld();

    OrvexUnit& unit_;
    uint32_t address_;
    Port* converter_ = nullptr;
    Port* card_ = nullptr;
    bool socketsStarted_ = false;
    bool haveComputer_ = false;
    plat::SockAddrIn computer_;
    bool silent_ = false;
    bool unplugged_ = false;
    std::vector<Fault> faults_;
    uint64_t datagrams_[2] = {0, 0};  // seen in each direction
    std::vector<Held> held_;
    bool pumping_ = false;
    std::vector<Datagram> received_;
    std::vector<uint8_t> pending_;  // unit output not yet cut into messages
    std::vector<uint8_t> buffer_;   // one datagram read
    uint32_t answers_ = 0;
};

}  // namespace sim
