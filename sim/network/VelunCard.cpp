#include "sim/network/VelunCard.h"

#include <algorithm>
#include <memory>

#include "protocol/RemoteMessages.h"

namespace sim {

struct VelunCard::Port {
    plat::Socket sock = plat::kInvalidSocket;
    uint16_t number = 0;
    std::vector<VelunCard*> cards;
};

namespace {
constexpr int kMaxDatagram = 65536;
// A flood must not hold the caller; what is left waits for the next pump.
constexpr int kMaxReadsPerPump = 256;

// The bound sockets of every card in this process.
std::vector<std::unique_ptr<VelunCard::Port>>& Ports() {
    static std::vector<std::unique_ptr<VelunCard::Port>> ports;
    return ports;
}

VelunCard::Port* Attach(VelunCard* card, uint32_t address, uint16_t number, std::string* why) {
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (s == plat::kInvalidSocket) {
        if (why) *why = "socket failed " + std::to_string(plat::WSAGetLastError());
        return nullptr;
    }
    uint32_t nonBlocking = 1;
    if (plat::ioctlsocket(s, plat::kFionbio, &nonBlocking) == 0 && plat::EnablePacketInfo(s) == 0 &&
        plat::bind(s, {address, plat::htons(number)}) == 0) {
        auto port = std::make_unique<VelunCard::Port>();
        port->sock = s;
        port->number = number;
        port->cards.push_back(card);
        Ports().push_back(std::move(port));
        return Ports().back().get();
    }
    const int error = plat::WSAGetLastError();
    plat::closesocket(s);
    // The port is held for the whole interface by another card: share its socket.
    if (error == plat::kWsaEAddrInUse)
        for (auto& port : Ports())
            if (port->number == number) {
                port->cards.push_back(card);
                return port.get();
            }
    if (why)
        *why = std::string("binding ") + plat::inet_ntoa(address) + ":" + std::to_string(number) + " failed " +
               std::to_string(error);
    return nullptr;
}

void Detach(VelunCard* card, VelunCard::Port* port) {
    if (!port) return;
    auto& cards = port->cards;
    cards.erase(std::remove(cards.begin(), cards.end(), card), cards.end());
    if (!cards.empty()) return;
    plat::closesocket(port->sock);
    auto& ports = Ports();
    ports.erase(std::remove_if(ports.begin(), ports.end(), [&](const auto& p) { return p.get() == port; }), ports.end());
}
}  // namespace

VelunCard::VelunCard(OrvexUnit& unit, uint32_t address) : unit_(unit), address_(address) {}

VelunCard::~VelunCard() { Stop(); }

bool VelunCard::Start(std::string* why) {
    Stop();
    // The card is a peer of its own: it does not rely on the program having started the socket layer.
    uint16_t version = 0;
    if (plat::WSAStartup(0x0202, &version) != 0) {
        if (why) *why = "WSAStartup failed";
        return false;
    }
    socketsStarted_ = true;
    converter_ = Attach(this, address_, kConverterPort, why);
    if (converter_) card_ = Attach(this, address_, kCardPort, why);
    if (!card_) {
        Stop();
        return false;
    }
    return true;
}

void VelunCard::Stop() {
    Detach(this, converter_);
    Detach(this, card_);
    converter_ = card_ = nullptr;
    haveComputer_ = false;
    pending_.clear();
    held_.clear();
    if (socketsStarted_) plat::WSACleanup();
    socketsStarted_ = false;
}

void VelunCard::Pump() {
    if (!Started() || pumping_) return;
    pumping_ = true;
    ReleaseHeld();
    Take(*converter_);
    Take(*card_);
    Flush(converter_->sock);  // what the unit reports by itself
    pumping_ = false;
}

void VelunCard::Take(Port& port) {
    std::vector<uint8_t>& buffer = buffer_;
    buffer.resize(kMaxDatagram);
    for (int i = 0; i < kMaxReadsPerPump; ++i) {
        plat::SockAddrIn from;
        uint32_t to = 0;
        const int n = plat::WSARecvMsg(port.sock, buffer.data(), kMaxDatagram, &from, &to);
        if (n == plat::kSocketError) {
            const int e = plat::WSAGetLastError();
            // Windows reports an earlier answer that found no listener on the next read.
            if (e == plat::kWsaEConnReset || e == plat::kWsaEMsgSize) continue;
            return;
        }
        VelunCard* target = port.cards.size() == 1 ? port.cards[0] : nullptr;
        for (VelunCard* c : port.cards)
            if (c->address_ == to) target = c;
        if (target) target->Deliver(port, buffer.data(), static_cast<size_t>(n), from);
    }
}

void VelunCard::Deliver(Port& port, const uint8_t* bytes, size_t size, const plat::SockAddrIn& from) {
    if (unplugged_) return;
    if (faults_.empty()) {
        ++datagrams_[int(Way::kToUnit)];
        DeliverNow(port, bytes, size, from);
        return;
    }
    std::vector<uint8_t> copy(bytes, bytes + size);
    if (Faulted(Way::kToUnit, copy, &port, from)) DeliverNow(port, copy.data(), copy.size(), from);
}

void VelunCard::DeliverNow(Port& port, const uint8_t* bytes, size_t size, const plat::SockAddrIn& from) {
    received_.push_back({port.number, std::vector<uint8_t>(bytes, bytes + size)});
    computer_ = {from.address, plat::htons(kAnswerPort)};
    haveComputer_ = true;
    // The unit acts on the card's own target for what reached port 5647.
    unit_.SetCardAddressed(port.number == kCardPort);
    unit_.Receive(bytes, size, plat::ClockMicros());
    Flush(port.sock);
}

void VelunCard::Flush(plat::Socket from) {
    unit_.Transmit(plat::ClockMicros(), pending_);
    if (silent_ || unplugged_ || !haveComputer_) {
        pending_.clear();
        return;
    }
    // One message a datagram, as the card sends them.
    size_t start = 0;
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i] != orvex::kSysexEnd) continue;
        if (faults_.empty()) {
            ++datagrams_[int(Way::kToComputer)];
            plat::sendto(from, pending_.data() + start, static_cast<int>(i + 1 - start), 0, computer_);
            ++answers_;
        } else {
            std::vector<uint8_t> datagram(pending_.begin() + static_cast<std::ptrdiff_t>(start),
                                          pending_.begin() + static_cast<std::ptrdiff_t>(i + 1));
            Port* port = from == converter_->sock ? converter_ : card_;
            if (Faulted(Way::kToComputer, datagram, port, computer_)) {
                plat::sendto(from, datagram.data(), static_cast<int>(datagram.size()), 0, computer_);
                ++answers_;
            }
        }
        start = i + 1;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
}

