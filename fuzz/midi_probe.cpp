// COrvexMIDI's Open, its probe and the check of each answer, against a WinMM
// table whose devices, names, port kinds, failures and answers all come from
// the input (up to 70 devices each way, names that fill the 32-character
// field without an end, answers of any length and content, drivers that
// report more bytes than the buffer holds). The connections it finds must be
// exactly those the rules give:
//  - devices 0 to 63 only, each way; an output must be a MIDI port; no port
//    whose name ends in "Virtual MIDI", none that the name filter keeps out;
//  - each probed output d gets F0 00 01 6B 68|r>>5 (r&1F)<<2 00 F7, r = d + 64;
//  - an input that opened and whose buffer came back in time with exactly 10
//    bytes, F0 00 01 6B, a type-14 fifth byte, and register 64 + d naming an
//    output that was probed, is the connection (that input, output d), in
//    input order.
// Then each connection is selected (the ports it opens must be its own) and
// its receive buffers come back with input bytes: Read hands over at most
// the buffer's 512 bytes and the caller's size, and exactly those bytes.
#include <algorithm>
#include <cstring>

#include "fuzz/support/Fuzz.h"
#include "platform/Platform.h"
#include "protocol/RemoteMessages.h"
#include "transport/OrvexMIDI.h"

namespace {

using namespace winmm;
using orvex::COrvexMIDI;
using orvex::kTransportFailed;
using orvex::kTransportOk;
using Bytes = std::vector<uint8_t>;

struct Device {
    char name[MAXPNAMELEN] = {};
    uint16_t technology = MOD_MIDIPORT;
    bool capsFail = false, openFail = false;
    // Inputs: the probe answer.
    bool answers = false;
    uint32_t recorded = 0;
    uint8_t answer[40] = {};
};

struct World {
    std::vector<Device> outs, ins;
    std::vector<Bytes> probesSent;  // by output device
    uint32_t clock = 0;
    bool touchedPast63 = false;
    int openedOut = -1, openedIn = -1;
    // Receive buffers of a selected connection, in the order they were first queued.
    fuzz::Input* in = nullptr;
    struct Slot {
        MIDIHDR* header;
        bool done;
        Bytes bytes;
    };
    std::vector<Slot> slots;
};
World* g_world = nullptr;

HMIDIIN InHandle(uint32_t d) { return reinterpret_cast<HMIDIIN>(uintptr_t(0x1000 + d)); }
HMIDIOUT OutHandle(uint32_t d) { return reinterpret_cast<HMIDIOUT>(uintptr_t(0x2000 + d)); }
uint32_t DeviceOf(const void* h) { return uint32_t(reinterpret_cast<uintptr_t>(h) & 0xFFF); }

uint32_t ORVEX_WINAPI OutNum() { return uint32_t(g_world->outs.size()); }
uint32_t ORVEX_WINAPI InNum() { return uint32_t(g_world->ins.size()); }
MMRESULT ORVEX_WINAPI OutCaps(uintptr_t d, MIDIOUTCAPSA* caps, uint32_t size) {
    ORVEX_FUZZ_CHECK(size == sizeof *caps, "caps size");
    if (d >= 64) g_world->touchedPast63 = true;
    if (d >= g_world->outs.size() || g_world->outs[d].capsFail) return MMSYSERR_BADDEVICEID;
    *caps = MIDIOUTCAPSA{};
    std::memcpy(caps->szPname, g_world->outs[d].name, MAXPNAMELEN);
    caps->wTechnology = g_world->outs[d].technology;
    return MMSYSERR_NOERROR;
}
MMRESULT ORVEX_WINAPI InCaps(uintptr_t d, MIDIINCAPSA* caps, uint32_t size) {
    ORVEX_FUZZ_CHECK(size == sizeof *caps, "caps size");
    if (d >= 64) g_world->touchedPast63 = true;
    if (d >= g_world->ins.size() || g_world->ins[d].capsFail) return MMSYSERR_BADDEVICEID;
    *caps = MIDIINCAPSA{};
    std::memcpy(caps->szPname, g_world->ins[d].name, MAXPNAMELEN);
    return MMSYSERR_NOERROR;
}
MMRESULT ORVEX_WINAPI InOpen(HMIDIIN* h, uint32_t d, uintptr_t, uintptr_t, uint32_t) {
    if (d >= 64) g_world->touchedPast63 = true;
    if (d >= g_world->ins.size() || g_world->ins[d].openFail) return MMSYSERR_ALLOCATED;
    *h = InHandle(d);
    g_world->openedIn = int(d);
    return MMSYSERR_NOERROR;
}
MMRESULT ORVEX_WINAPI OutOpen(HMIDIOUT* h, uint32_t d, uintptr_t, uintptr_t, uint32_t) {
    if (d >= 64) g_world->touchedPast63 = true;
    if (d >= g_world->outs.size() || g_world->outs[d].openFail) return MMSYSERR_ALLOCATED;
    *h = OutHandle(d);
    g_world->openedOut = int(d);
    return MMSYSERR_NOERROR;
}
MMRESULT ORVEX_WINAPI InPrepare(HMIDIIN, MIDIHDR* hdr, uint32_t) { return hdr->dwFlags |= MHDR_PREPARED, 0; }
MMRESULT ORVEX_WINAPI InUnprepare(HMIDIIN, MIDIHDR* hdr, uint32_t) { return hdr->dwFlags &= ~MHDR_PREPARED, 0; }
MMRESULT ORVEX_WINAPI InAdd(HMIDIIN h, MIDIHDR* hdr, uint32_t) {
    World& w = *g_world;
    if (hdr->dwBufferLength == COrvexMIDI::kProbeBufferSize) {
        const Device& d = w.ins[DeviceOf(h)];
        if (!d.answers) return 0;
        // A driver that reports more than it was given still writes only the buffer.
        std::memcpy(hdr->lpData, d.answer, std::min<uint32_t>(d.recorded, hdr->dwBufferLength));
        hdr->dwBytesRecorded = d.recorded;
        hdr->dwFlags |= MHDR_DONE;
        return 0;
    }
    ORVEX_FUZZ_CHECK(hdr->dwBufferLength == COrvexMIDI::kInputBufferSize, "receive buffer size");
    auto slot = std::find_if(w.slots.begin(), w.slots.end(), [&](const World::Slot& s) { return s.header == hdr; });
    if (slot == w.slots.end()) slot = w.slots.insert(w.slots.end(), {hdr, false, {}});
    fuzz::Input& in = *w.in;
    slot->done = in.Bool();
    slot->bytes.clear();
    if (slot->done) {
        const uint32_t recorded = in.Range(0, 600);
        slot->bytes = in.Bytes(std::min<uint32_t>(recorded, hdr->dwBufferLength));
        slot->bytes.resize(std::min<uint32_t>(recorded, hdr->dwBufferLength), 0xF7);
        std::copy(slot->bytes.begin(), slot->bytes.end(), hdr->lpData);
        hdr->dwBytesRecorded = recorded;
        hdr->dwFlags |= MHDR_DONE;
    }
    return 0;
}
MMRESULT ORVEX_WINAPI InOk(HMIDIIN) { return 0; }
MMRESULT ORVEX_WINAPI OutPrepare(HMIDIOUT, MIDIHDR* hdr, uint32_t) { return hdr->dwFlags |= MHDR_PREPARED, 0; }
MMRESULT ORVEX_WINAPI OutUnprepare(HMIDIOUT, MIDIHDR* hdr, uint32_t) { return hdr->dwFlags &= ~MHDR_PREPARED, 0; }
MMRESULT ORVEX_WINAPI OutLong(HMIDIOUT h, MIDIHDR* hdr, uint32_t) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(hdr->lpData);
    g_world->probesSent[DeviceOf(h)] = Bytes(b, b + hdr->dwBufferLength);
    hdr->dwFlags |= MHDR_DONE;
    return 0;
}
MMRESULT ORVEX_WINAPI OutOk(HMIDIOUT) { return 0; }
uint32_t ORVEX_WINAPI Time() { return g_world->clock += 7; }

