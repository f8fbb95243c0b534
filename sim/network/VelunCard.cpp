#include "sim/network/VelunCard.h"

#include <algorithm>

#include "protocol/RemoteMessages.h"

namespace sim {

namespace {
constexpr int kMaxDatagram = 65536;
// A flood must not hold the caller; what is left waits for the next pump.
constexpr int kMaxReadsPerPump = 256;

plat::Socket BoundSocket(uint32_t address, uint16_t port, std::string* why) {
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (s == plat::kInvalidSocket) {
        if (why) *why = "socket failed " + std::to_string(plat::WSAGetLastError());
        return s;
    }
    uint32_t nonBlocking = 1;
    if (plat::ioctlsocket(s, plat::kFionbio, &nonBlocking) != 0 || plat::bind(s, {address, plat::htons(port)}) != 0) {
        if (why)
            *why = std::string("binding ") + plat::inet_ntoa(address) + ":" + std::to_string(port) + " failed " +
                   std::to_string(plat::WSAGetLastError());
        plat::closesocket(s);
        return plat::kInvalidSocket;
    }
    return s;
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
    converter_ = BoundSocket(address_, kConverterPort, why);
    if (converter_ == plat::kInvalidSocket) return false;
    card_ = BoundSocket(address_, kCardPort, why);
    if (card_ == plat::kInvalidSocket) {
        Stop();
        return false;
    }
    return true;
}

void VelunCard::Stop() {
    if (converter_ != plat::kInvalidSocket) plat::closesocket(converter_);
    if (card_ != plat::kInvalidSocket) plat::closesocket(card_);
    converter_ = card_ = plat::kInvalidSocket;
    haveComputer_ = false;
    pending_.clear();
    if (socketsStarted_) plat::WSACleanup();
    socketsStarted_ = false;
}

void VelunCard::Pump() {
    if (!Started() || pumping_) return;
    pumping_ = true;
    Take(converter_, kConverterPort);
    Take(card_, kCardPort);
    Flush(converter_);  // what the unit reports by itself
    pumping_ = false;
}

void VelunCard::Take(plat::Socket s, uint16_t port) {
    std::vector<uint8_t> buffer(kMaxDatagram);
    for (int i = 0; i < kMaxReadsPerPump; ++i) {
        plat::SockAddrIn from;
        const int n = plat::recvfrom(s, buffer.data(), kMaxDatagram, 0, &from);
        if (n == plat::kSocketError) {
            const int e = plat::WSAGetLastError();
            // Windows reports an earlier answer that found no listener on the next read.
            if (e == plat::kWsaEConnReset || e == plat::kWsaEMsgSize) continue;
            return;
        }
        received_.push_back({port, std::vector<uint8_t>(buffer.begin(), buffer.begin() + n)});
        computer_ = {from.address, plat::htons(kAnswerPort)};
        haveComputer_ = true;
        // The unit acts on the card's own target for what reached port 5647.
        unit_.SetCardAddressed(port == kCardPort);
        unit_.Receive(buffer.data(), static_cast<size_t>(n), plat::ClockMicros());
        Flush(s);
    }
}

void VelunCard::Flush(plat::Socket from) {
    unit_.Transmit(plat::ClockMicros(), pending_);
    if (silent_ || !haveComputer_) {
        pending_.clear();
        return;
    }
    // One message a datagram, as the card sends them.
    size_t start = 0;
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i] != orvex::kSysexEnd) continue;
        plat::sendto(from, pending_.data() + start, static_cast<int>(i + 1 - start), 0, computer_);
        ++answers_;
        start = i + 1;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
}

bool VelunCard::SendToComputer(const std::vector<uint8_t>& bytes) {
    if (!Started()) return false;
    const plat::SockAddrIn to = haveComputer_ ? computer_ : plat::SockAddrIn{plat::htonl(0x7F000001), plat::htons(kAnswerPort)};
    return plat::sendto(converter_, bytes.data(), static_cast<int>(bytes.size()), 0, to) ==
           static_cast<int>(bytes.size());
}

}  // namespace sim
