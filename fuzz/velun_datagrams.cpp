// The network path's receive side: arbitrary UDP datagrams to port 5646,
// read by CVelunIF and pumped by COrvexRemote, with good status responses
// among them.
//
// The transport is the real one, opened once through the DNS-SD stand-in
// against an emulated VA-VOVUZ card on 127.0.0.2 and kept open from input to
// input (a new browse costs a second of virtual time); each input gets a
// fresh COrvexRemote over it. Datagrams come from a socket of this process.
// Checked:
//  - the transport hands over every datagram sent while it is open, in
//    order, byte for byte, and clears the rest of the buffer; only an empty
//    datagram or one longer than the 4,095-byte buffer fails a read, and that
//    read closes it (a new Open follows at the next poll, as the link does);
//  - a good response lands in the register image where the stream around it
//    is clean: no failed read in its pump, at most 4,095 bytes from the last
//    F7 before it to its own F7, and no pump on the way bringing more than
//    the ring can take behind what a pump leaves (see remote_pump.cpp).
//
// Input: the watched register W, then operations: a good response, noise, a
// flood of one byte, an empty datagram, noise ending in F7, a poll.
//
// Runs in a network namespace of its own where the system allows it (root),
// so port 5646 is never taken from anything else on the machine.

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "fuzz/support/Fuzz.h"
#include "platform/Platform.h"
#include "protocol/RemoteMessages.h"
#include "sim/OrvexUnit.h"
#include "sim/network/DnsSdStandIn.h"
#include "sim/network/VelunCard.h"
#include "tests/support/OwnNetwork.h"
#include "transport/VelunIF.h"
#include "unitcontrol/OrvexRemote.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMaxMessage = orvex::COrvexRemote::kMaxMessage;
constexpr size_t kSafePump = orvex::COrvexRemote::kRingCapacity - (kMaxMessage - 1) - 1;
constexpr size_t kMaxDatagrams = 16;
constexpr size_t kMaxUnread = 32 * 1024;  // well inside the socket's receive buffer
constexpr int kMaxFails = 1;              // each one costs a new discovery (a second of browsing)

uint32_t Loopback(unsigned last) { return plat::htonl(0x7F000000u | last); }

// What one read of the transport handed over.
struct Taken {
    bool failed = false;
    size_t size = 0;
    bool good = false;
    size_t goodIndex = 0;
    bool hasEnd = false;  // an F7 in it
    size_t tail = 0;      // bytes after its last F7
};

struct Rig {
    std::unique_ptr<sim::OrvexUnit> unit;
    std::unique_ptr<sim::VelunCard> card;
    orvex::CVelunIF transport;
    plat::Socket sender = plat::kInvalidSocket;
    bool pumpCard = false;  // only while the link re-opens and selects the unit
    // What the checks follow while an input runs.
    bool checking = false;
    std::deque<std::pair<Bytes, long>> expected;  // sent while open: bytes, good index or -1
    std::vector<std::vector<Taken>> pumps;        // reads per poll
    int reopens = 0;
    int uncheckedReads = 0;  // datagrams read while the card answered the link
};
Rig* g_rig = nullptr;

Rig& TheRig() {
    if (g_rig) return *g_rig;
    OwnNetwork();  // else the machine's loopback
    plat::UseVirtualClock(true);
    sim::dnssd::Reset();
    orvex::CVelunIF::SetDnsSdApi(&sim::dnssd::Api());
    auto* rig = new Rig;
    sim::OrvexUnit::Config config;
    config.card.id = 21;
    config.card.revision = 14;
    config.card.revision2 = 3;
    rig->unit = std::make_unique<sim::OrvexUnit>(config);
    rig->card = std::make_unique<sim::VelunCard>(*rig->unit, Loopback(2));
    std::string why;
    ORVEX_FUZZ_CHECK(rig->card->Start(&why), "the emulated card starts: " + why);
    sim::dnssd::Advertise(sim::dnssd::MakeService("VA-VOVUZ-2", "vovuz-2", Loopback(2), 5645));
    plat::SetIdleHook([rig] {
        if (rig->pumpCard) rig->card->Pump();
    });
    rig->sender = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    ORVEX_FUZZ_CHECK(rig->sender != plat::kInvalidSocket && plat::bind(rig->sender, {Loopback(1), 0}) == 0,
                     "sender socket");
    g_rig = rig;
    return *rig;
}

