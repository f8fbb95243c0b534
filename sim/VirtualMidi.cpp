#include "sim/VirtualMidi.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace sim {

using namespace winmm;

struct VirtualMidi::Handle {
    Port* port = nullptr;
    bool out = false;
    std::deque<Queued> queue;
    bool started = false;
    bool inSysex = false;
    bool dead = false;  // its port was unplugged
};

namespace {

VirtualMidi* g_system = nullptr;
constexpr uint64_t kNever = ~uint64_t{0};

// ---- the table -------------------------------------------------------------
uint32_t ORVEX_WINAPI OutNumDevs() { return g_system ? g_system->NumDevs(true) : 0; }
uint32_t ORVEX_WINAPI InNumDevs() { return g_system ? g_system->NumDevs(false) : 0; }
MMRESULT ORVEX_WINAPI OutCaps(uintptr_t d, MIDIOUTCAPSA* c, uint32_t n) {
    return g_system ? g_system->GetDevCaps(true, d, c, n) : MMSYSERR_BADDEVICEID;
}
MMRESULT ORVEX_WINAPI InCaps(uintptr_t d, MIDIINCAPSA* c, uint32_t n) {
    return g_system ? g_system->GetDevCaps(false, d, c, n) : MMSYSERR_BADDEVICEID;
}
MMRESULT ORVEX_WINAPI InOpen(HMIDIIN* h, uint32_t d, uintptr_t cb, uintptr_t, uint32_t f) {
    return g_system ? g_system->OpenPort(false, reinterpret_cast<void**>(h), d, cb, f) : MMSYSERR_BADDEVICEID;
}
MMRESULT ORVEX_WINAPI OutOpen(HMIDIOUT* h, uint32_t d, uintptr_t cb, uintptr_t, uint32_t f) {
    return g_system ? g_system->OpenPort(true, reinterpret_cast<void**>(h), d, cb, f) : MMSYSERR_BADDEVICEID;
}
MMRESULT ORVEX_WINAPI InPrepare(HMIDIIN h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->PrepareHeader(false, h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI InAdd(HMIDIIN h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->AddBuffer(h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI InStart(HMIDIIN h) { return g_system ? g_system->Start(h) : MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI InReset(HMIDIIN h) { return g_system ? g_system->Reset(false, h) : MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI InStop(HMIDIIN h) { return g_system ? g_system->Stop(h) : MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI InUnprepare(HMIDIIN h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->UnprepareHeader(false, h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI InClose(HMIDIIN h) { return g_system ? g_system->ClosePort(false, h) : MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI OutPrepare(HMIDIOUT h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->PrepareHeader(true, h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI OutLong(HMIDIOUT h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->LongMsg(h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI OutUnprepare(HMIDIOUT h, MIDIHDR* m, uint32_t n) {
    return g_system ? g_system->UnprepareHeader(true, h, m, n) : MMSYSERR_INVALHANDLE;
}
MMRESULT ORVEX_WINAPI OutReset(HMIDIOUT h) { return g_system ? g_system->Reset(true, h) : MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI OutClose(HMIDIOUT h) { return g_system ? g_system->ClosePort(true, h) : MMSYSERR_INVALHANDLE; }
// The clock reading is also the moment the system catches up, as the
// driver's own context would have run meanwhile.
uint32_t ORVEX_WINAPI TimeGetTime() {
    uint32_t now = plat::GetTickCount();
    if (g_system) g_system->Pump();
    return now;
}

const WinMMApi kTable = {
    OutNumDevs, OutCaps,  InNumDevs, InCaps,       InOpen,     OutOpen,    InPrepare,
    InAdd,      InStart,  InReset,   InStop,       InUnprepare, InClose,   OutPrepare,
    OutLong,    OutUnprepare, OutReset, OutClose,  TimeGetTime,
};

uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

VirtualMidi::VirtualMidi() {
    if (const char* path = std::getenv("ORVEX_MIDI_TRACE"); path && *path) trace_ = std::fopen(path, "a");
}

VirtualMidi::~VirtualMidi() {
    // A driver that goes hands back what it still holds, as done.
    for (auto& h : handles_) ReleaseAll(*h);
    if (g_system == this) g_system = nullptr;
    if (trace_) std::fclose(trace_);
}

void VirtualMidi::Install() { g_system = this; }
const WinMMApi& VirtualMidi::Api() { return kTable; }

uint64_t VirtualMidi::Now() const { return std::max(now_, plat::ClockMicros()); }

// ---- set-up ---------------------------------------------------------------------

int VirtualMidi::AddOutPort(const std::string& name, bool hardwarePort) {
    auto port = std::make_unique<Port>();
    port->id = static_cast<int>(ports_.size());
    port->out = true;
    port->name = name;
    port->technology = hardwarePort ? MOD_MIDIPORT : MOD_SWSYNTH;
    ports_.push_back(std::move(port));
    return ports_.back()->id;
}

int VirtualMidi::AddInPort(const std::string& name) {
    auto port = std::make_unique<Port>();
    port->id = static_cast<int>(ports_.size());
    port->name = name;
    ports_.push_back(std::move(port));
    return ports_.back()->id;
}

VirtualMidi::Port* VirtualMidi::PortById(int id) {
    return id >= 0 && id < static_cast<int>(ports_.size()) ? ports_[id].get() : nullptr;
}
const VirtualMidi::Port* VirtualMidi::PortById(int id) const {
    return id >= 0 && id < static_cast<int>(ports_.size()) ? ports_[id].get() : nullptr;
}

int VirtualMidi::DeviceNumber(int id) const {
    const Port* port = PortById(id);
    if (!port || !port->plugged) return -1;
    int number = 0;
    for (const auto& p : ports_) {
        if (p.get() == port) return number;
        if (p->out == port->out && p->plugged) ++number;
    }
    return -1;
}

VirtualMidi::Port* VirtualMidi::PortByDevice(bool out, uintptr_t device) {
    uintptr_t number = 0;
    for (auto& p : ports_) {
        if (p->out != out || !p->plugged) continue;
        if (number++ == device) return p.get();
    }
    return nullptr;
}

void VirtualMidi::SetByteRate(int port, uint32_t bytesPerSecond) {
    if (Port* p = PortById(port)) p->rate = bytesPerSecond;
}
void VirtualMidi::SetLatency(int port, uint64_t micros) {
    if (Port* p = PortById(port)) p->latency = micros;
}

void VirtualMidi::Connect(int outPort, int inPort, IByteDevice* device) {
    Port* out = PortById(outPort);
    Port* in = PortById(inPort);
    if (!out || !out->out || !in || in->out) return;
    out->device = device;
    out->peer = inPort;
}

void VirtualMidi::DropBytes(int port, uint32_t after, uint32_t count) {
    if (Port* p = PortById(port))
        p->faults.push_back({Fault::Drop, p->position + after, p->position + after + count, 0, 0});
}
void VirtualMidi::CorruptBytes(int port, uint32_t after, uint32_t count, uint8_t mask) {
    if (Port* p = PortById(port))
        p->faults.push_back({Fault::Corrupt, p->position + after, p->position + after + count, mask, 0});
}
void VirtualMidi::DelayBytes(int port, uint32_t after, uint32_t count, uint64_t micros) {
    if (Port* p = PortById(port))
        p->faults.push_back({Fault::Delay, p->position + after, p->position + after + count, 0, micros});
}
void VirtualMidi::SetRandomFaults(int port, uint32_t seed, uint32_t dropPerMillion, uint32_t corruptPerMillion) {
    if (Port* p = PortById(port)) {
        p->rng = seed ? seed : 1;
        p->dropPpm = dropPerMillion;
        p->corruptPpm = corruptPerMillion;
    }
}
void VirtualMidi::SetSilent(int port, bool silent) {
    if (Port* p = PortById(port)) p->silent = silent;
}

void VirtualMidi::ClearFaults(int port) {
    if (Port* p = PortById(port)) {
        p->faults.clear();
        p->silent = false;
        p->dropPpm = p->corruptPpm = 0;
    }
}

void VirtualMidi::Unplug(int port) {
    Port* p = PortById(port);
    if (!p || !p->plugged) return;
    p->plugged = false;
    p->cable.clear();  // what was on the wire is gone with it
    // The handle dies with the device; a port plugged in again is a new device.
    if (p->handle) p->handle->dead = true;
    p->handle = nullptr;
}
void VirtualMidi::UnplugAt(int port, uint64_t clockMicros) { unplugs_.push_back({clockMicros, port}); }
void VirtualMidi::Plug(int port) {
    if (Port* p = PortById(port)) p->plugged = true;
}

void VirtualMidi::FailCalls(Call call, int port, uint32_t skip, uint32_t count, MMRESULT error) {
    callFaults_.push_back({call, port, skip, count, error});
}
void VirtualMidi::StallCalls(Call call, int port, uint32_t skip, uint32_t count, uint64_t micros) {
    callFaults_.push_back({call, port, skip, count, MMSYSERR_NOERROR, micros});
}

// ---- inspection --------------------------------------------------------------------

const std::vector<std::vector<uint8_t>>& VirtualMidi::SentBlocks(int outPort) const {
    static const std::vector<std::vector<uint8_t>> none;
    const Port* p = PortById(outPort);
    return p ? p->sent : none;
}
uint32_t VirtualMidi::CallCount(Call call, int port) const {
    const Port* p = PortById(port);
    return p ? p->calls[static_cast<int>(call)] : 0;
}
bool VirtualMidi::IsOpen(int port) const {
    const Port* p = PortById(port);
    return p && p->handle;
}
int VirtualMidi::OpenHandles() const { return static_cast<int>(handles_.size()); }
int VirtualMidi::QueuedHeaders(int port) const {
    int n = 0;
    for (const auto& h : handles_)
        if (port < 0 || h->port->id == port) n += static_cast<int>(h->queue.size());
    return n;
}
uint64_t VirtualMidi::LostBytes(int inPort) const {
    const Port* p = PortById(inPort);
    return p ? p->lost : 0;
}
uint64_t VirtualMidi::CableBytes(int port) const {
    const Port* p = PortById(port);
    return p ? p->position : 0;
}

// ---- the cable -----------------------------------------------------------------------

void VirtualMidi::PutOnCable(Port& port, const uint8_t* bytes, size_t size, uint64_t time) {
    // Rounded up, so a paced cable is never faster than its rate.
    uint64_t perByte = port.rate ? (1000000 + port.rate - 1) / port.rate : 0;
    for (size_t i = 0; i < size; ++i) {
        uint64_t position = port.position++;
        uint8_t value = bytes[i];
        bool drop = port.silent || !port.plugged;
        uint64_t delay = 0;
        for (const Fault& f : port.faults) {
            if (position < f.first || position >= f.end) continue;
            if (f.kind == Fault::Drop) drop = true;
            if (f.kind == Fault::Corrupt) value ^= f.mask;
            if (f.kind == Fault::Delay) delay += f.micros;
        }
        if (port.dropPpm && NextRandom(port.rng) % 1000000 < port.dropPpm) drop = true;
        if (port.corruptPpm && NextRandom(port.rng) % 1000000 < port.corruptPpm)
            value ^= static_cast<uint8_t>(1u << (NextRandom(port.rng) % 7));
        // A held-back byte stalls the line: the bytes behind it go out that much later.
        uint64_t leave = std::max(port.txFree, time) + delay + perByte;
        port.txFree = leave;
        if (drop) continue;  // sent, but lost on the way
        uint64_t due = std::max(leave + port.latency, port.lastDue);
        port.lastDue = due;
        port.cable.push_back({leave, due, value});
    }
}

// Bytes reach the unit at their own times, and the unit may answer in between.
void VirtualMidi::DeliverToDevice(Port& out, uint64_t upTo) {
    while (!out.cable.empty() && out.cable.front().due <= upTo) {
        uint64_t due = out.cable.front().due;
        std::vector<uint8_t> chunk;
        while (!out.cable.empty() && out.cable.front().due == due) {
            chunk.push_back(out.cable.front().value);
            out.cable.pop_front();
        }
        if (!out.device) continue;
        out.device->Receive(chunk.data(), chunk.size(), due);
        if (Port* in = PortById(out.peer)) {
            std::vector<uint8_t> answer;
            out.device->Transmit(due, answer);
            PutOnCable(*in, answer.data(), answer.size(), due);
        }
    }
}

void VirtualMidi::Pump() {
    if (pumping_) return;
    pumping_ = true;
    uint64_t now = Now();
    now_ = now;

    for (auto it = unplugs_.begin(); it != unplugs_.end();) {
        if (it->first <= now) {
            Unplug(it->second);
            it = unplugs_.erase(it);
        } else {
            ++it;
        }
    }
    // Output blocks whose last byte has left come back done.
    for (auto& h : handles_) {
        if (!h->out || h->dead) continue;
        while (!h->queue.empty() && h->queue.front().doneAt <= now) {
            MIDIHDR* header = h->queue.front().header;
            h->queue.pop_front();
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        }
    }
    for (auto& p : ports_) {
        if (!p->out) continue;
        DeliverToDevice(*p, now);
        if (p->device) {
            if (Port* in = PortById(p->peer)) {
                std::vector<uint8_t> answer;
                p->device->Transmit(now, answer);
                PutOnCable(*in, answer.data(), answer.size(), now);
            }
        }
    }
    for (auto& p : ports_) {
        if (p->out) continue;
        while (!p->cable.empty() && p->cable.front().due <= now) {
            uint8_t value = p->cable.front().value;
            p->cable.pop_front();
            FeedInput(*p, value);
        }
    }
    pumping_ = false;
}

// ---- input ------------------------------------------------------------------------------

void VirtualMidi::FeedInput(Port& in, uint8_t byte) {
    Handle* h = in.handle;
    if (!h || !h->started || !in.plugged) {
        ++in.lost;
        return;
    }
    if (byte >= 0xF8) return;  // real-time bytes never go to a long buffer
    if (byte == 0xF0) {
        if (h->inSysex && !h->queue.empty() && h->queue.front().header->dwBytesRecorded > 0)
            ReturnInput(in, *h);  // a new message breaks the old one off
        h->inSysex = true;
        Store(in, *h, byte);
    } else if (byte == 0xF7) {
        if (!h->inSysex) return;
        h->inSysex = false;
        Store(in, *h, byte);
        // Unless the F7 filled the buffer (which then came back already).
        if (!h->queue.empty() && h->queue.front().header->dwBytesRecorded > 0) ReturnInput(in, *h);
    } else if (byte & 0x80) {
        // Any other status byte ends the message; the short message itself has no buffer.
        if (h->inSysex && !h->queue.empty() && h->queue.front().header->dwBytesRecorded > 0) ReturnInput(in, *h);
        h->inSysex = false;
    } else if (h->inSysex) {
        Store(in, *h, byte);
    }
}

void VirtualMidi::Store(Port& in, Handle& h, uint8_t byte) {
    if (h.queue.empty()) {
        ++in.lost;
        return;
    }
    MIDIHDR* header = h.queue.front().header;
    header->lpData[header->dwBytesRecorded] = static_cast<char>(byte);
    header->dwBytesRecorded = header->dwBytesRecorded + 1;
    if (header->dwBytesRecorded >= header->dwBufferLength) ReturnInput(in, h);
}

void VirtualMidi::ReturnInput(Port& in, Handle& h) {
    if (h.queue.empty()) return;
    MIDIHDR* header = h.queue.front().header;
    h.queue.pop_front();
    if (header->dwBytesRecorded > 0)
        Trace("IN", in, reinterpret_cast<const uint8_t*>(header->lpData), header->dwBytesRecorded);
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
}

// Whatever the handle holds goes back to its owner, done.
void VirtualMidi::ReleaseAll(Handle& h) {
    while (!h.queue.empty()) {
        if (h.out) {
            MIDIHDR* header = h.queue.front().header;
            h.queue.pop_front();
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        } else {
            ReturnInput(*h.port, h);
        }
    }
}

void VirtualMidi::Trace(const char* direction, const Port& port, const uint8_t* bytes, size_t size) {
    if (!trace_) return;
    uint64_t t = now_;
    std::fprintf(trace_, "%llu.%03llu %s %d", static_cast<unsigned long long>(t / 1000),
                 static_cast<unsigned long long>(t % 1000), direction, DeviceNumber(port.id));
    for (size_t i = 0; i < size; ++i) std::fprintf(trace_, " %02X", bytes[i]);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

// ---- entry points ---------------------------------------------------------------------------

MMRESULT VirtualMidi::Enter(Call call, Port* port) {
    Pump();
    if (port) ++port->calls[static_cast<int>(call)];
    for (auto it = callFaults_.begin(); it != callFaults_.end(); ++it) {
        if (it->call != call || (it->port >= 0 && (!port || port->id != it->port))) continue;
        if (it->skip > 0) {
            --it->skip;
            return MMSYSERR_NOERROR;
        }
        const MMRESULT error = it->error;
        const uint64_t stall = it->stall;
        if (--it->count == 0) callFaults_.erase(it);
        if (stall) {
            if (plat::IsVirtualClock())
                plat::AdvanceVirtualClock(stall);
            else
                std::this_thread::sleep_for(std::chrono::microseconds(stall));
        }
        return error;
    }
    return MMSYSERR_NOERROR;
}

VirtualMidi::Handle* VirtualMidi::FindHandle(bool out, void* handle) {
    for (auto& h : handles_)
        if (h.get() == handle && h->out == out) return h.get();
    return nullptr;
}

uint32_t VirtualMidi::NumDevs(bool out) {
    Pump();
    uint32_t n = 0;
    for (const auto& p : ports_) n += p->out == out && p->plugged;
    return n;
}

MMRESULT VirtualMidi::GetDevCaps(bool out, uintptr_t device, void* caps, uint32_t size) {
    Port* port = PortByDevice(out, device);
    if (MMRESULT e = Enter(out ? Call::OutGetDevCaps : Call::InGetDevCaps, port)) return e;
    if (!port) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    char name[MAXPNAMELEN] = {};
    std::memcpy(name, port->name.data(), std::min<size_t>(port->name.size(), MAXPNAMELEN - 1));
    if (out) {
        MIDIOUTCAPSA c{};
        std::memcpy(c.szPname, name, sizeof name);
        c.wTechnology = port->technology;
        c.wChannelMask = 0xFFFF;
        std::memcpy(caps, &c, std::min<size_t>(size, sizeof c));
    } else {
        MIDIINCAPSA c{};
        std::memcpy(c.szPname, name, sizeof name);
        std::memcpy(caps, &c, std::min<size_t>(size, sizeof c));
    }
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::OpenPort(bool out, void** handle, uint32_t device, uintptr_t callback, uint32_t flags) {
    Port* port = PortByDevice(out, device);
    if (MMRESULT e = Enter(out ? Call::OutOpen : Call::InOpen, port)) return e;
    if (!handle) return MMSYSERR_INVALPARAM;
    if (!port) return MMSYSERR_BADDEVICEID;
    if (callback || flags != CALLBACK_NULL) return MMSYSERR_INVALPARAM;  // no callbacks here
    if (port->handle) return MMSYSERR_ALLOCATED;
    auto h = std::make_unique<Handle>();
    h->port = port;
    h->out = out;
    port->handle = h.get();
    *handle = h.get();
    handles_.push_back(std::move(h));
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::PrepareHeader(bool out, void* handle, MIDIHDR* header, uint32_t size) {
    Handle* h = FindHandle(out, handle);
    if (MMRESULT e = Enter(out ? Call::OutPrepareHeader : Call::InPrepareHeader, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    if (h->dead) return MMSYSERR_NODRIVER;
    if (!header || size < sizeof(MIDIHDR) || !header->lpData) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::UnprepareHeader(bool out, void* handle, MIDIHDR* header, uint32_t size) {
    Handle* h = FindHandle(out, handle);
    if (MMRESULT e = Enter(out ? Call::OutUnprepareHeader : Call::InUnprepareHeader, h ? h->port : nullptr))
        return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    if (h->dead) return MMSYSERR_NODRIVER;
    if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::LongMsg(void* handle, MIDIHDR* header, uint32_t size) {
    Handle* h = FindHandle(true, handle);
    if (MMRESULT e = Enter(Call::OutLongMsg, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    Port& port = *h->port;
    if (h->dead) return MMSYSERR_NODRIVER;
    if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    const auto* bytes = reinterpret_cast<const uint8_t*>(header->lpData);
    port.sent.emplace_back(bytes, bytes + header->dwBufferLength);
    Trace("OUT", port, bytes, header->dwBufferLength);
    uint64_t now = now_;
    PutOnCable(port, bytes, header->dwBufferLength, now);
    // Done when its last byte has left: queued behind whatever is still going out.
    h->queue.push_back({header, std::max(port.txFree, now)});
    Pump();
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::AddBuffer(void* handle, MIDIHDR* header, uint32_t size) {
    Handle* h = FindHandle(false, handle);
    if (MMRESULT e = Enter(Call::InAddBuffer, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    if (h->dead) return MMSYSERR_NODRIVER;
    if (!header || size < sizeof(MIDIHDR) || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    h->queue.push_back({header, 0});
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::Start(void* handle) {
    Handle* h = FindHandle(false, handle);
    if (MMRESULT e = Enter(Call::InStart, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    if (h->dead) return MMSYSERR_NODRIVER;
    h->started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::Stop(void* handle) {
    Handle* h = FindHandle(false, handle);
    if (MMRESULT e = Enter(Call::InStop, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    if (h->dead) return MMSYSERR_NODRIVER;
    h->started = false;
    // A buffer holding part of a message comes back; empty ones stay queued.
    if (!h->queue.empty() && h->queue.front().header->dwBytesRecorded > 0) ReturnInput(*h->port, *h);
    h->inSysex = false;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::Reset(bool out, void* handle) {
    Handle* h = FindHandle(out, handle);
    if (MMRESULT e = Enter(out ? Call::OutReset : Call::InReset, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    Port& port = *h->port;
    if (h->dead) return MMSYSERR_NODRIVER;
    if (out) {
        // Bytes not yet on the wire are not sent.
        uint64_t now = now_;
        while (!port.cable.empty() && port.cable.back().leave > now) port.cable.pop_back();
        port.txFree = std::min(port.txFree, now);
        port.lastDue = port.cable.empty() ? 0 : port.cable.back().due;
    } else {
        h->started = false;
        h->inSysex = false;
    }
    ReleaseAll(*h);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidi::ClosePort(bool out, void* handle) {
    Handle* h = FindHandle(out, handle);
    if (MMRESULT e = Enter(out ? Call::OutClose : Call::InClose, h ? h->port : nullptr)) return e;
    if (!h) return MMSYSERR_INVALHANDLE;
    // A port that is gone gives up what it held; a live one refuses to close over queued buffers.
    if (!h->dead && !h->queue.empty()) return MIDIERR_STILLPLAYING;
    ReleaseAll(*h);
    if (h->port->handle == h) h->port->handle = nullptr;
    handles_.erase(std::find_if(handles_.begin(), handles_.end(), [h](const auto& p) { return p.get() == h; }));
    return MMSYSERR_NOERROR;
}

}  // namespace sim