const WinMMApi kTable = {OutNum,   OutCaps, InNum,  InCaps, InOpen,      OutOpen,    InPrepare,
                         InAdd,    InOk,    InOk,   InOk,   InUnprepare, InOk,       OutPrepare,
                         OutLong,  OutUnprepare, OutOk, OutOk, Time};

std::string Name(const char (&field)[MAXPNAMELEN]) { return std::string(field, strnlen(field, MAXPNAMELEN)); }

bool Admitted(const std::string& name, const std::string& filter) {
    const std::string tail = "Virtual MIDI";
    if (!filter.empty() && name.find(filter) == std::string::npos) return false;
    return !(name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0);
}

void ReadName(fuzz::Input& in, char (&name)[MAXPNAMELEN], int index) {
    static const char* const kNames[] = {"Studio A", "Port 1", "USB MIDI", "Loop Virtual MIDI", "Virtual MIDI Out"};
    const uint8_t how = in.Byte();
    std::memset(name, 0, MAXPNAMELEN);
    if (how % 4 == 0) {
        const Bytes raw = in.Bytes(in.Range(0, MAXPNAMELEN));  // up to a full field with no end
        std::copy(raw.begin(), raw.end(), name);
    } else {
        std::snprintf(name, MAXPNAMELEN, "%s %d", kNames[how % 5], index);
        if (how % 7 == 0) std::snprintf(name, MAXPNAMELEN, "%s", kNames[3 + how % 2]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::UseVirtualClock(true);
    fuzz::Input in(data, size);
    World w;
    g_world = &w;
    w.in = &in;
    // Mostly a few ports, as machines have; now and then more than the 64 looked at.
    const bool many = in.Bool();
    w.outs.resize(many ? in.Range(0, 70) : in.Range(0, 8));
    w.ins.resize(many ? in.Range(0, 70) : in.Range(0, 8));
    w.probesSent.resize(w.outs.size());
    std::string filter = in.Byte() % 8 == 0 ? in.Text(in.Range(0, 6)) : std::string();
    filter.resize(strnlen(filter.c_str(), filter.size()));  // the transport takes a C string
    for (size_t d = 0; d < w.outs.size(); ++d) {
        Device& o = w.outs[d];
        ReadName(in, o.name, int(d));
        const uint8_t flags = in.Byte();
        o.technology = flags % 5 == 0 ? MOD_SYNTH : MOD_MIDIPORT;
        o.capsFail = flags % 11 == 1;
        o.openFail = flags % 13 == 2;
    }
    for (size_t d = 0; d < w.ins.size(); ++d) {
        Device& i = w.ins[d];
        ReadName(in, i.name, int(d));
        const uint8_t flags = in.Byte();
        i.capsFail = flags % 11 == 1;
        i.openFail = flags % 13 == 2;
        i.answers = flags % 3 != 0;
        i.recorded = flags % 2 ? 10 : in.Range(0, 40);
        if (in.Bool()) {
            // A unit's answer for a port, then bytes changed by the input.
            const uint32_t r = 64 + in.Range(0, 70);
            const uint8_t answer[10] = {0xF0, 0x00, 0x01, 0x6B, uint8_t(0x70 | ((r >> 5) & 7)), uint8_t((r & 0x1F) << 2),
                                        0x00, 0x00, 0x00, 0xF7};
            std::memcpy(i.answer, answer, sizeof answer);
            for (int k = in.Range(0, 2); k > 0; --k) i.answer[in.Range(0, 9)] ^= in.Byte();
        } else {
            const Bytes raw = in.Bytes(sizeof i.answer);
            std::copy(raw.begin(), raw.end(), i.answer);
        }
    }

    // What the rules give.
    std::vector<uint32_t> outCandidates, inCandidates;
    for (uint32_t d = 0; d < std::min<size_t>(w.outs.size(), 64); ++d)
        if (!w.outs[d].capsFail && w.outs[d].technology == MOD_MIDIPORT && Admitted(Name(w.outs[d].name), filter))
            outCandidates.push_back(d);
    for (uint32_t d = 0; d < std::min<size_t>(w.ins.size(), 64); ++d)
        if (!w.ins[d].capsFail && Admitted(Name(w.ins[d].name), filter)) inCandidates.push_back(d);
    std::vector<uint32_t> probed;
    for (uint32_t d : outCandidates)
        if (!w.outs[d].openFail) probed.push_back(d);
    std::vector<std::pair<uint32_t, uint32_t>> expected;  // (input, output)
    if (!outCandidates.empty() && !inCandidates.empty() && !probed.empty()) {
        for (uint32_t d : inCandidates) {
            const Device& i = w.ins[d];
            if (i.openFail || !i.answers || i.recorded != 10) continue;
            const uint8_t* b = i.answer;
            if (b[0] != 0xF0 || b[1] != 0x00 || b[2] != 0x01 || b[3] != 0x6B || (b[4] & 0x78) != 0x70) continue;
            const int out = (((b[4] & 7) << 5) | ((b[5] >> 2) & 0x1F)) - 64;
            if (std::find(probed.begin(), probed.end(), uint32_t(out)) != probed.end()) expected.push_back({d, uint32_t(out)});
        }
    }

    COrvexMIDI midi(&kTable);
    if (!filter.empty()) midi.SetPortNameFilter(filter.c_str());
    const uint16_t status = midi.Open();
    ORVEX_FUZZ_CHECK(!w.touchedPast63, "a device past 63 was looked at");
    for (uint32_t d : probed) {
        const uint8_t r = uint8_t(d + 64);
        const Bytes probe = {0xF0, 0x00, 0x01, 0x6B, uint8_t(0x68 | (r >> 5)), uint8_t((r & 0x1F) << 2), 0x00, 0xF7};
        if (!inCandidates.empty()) ORVEX_FUZZ_CHECK(w.probesSent[d] == probe, "probe on output " + std::to_string(d));
    }
    uint16_t count = 0;
    midi.GetNumConnections(&count);
    ORVEX_FUZZ_CHECK(status == (expected.empty() ? kTransportFailed : kTransportOk),
                     "Open answered " + std::to_string(status) + " for " + std::to_string(expected.size()) + " units");
    ORVEX_FUZZ_CHECK(count == expected.size(),
                     std::to_string(count) + " connections, the rules give " + std::to_string(expected.size()));

    uint8_t buffer[600];
    for (uint16_t c = 0; c < count; ++c) {
        w.openedIn = w.openedOut = -1;
        w.slots.clear();
        ORVEX_FUZZ_CHECK(midi.SelectConnection(c) == kTransportOk && midi.IsOpen(), "select " + std::to_string(c));
        ORVEX_FUZZ_CHECK(w.openedIn == int(expected[c].first) && w.openedOut == int(expected[c].second),
                         "connection " + std::to_string(c) + " opened input " + std::to_string(w.openedIn) +
                             " and output " + std::to_string(w.openedOut));
        ORVEX_FUZZ_CHECK(w.slots.size() == COrvexMIDI::kInputBuffers, "receive buffers queued");
        // Read looks at one buffer after the other and waits at one that has not come back.
        size_t next = 0;
        for (int r = int(in.Range(0, 8)); r > 0; --r) {
            const World::Slot slot = w.slots[next];
            const int32_t want = int32_t(in.Range(0, sizeof buffer));
            int32_t received = -1;
            std::memset(buffer, 0xEE, sizeof buffer);
            ORVEX_FUZZ_CHECK(midi.Read(buffer, want, &received) == kTransportOk, "read");
            const int32_t n = slot.done ? std::min<int32_t>(want, int32_t(slot.bytes.size())) : 0;
            ORVEX_FUZZ_CHECK(received == n && std::equal(slot.bytes.begin(), slot.bytes.begin() + n, buffer),
                             "read " + std::to_string(received) + " of " + std::to_string(slot.bytes.size()) +
                                 " bytes into " + std::to_string(want));
            ORVEX_FUZZ_CHECK(size_t(want) >= sizeof buffer || buffer[want] == 0xEE, "Read wrote past the caller's size");
            if (slot.done) next = (next + 1) % w.slots.size();
        }
        midi.Close();
    }
    g_world = nullptr;
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    // Studios: one unit on port pair 3; two units; 70 ports each way with a unit past 63.
    struct Studio {
        uint32_t outs, ins;
        std::vector<std::pair<uint32_t, uint32_t>> units;  // input device, output device it answers for
    };
    const Studio studios[] = {{4, 4, {{3, 3}}}, {8, 8, {{1, 5}, {6, 2}}}, {70, 70, {{63, 63}, {2, 66}}}};
    for (const Studio& s : studios) {
        InputWriter w;
        w.Bool(true).Range(0, 70, s.outs).Range(0, 70, s.ins).Byte(1);
        for (uint32_t d = 0; d < s.outs; ++d) w.Byte(1).Byte(0x40);  // "Port n", a MIDI port that opens
        for (uint32_t d = 0; d < s.ins; ++d) {
            auto unit = std::find_if(s.units.begin(), s.units.end(), [&](const auto& u) { return u.first == d; });
            w.Byte(1);
            if (unit == s.units.end()) {
                w.Byte(0x03).Bool(false).Bytes(Bytes(40, 0));  // no answer
            } else {
                w.Byte(0x41).Bool(true).Range(0, 70, unit->second).Range(0, 2, 0);
            }
        }
        // Each connection's four buffers come back with the identity read; six reads of 4,095 bytes.
        const Bytes identity = orvex::EncodeStatusResponse(1, Bytes(24, 7).data(), 24, false);
        for (size_t c = 0; c < s.units.size(); ++c) {
            for (int k = 0; k < 4; ++k) w.Bool(true).Range(0, 600, uint32_t(identity.size())).Bytes(identity);
            w.Range(0, 8, 6);
            for (int k = 0; k < 6; ++k) {
                w.Range(0, 600, 600);
                if (k < 4) w.Bool(true).Range(0, 600, uint32_t(identity.size())).Bytes(identity);  // armed again
            }
        }
        seeds.push_back(w.Data());
    }
}