// The link's transport: the rig's CVelunIF, kept open when the link lets it go.
class SharedTransport : public orvex::COrvexInterface {
public:
    explicit SharedTransport(Rig& rig) : m_rig(rig) {}
    uint16_t Open() override {
        if (m_rig.transport.IsOpen()) return orvex::kTransportOk;
        ++m_rig.reopens;
        m_rig.pumpCard = true;
        return m_rig.transport.Open();
    }
    uint16_t Close() override { return orvex::kTransportOk; }
    void SetPortNameFilter(const char* text) override { m_rig.transport.SetPortNameFilter(text); }
    bool IsOpen() override { return m_rig.transport.IsOpen(); }
    uint16_t GetNumConnections(uint16_t* count) override { return m_rig.transport.GetNumConnections(count); }
    uint16_t SelectConnection(uint16_t n) override { return m_rig.transport.SelectConnection(n); }
    uint16_t GetCurrentConnection(uint16_t* n) override { return m_rig.transport.GetCurrentConnection(n); }
    uint16_t GetConnectionDescription(uint16_t n, char* text, uint32_t size) override {
        return m_rig.transport.GetConnectionDescription(n, text, size);
    }
    uint16_t SetSlotTarget(bool on) override { return m_rig.transport.SetSlotTarget(on); }
    uint16_t Write(const uint8_t* bytes, int32_t length) override { return m_rig.transport.Write(bytes, length); }
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override {
        const uint16_t status = m_rig.transport.Read(buffer, size, received);
        if (!m_rig.checking || m_rig.pumpCard) {
            if (status == orvex::kTransportOk && *received > 0) ++m_rig.uncheckedReads;
            return status;
        }
        ORVEX_FUZZ_CHECK(size == int32_t(kMaxMessage), "the pump reads with a 4,095-byte buffer");
        if (status != orvex::kTransportOk) {
            ORVEX_FUZZ_CHECK(!m_rig.transport.IsOpen(), "a failed read closes the transport");
            ORVEX_FUZZ_CHECK(!m_rig.expected.empty(), "a read failed with nothing sent");
            const size_t n = m_rig.expected.front().first.size();
            ORVEX_FUZZ_CHECK(n == 0 || n > kMaxMessage,
                             "a read of a " + std::to_string(n) + "-byte datagram failed");
            // What waited behind it went with the socket.
            m_rig.expected.clear();
            m_rig.pumps.back().push_back({true, 0});
            return status;
        }
        if (*received == 0) return status;  // nothing waiting (checked once the input is read)
        ORVEX_FUZZ_CHECK(!m_rig.expected.empty(), "a datagram nobody sent: " + fuzz::Hex(buffer, size_t(*received)));
        const auto [bytes, good] = m_rig.expected.front();
        m_rig.expected.pop_front();
        ORVEX_FUZZ_CHECK(size_t(*received) == bytes.size() && std::equal(bytes.begin(), bytes.end(), buffer),
                         "handed over " + fuzz::Hex(buffer, size_t(*received)) + " for " + fuzz::Hex(bytes));
        ORVEX_FUZZ_CHECK(std::all_of(buffer + *received, buffer + size, [](uint8_t b) { return b == 0; }),
                         "the buffer past the datagram is cleared");
        Taken taken{false, bytes.size(), good >= 0, size_t(good < 0 ? 0 : good)};
        const auto end = std::find(bytes.rbegin(), bytes.rend(), uint8_t{0xF7});
        taken.hasEnd = end != bytes.rend();
        taken.tail = size_t(end - bytes.rbegin());
        m_rig.pumps.back().push_back(taken);
        return status;
    }

private:
    Rig& m_rig;
};

struct Good {
    uint16_t first = 0;
    Bytes values;
    Bytes message;
};

struct Session {
    uint16_t watched = 0;
    std::vector<Good> goods;
    std::vector<bool> seen;
    const orvex::COrvexRemote* remote = nullptr;
};
Session* g_session = nullptr;