void VelunCard::DropDatagrams(Way way, uint32_t after, uint32_t count) {
    const uint64_t first = datagrams_[int(way)] + after;
    faults_.push_back({way, Fault::kDrop, first, first + count, 0, 0, 0});
}

void VelunCard::CorruptDatagrams(Way way, uint32_t after, uint32_t count, uint8_t mask, uint32_t position) {
    const uint64_t first = datagrams_[int(way)] + after;
    faults_.push_back({way, Fault::kCorrupt, first, first + count, mask, position, 0});
}

void VelunCard::DelayDatagrams(Way way, uint32_t after, uint32_t count, uint64_t micros) {
    const uint64_t first = datagrams_[int(way)] + after;
    faults_.push_back({way, Fault::kDelay, first, first + count, 0, 0, micros});
}

void VelunCard::ClearFaults() {
    faults_.clear();
    held_.clear();
    silent_ = unplugged_ = false;
}

bool VelunCard::Faulted(Way way, std::vector<uint8_t>& bytes, Port* port, const plat::SockAddrIn& from) {
    const uint64_t n = datagrams_[int(way)]++;
    for (const Fault& f : faults_) {
        if (f.way != way || n < f.first || n >= f.end) continue;
        switch (f.kind) {
        case Fault::kDrop:
            return false;
        case Fault::kCorrupt:
            if (!bytes.empty()) bytes[f.position % bytes.size()] ^= f.mask;
            break;
        case Fault::kDelay:
            held_.push_back({plat::ClockMicros() + f.micros, way, port, bytes, from});
            return false;
        }
    }
    return true;
}

void VelunCard::ReleaseHeld() {
    const uint64_t now = plat::ClockMicros();
    for (size_t i = 0; i < held_.size();) {
        if (held_[i].due > now) {
            ++i;
            continue;
        }
        Held h = std::move(held_[i]);
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        if (unplugged_ || !h.port) continue;
        if (h.way == Way::kToUnit) {
            DeliverNow(*h.port, h.bytes.data(), h.bytes.size(), h.from);
        } else if (!silent_) {
            plat::sendto(h.port->sock, h.bytes.data(), static_cast<int>(h.bytes.size()), 0, h.from);
            ++answers_;
        }
    }
}

bool VelunCard::SendToComputer(const std::vector<uint8_t>& bytes) {
    if (!Started()) return false;
    const plat::SockAddrIn to =
        haveComputer_ ? computer_ : plat::SockAddrIn{plat::htonl(0x7F000001), plat::htons(kAnswerPort)};
    return plat::sendto(converter_->sock, bytes.data(), static_cast<int>(bytes.size()), 0, to) ==
           static_cast<int>(bytes.size());
}

}  // namespace sim