void Changed(uint32_t, uint32_t) {
    Session& s = *g_session;
    const uint8_t* image = s.remote->RegisterImage();
    const size_t k = image[s.watched];
    if (k >= s.goods.size() || s.seen[k]) return;
    const Good& g = s.goods[k];
    if (std::equal(g.values.begin(), g.values.end(), image + g.first)) s.seen[k] = true;
}

// One poll of the link; a re-open inside it (after a failed read) selects the
// unit again with the card answering, and what the card sent is read before
// the checks go on.
void Poll(Rig& rig, orvex::COrvexRemote& remote) {
    rig.pumps.emplace_back();
    const int reopens = rig.reopens;
    remote.Poll();
    if (rig.reopens != reopens) {
        // The card's answers to the link's requests, read until none come.
        remote.SetMode(3);
        for (int polls = 0; polls < 8; ++polls) {
            const int before = rig.uncheckedReads;
            remote.Poll();
            if (rig.uncheckedReads == before) break;
        }
        rig.pumpCard = false;
        // A fresh start: the failed read emptied the ring, and the card's answers end in F7.
        rig.pumps.emplace_back();
        Taken start;
        start.hasEnd = true;
        rig.pumps.back().push_back(start);
    }
    remote.SetMode(3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Rig& rig = TheRig();
    fuzz::Input in(data, size);
    Session s;
    g_session = &s;
    s.watched = uint16_t(in.Range(0, 2047));

    orvex::COrvexRemote::Transports t;
    t.network = [&rig] { return std::make_unique<SharedTransport>(rig); };
    orvex::COrvexRemote remote(t);
    s.remote = &remote;
    rig.pumpCard = true;  // the first input opens the transport
    ORVEX_FUZZ_CHECK(remote.Open() == 0, "the link opens over the network");
    rig.pumpCard = false;
    remote.SetMode(3);  // the unit reports by itself: no requests, no loss by silence
    remote.SetChangeCallback(s.watched, s.watched, Changed, 0, 0);
    rig.expected.clear();
    rig.pumps.clear();
    rig.pumps.emplace_back();
    rig.checking = true;

    int fails = 0;
    size_t unread = 0;
    for (size_t op = 0; op < kMaxDatagrams && !in.Empty(); ++op) {
        Bytes datagram;
        long good = -1;
        switch (in.Byte() % 8) {
        case 0:
        case 1: {
            if (s.goods.size() == 256) continue;  // the index must fit in register W
            Good g;
            const uint16_t w = s.watched;
            g.first = uint16_t(in.Range(0, w));
            const uint32_t n = in.Bool() ? in.Range(w - g.first + 1, 2048 - g.first)
                                         : std::min<uint32_t>(in.Range(w - g.first + 1, w - g.first + 64), 2048 - g.first);
            const bool longForm = in.Bool();
            g.values = in.Bytes(n);
            for (uint32_t i = uint32_t(g.values.size()); i < n; ++i) g.values.push_back(uint8_t(i * 29 + 11));
            g.values[w - g.first] = uint8_t(s.goods.size());
            g.message = orvex::EncodeStatusResponse(g.first, g.values.data(), n, longForm);
            datagram = g.message;
            good = long(s.goods.size());
            s.goods.push_back(std::move(g));
            s.seen.push_back(false);
            break;
        }
        case 2:
            datagram = in.Bytes(in.Range(1, 600));
            break;
        case 3: {  // mostly short; past 4,095 bytes it fails the read like an empty one
            uint32_t n = in.Bool() ? in.Range(1, 4200) : in.Range(1, 300);
            if (n > kMaxMessage && fails++ >= kMaxFails) n = kMaxMessage;
            datagram.assign(n, in.Byte());
            break;
        }
        case 4:  // empty, if a second byte says so: each costs a new discovery
            if (in.Byte() != 0x5A || fails++ >= kMaxFails) continue;
            break;
        case 5:
            datagram = in.Bytes(in.Range(0, 600));
            datagram.push_back(0xF7);
            break;
        default:
            Poll(rig, remote);
            unread = 0;
            continue;
        }
        if (!rig.transport.IsOpen() || unread + datagram.size() > kMaxUnread) {
            Poll(rig, remote);
            unread = 0;
        }
        if (!rig.transport.IsOpen()) break;  // a re-open failed: nothing more can arrive
        const plat::SockAddrIn to{Loopback(1), plat::htons(orvex::CVelunIF::kAnswerPort)};
        ORVEX_FUZZ_CHECK(plat::sendto(rig.sender, datagram.data(), int(datagram.size()), 0, to) == int(datagram.size()),
                         "send");
        rig.expected.emplace_back(datagram, good);
        unread += datagram.size();
    }
    for (int polls = 0; !rig.expected.empty() && polls < 4; ++polls) Poll(rig, remote);
    ORVEX_FUZZ_CHECK(rig.expected.empty(), std::to_string(rig.expected.size()) + " datagrams were never handed over");
    rig.checking = false;

    // Where the stream is clean, each good response landed.
    std::vector<size_t> pumpTotal(rig.pumps.size(), 0);
    std::vector<bool> pumpFailed(rig.pumps.size(), false);
    for (size_t p = 0; p < rig.pumps.size(); ++p)
        for (const Taken& r : rig.pumps[p]) {
            pumpTotal[p] += r.size;
            pumpFailed[p] = pumpFailed[p] || r.failed;
        }
    // Walking the reads in order: bytes since the last F7 or failed read, and the pump where that was.
    size_t sinceEnd = 0, endPump = 0;
    for (size_t p = 0; p < rig.pumps.size(); ++p) {
        for (const Taken& r : rig.pumps[p]) {
            if (r.failed) {
                sinceEnd = 0;
                endPump = p;
                continue;
            }
            if (r.good) {
                const Good& g = s.goods[r.goodIndex];
                bool clean = !pumpFailed[p] && sinceEnd + g.message.size() <= kMaxMessage;
                for (size_t q = endPump; clean && q <= p; ++q) clean = pumpTotal[q] <= kSafePump;
                if (clean)
                    ORVEX_FUZZ_CHECK(s.seen[r.goodIndex],
                                     "good response " + std::to_string(r.goodIndex) + " (registers " +
                                         std::to_string(g.first) + "-" + std::to_string(g.first + g.values.size() - 1) +
                                         ", " + std::to_string(sinceEnd) + " bytes since the last F7) did not land");
            }
            if (r.hasEnd) {
                sinceEnd = r.tail;
                endPump = p;
            } else {
                sinceEnd += r.size;
            }
        }
    }
    // Nothing of this input stays allocated (else every input would end in a leak search).
    std::deque<std::pair<Bytes, long>>().swap(rig.expected);
    std::vector<std::vector<Taken>>().swap(rig.pumps);
    g_session = nullptr;
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    auto good = [](InputWriter& w, uint16_t watched, uint16_t first, uint32_t n) {
        w.Byte(0).Range(0, watched, first).Bool(false).Range(watched - first + 1, watched - first + 64, n).Bool(false);
        for (uint32_t i = 0; i < n; ++i) w.Byte(uint8_t(i * 13 + first));
    };
    auto noise = [](InputWriter& w, const Bytes& b) { w.Byte(2).Range(1, 600, uint32_t(b.size())).Bytes(b); };
    auto poll = [](InputWriter& w) { w.Byte(6); };
    const Bytes garbage = {0x12, 0xF7, 0x00, 0x55, 0xF0, 0x00, 0x01, 0x6B, 0x70};  // a broken start, no end
    // What the card relays: the identity read, the programming status, the
    // verify packet; among them the host's own requests echoed and a broken message.
    for (uint16_t watched : {9, 20, 200}) {
        InputWriter w;
        w.Range(0, 2047, watched);
        good(w, watched, watched > 24 ? watched : 1, watched > 24 ? 1 : 24);
        noise(w, orvex::EncodeStatusRequest(1, 23, false));
        poll(w);
        noise(w, garbage);
        good(w, watched, watched, 1);
        w.Byte(5).Range(0, 600, 2).Byte(0x42).Byte(0x43);  // noise ending in F7
        good(w, watched, watched >= 128 ? 128 : 0, watched >= 128 ? 64 : watched + 1);
        poll(w);
        w.Byte(4).Byte(0x5A);  // an empty datagram: the transport closes and opens again
        poll(w);
        good(w, watched, watched, 1);
        poll(w);
        w.Byte(3).Bool(true).Range(1, 4200, 4096).Byte(0xF0);  // longer than the buffer
        poll(w);
        good(w, watched, watched, 1);
        seeds.push_back(w.Data());
    }
}
