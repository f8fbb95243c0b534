#include "transport/OrvexMIDI.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/Log.h"
#include "platform/Platform.h"
#include "protocol/RemoteMessages.h"

namespace orvex {

using namespace winmm;

namespace {

// ---- the table in force before anything is installed: no MIDI devices ----
uint32_t ORVEX_WINAPI NoDevices() { return 0; }
MMRESULT ORVEX_WINAPI NoOutCaps(uintptr_t, MIDIOUTCAPSA*, uint32_t) { return MMSYSERR_BADDEVICEID; }
MMRESULT ORVEX_WINAPI NoInCaps(uintptr_t, MIDIINCAPSA*, uint32_t) { return MMSYSERR_BADDEVICEID; }
MMRESULT ORVEX_WINAPI NoInOpen(HMIDIIN*, uint32_t, uintptr_t, uintptr_t, uint32_t) { return MMSYSERR_BADDEVICEID; }
MMRESULT ORVEX_WINAPI NoOutOpen(HMIDIOUT*, uint32_t, uintptr_t, uintptr_t, uint32_t) { return MMSYSERR_BADDEVICEID; }
MMRESULT ORVEX_WINAPI NoInHeader(HMIDIIN, MIDIHDR*, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI NoIn(HMIDIIN) { return MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI NoOutHeader(HMIDIOUT, MIDIHDR*, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT ORVEX_WINAPI NoOut(HMIDIOUT) { return MMSYSERR_INVALHANDLE; }
uint32_t ORVEX_WINAPI TickTime() { return plat::GetTickCount(); }

const WinMMApi kNoMidi = {
    NoDevices,  NoOutCaps,   NoDevices,   NoInCaps,    NoInOpen, NoOutOpen,   NoInHeader,
    NoInHeader, NoIn,        NoIn,        NoIn,        NoInHeader, NoIn,      NoOutHeader,
    NoOutHeader, NoOutHeader, NoOut,      NoOut,       TickTime,
};

const WinMMApi* g_installed = nullptr;

// Memory that a port which would not close may still write into. Kept, and
// reachable, for the rest of the process.
template <typename T>
std::vector<std::unique_ptr<T>>& Graveyard() {
    static auto* kept = new std::vector<std::unique_ptr<T>>;
    return *kept;
}

// The driver sets the done flag from its own context.
static_assert(offsetof(MIDIHDR, dwFlags) % alignof(uint32_t) == 0 && sizeof(MIDIHDR) % 8 == 0);
uint32_t Flags(MIDIHDR& header) {
    return std::atomic_ref<uint32_t>(header.dwFlags).load(std::memory_order_acquire);
}

// szPname need not be terminated when it fills the field.
void CopyName(const char (&from)[MAXPNAMELEN], char (&to)[MAXPNAMELEN + 1]) {
    size_t n = strnlen(from, MAXPNAMELEN);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

bool EndsWith(const char* text, const char* tail) {
    size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}

unsigned long AsLong(const void* handle) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

void COrvexMIDI::SetWinMMApi(const WinMMApi* api) { g_installed = api; }
const WinMMApi& COrvexMIDI::GetWinMMApi() { return g_installed ? *g_installed : kNoMidi; }

COrvexMIDI::COrvexMIDI(const WinMMApi* api)
    : m_pApi(api ? api : &GetWinMMApi()), m_pMemory(std::make_unique<DriverMemory>()) {}

COrvexMIDI::~COrvexMIDI() {
    Close();
    if (m_pParkedHeader) StrandDriverMemory();
}

uint32_t COrvexMIDI::WriteTimeoutMs(int32_t length) {
    return length <= 0 ? 0 : static_cast<uint32_t>(uint64_t(length) * 640 / 1000);
}

void COrvexMIDI::StrandDriverMemory() {
    Graveyard<DriverMemory>().push_back(std::move(m_pMemory));
    m_pMemory = std::make_unique<DriverMemory>();
    // A parked block stays where it is, in the stranded memory.
    m_hParkedOut = nullptr;
    m_pParkedHeader = nullptr;
}

// ---- Open --------------------------------------------------------------------

uint16_t COrvexMIDI::Open() {
    // A half-open pair (after a failed selection) would leak and keep its ports
    // busy for the probe, so it is closed rather than forgotten.
    ClosePorts();
    m_wCurrentConnection = kTransportNoConnection;
    m_nInCandidates = m_nOutCandidates = m_nConnections = 0;
    DriverMemory* memory = m_pMemory.get();  // stays valid even if stranded below

    char name[MAXPNAMELEN + 1];
    auto admits = [&](const char* portName) {
        if (m_szPortNameFilter[0] != '\0' && !std::strstr(portName, m_szPortNameFilter)) return false;
        return !EndsWith(portName, "Virtual MIDI");
    };

    uint32_t outs = std::min<uint32_t>(m_pApi->midiOutGetNumDevs(), kMaxDevices);
    for (uint32_t d = 0; d < outs; ++d) {
        MIDIOUTCAPSA caps{};
        if (MMRESULT r = m_pApi->midiOutGetDevCapsA(d, &caps, sizeof caps)) {
            OrvexLog("COrvexMIDI::Open: midiOutGetDevCaps [%d] Failed! [%d]\n", int(d), int(r));
            continue;
        }
        CopyName(caps.szPname, name);
        if (caps.wTechnology != MOD_MIDIPORT || !admits(name)) continue;
        OrvexLog("Found Out Port [%s]\n", name);
        m_dwOutCandidate[m_nOutCandidates++] = d;
    }
    if (m_nOutCandidates == 0) {
        OrvexLog("COrvexMIDI::Open: No Output Ports\n");
        return kTransportFailed;
    }

    uint32_t ins = std::min<uint32_t>(m_pApi->midiInGetNumDevs(), kMaxDevices);
    for (uint32_t d = 0; d < ins; ++d) {
        MIDIINCAPSA caps{};
        if (MMRESULT r = m_pApi->midiInGetDevCapsA(d, &caps, sizeof caps)) {
            OrvexLog("COrvexMIDI::Open: midiInGetDevCaps [%d] Failed! [%d]\n", int(d), int(r));
            continue;
        }
        CopyName(caps.szPname, name);
        if (!admits(name)) continue;
        OrvexLog("Found In Port [%s]\n", name);
        m_dwInCandidate[m_nInCandidates++] = d;
    }
    if (m_nInCandidates == 0) {
        OrvexLog("COrvexMIDI::Open: No Input Ports\n");
        return kTransportFailed;
    }

    // Arm every input with one small buffer: each hears at most its first message.
    for (int i = 0; i < m_nInCandidates; ++i) {
        HMIDIIN in = nullptr;
        if (MMRESULT r = m_pApi->midiInOpen(&in, m_dwInCandidate[i], 0, 0, CALLBACK_NULL)) {
            OrvexLog("COrvexMIDI::Open: midiInOpen [%d] FAILED! [%d]\n", int(m_dwInCandidate[i]), int(r));
            continue;
        }
        m_hProbeIn[i] = in;
        MIDIHDR& header = memory->probeHeaders[i];
        memory->probeBuffers[i].fill(0);
        header = MIDIHDR{};
        header.lpData = memory->probeBuffers[i].data();
        header.dwBufferLength = kProbeBufferSize;
        if (m_pApi->midiInPrepareHeader(in, &header, sizeof header)) {
            OrvexLog("midiInPrepareHeader Failed!\n");
            return GiveUpOpen(memory);
        }
        if (m_pApi->midiInAddBuffer(in, &header, sizeof header) || m_pApi->midiInStart(in)) {
            OrvexLog("midiInAddBuffer Failed!\n");
            return GiveUpOpen(memory);
        }
    }

    // Probe: a status request for register 64 + d tells which output reached the unit.
    bool probed = false;
    for (int j = 0; j < m_nOutCandidates; ++j) {
        uint32_t d = m_dwOutCandidate[j];
        HMIDIOUT out = nullptr;
        if (MMRESULT r = m_pApi->midiOutOpen(&out, d, 0, 0, CALLBACK_NULL)) {
            OrvexLog("COrvexMIDI::Open: midiOutOpen [%d] FAILED! [%d]\n", int(d), int(r));
            continue;
        }
        m_hProbeOut[j] = out;
        std::vector<uint8_t> probe = EncodeStatusRequest(static_cast<uint16_t>(64 + d), 0, false);
        if (uint16_t s = SendBlock(out, probe.data(), static_cast<int32_t>(probe.size()))) {
            OrvexLog("COrvexMIDI::Open: Write Failed! %08lx\n", static_cast<unsigned long>(s));
            return GiveUpOpen(memory);
        }
        probed = true;
    }
    if (!probed) return GiveUpOpen(memory);  // no answer could name a port

    // One deadline for all inputs together, counted from after the last probe.
    uint32_t start = m_pApi->timeGetTime();
    for (int i = 0; i < m_nInCandidates; ++i) {
        HMIDIIN in = m_hProbeIn[i];
        if (!in) continue;  // never opened: nothing can arrive there
        MIDIHDR& header = memory->probeHeaders[i];
        if (!WaitForDone(header, start, kProbeDeadlineMs)) {
            OrvexLog("COrvexMIDI::Open: Input WaitForDone Timeout!\n");
            CloseProbeInput(i, memory);
            continue;
        }
        uint32_t recorded = std::min(header.dwBytesRecorded, kProbeBufferSize);
        const auto* b = reinterpret_cast<const uint8_t*>(header.lpData);
        if (recorded == 10 && b[0] == kSysexStart && std::memcmp(b + 1, kManufacturerId, 3) == 0 &&
            (b[4] & 0x78) == 0x70) {
            int reg = ((b[4] & 7) << 5) | ((b[5] >> 2) & 0x1F);
            // A unit that reports register 9 by itself while busy also sends a
            // one-register response; only a probed output is a connection.
            if (IsProbedOutput(reg - 64)) {
                m_dwInDevice[m_nConnections] = m_dwInCandidate[i];
                m_dwOutDevice[m_nConnections] = static_cast<uint32_t>(reg - 64);
                ++m_nConnections;
            } else {
                OrvexLog("COrvexMIDI::Open: Answer for register %d names no probed port\n", reg);
            }
        }
        if (m_pApi->midiInReset(in)) {
            OrvexLog("midiInReset Failed!\n");
            return GiveUpOpen(memory);
        }
        if (MMRESULT r = m_pApi->midiInStop(in)) {
            OrvexLog("midiInStop Failed! %lu\n", static_cast<unsigned long>(r));
            return GiveUpOpen(memory);
        }
        m_pApi->midiInUnprepareHeader(in, &header, sizeof header);
        if (m_pApi->midiInClose(in)) {
            OrvexLog("midiInClose Failed!\n");
            return GiveUpOpen(memory);  // still held: the clean-up tries once more
        }
        m_hProbeIn[i] = nullptr;
    }

    for (int j = 0; j < m_nOutCandidates; ++j) {
        if (!m_hProbeOut[j]) continue;
        if (CloseOutput(m_hProbeOut[j])) OrvexLog("midiOutClose Failed!\n");
        m_hProbeOut[j] = nullptr;
    }
    return m_nConnections > 0 ? kTransportOk : kTransportFailed;
}

bool COrvexMIDI::IsProbedOutput(int device) const {
    for (int j = 0; j < m_nOutCandidates; ++j)
        if (int(m_dwOutCandidate[j]) == device && m_hProbeOut[j]) return true;
    return false;
}

// Reset, stop and close without looking at the results: the port is of no more use.
void COrvexMIDI::CloseProbeInput(int candidate, DriverMemory* memory) {
    HMIDIIN in = m_hProbeIn[candidate];
    if (!in) return;
    m_pApi->midiInReset(in);
    m_pApi->midiInStop(in);
    MIDIHDR& header = memory->probeHeaders[candidate];
    m_pApi->midiInUnprepareHeader(in, &header, sizeof header);
    if (m_pApi->midiInClose(in)) StrandDriverMemory();
    m_hProbeIn[candidate] = nullptr;
}

void COrvexMIDI::CloseProbePorts(DriverMemory* memory) {
    for (int i = 0; i < m_nInCandidates; ++i) CloseProbeInput(i, memory);
    for (int j = 0; j < m_nOutCandidates; ++j) {
        if (!m_hProbeOut[j]) continue;
        if (CloseOutput(m_hProbeOut[j])) OrvexLog("midiOutClose Failed!\n");
        m_hProbeOut[j] = nullptr;
    }
}

// Open leaves no port behind when it stops early.
uint16_t COrvexMIDI::GiveUpOpen(DriverMemory* memory) {
    CloseProbePorts(memory);
    m_nConnections = 0;
    return kTransportFailed;
}

// ---- connections -----------------------------------------------------------

void COrvexMIDI::SetPortNameFilter(const char* text) {
    std::snprintf(m_szPortNameFilter, sizeof m_szPortNameFilter, "%s", text ? text : "");
}

bool COrvexMIDI::IsOpen() { return m_hMidiIn != nullptr && hMidiOut != nullptr; }

uint16_t COrvexMIDI::GetNumConnections(uint16_t* count) {
    if (!count) return kTransportFailed;
    *count = static_cast<uint16_t>(m_nConnections);
    return kTransportOk;
}

uint16_t COrvexMIDI::GetCurrentConnection(uint16_t* number) {
    if (!number) return kTransportFailed;
    *number = m_wCurrentConnection;
    return kTransportOk;
}

uint16_t COrvexMIDI::GetConnectionDescription(uint16_t number, char* text, uint32_t size) {
    if (!text || size == 0) return kTransportFailed;
    MIDIOUTCAPSA caps{};
    MMRESULT r = number < m_nConnections ? m_pApi->midiOutGetDevCapsA(m_dwOutDevice[number], &caps, sizeof caps)
                                         : MMSYSERR_BADDEVICEID;
    if (r) {
        OrvexLog("COrvexMIDI::GetConnectionDescription: midiOutGetDevCaps [%u] Failed! [%d]\n", unsigned(number),
                 int(r));
        std::snprintf(text, size, "%s", "midiOutGetDevCaps Error");
        return kTransportFailed;
    }
    char name[MAXPNAMELEN + 1];
    CopyName(caps.szPname, name);
    std::snprintf(text, size, "%s", name);
    return kTransportOk;
}

uint16_t COrvexMIDI::SetSlotTarget(bool) { return kTransportFailed; }

bool COrvexMIDI::ArmBuffer(int index) {
    MIDIHDR& header = m_pMemory->inHeaders[index];
    m_bBufferArmed[index] = false;
    header = MIDIHDR{};
    m_pMemory->inBuffers[index].fill(0);
    header.lpData = m_pMemory->inBuffers[index].data();
    header.dwBufferLength = kInputBufferSize;
    if (m_pApi->midiInPrepareHeader(m_hMidiIn, &header, sizeof header)) {
        OrvexLog("midiInPrepareHeader Failed!\n");
        return false;
    }
    if (m_pApi->midiInAddBuffer(m_hMidiIn, &header, sizeof header)) {
        OrvexLog("midiInAddBuffer Failed!\n");
        m_pApi->midiInUnprepareHeader(m_hMidiIn, &header, sizeof header);
        return false;
    }
    m_bBufferArmed[index] = true;
    return true;
}

uint16_t COrvexMIDI::SelectConnection(uint16_t number) {
    if (number == m_wCurrentConnection) return kTransportOk;
    if (number >= m_nConnections) {
        OrvexLog("COrvexMIDI::SelectConnection: No Connection [%u]\n", unsigned(number));
        return kTransportFailed;
    }
    Close();
    m_wCurrentConnection = number;

    uint32_t outDevice = m_dwOutDevice[number], inDevice = m_dwInDevice[number];
    if (m_pApi->midiOutOpen(&hMidiOut, outDevice, 0, 0, CALLBACK_NULL)) {
        hMidiOut = nullptr;
        OrvexLog("midiOutOpen [%d] Failed!\n", int(outDevice));
        return kTransportFailed;
    }
    if (m_pApi->midiInOpen(&m_hMidiIn, inDevice, 0, 0, CALLBACK_NULL)) {
        m_hMidiIn = nullptr;
        OrvexLog("midiInOpen [%d] Failed!\n", int(inDevice));
        ClosePorts();  // the output alone is of no use and would stay busy
        return kTransportFailed;
    }
    for (int k = 0; k < kInputBuffers; ++k) ArmBuffer(k);  // a buffer that fails stays out of use
    m_wNextBuffer = 0;
    if (MMRESULT r = m_pApi->midiInStart(m_hMidiIn)) {
        OrvexLog("COrvexMIDI::SelectConnection: midiInStart Failed %d\n", int(r));
        // Closed, so IsOpen tells the caller to open again instead of reading a dead port.
        ClosePorts();
        return kTransportFailed;
    }
    return kTransportOk;
}

// ---- Write -------------------------------------------------------------------

bool COrvexMIDI::WaitForDone(MIDIHDR& header, uint32_t start, uint32_t timeoutMs) {
    for (;;) {
        if (Flags(header) & MHDR_DONE) return true;
        uint32_t elapsed = m_pApi->timeGetTime() - start;
        if (elapsed > timeoutMs) {
            // A wait that was itself held up (the thread descheduled between
            // looking and reading the clock) must not fail a block that is done.
            if (Flags(header) & MHDR_DONE) return true;
            OrvexLog("COrvexMIDI::WaitForDone Timeout! Elapsed %lu Timeout %lu\n", static_cast<unsigned long>(elapsed),
                     static_cast<unsigned long>(timeoutMs));
            return false;
        }
    }
}

uint16_t COrvexMIDI::Write(const uint8_t* bytes, int32_t length) {
    if (!hMidiOut) {
        OrvexLog("COrvexMIDI::Write: hMidiOut is NULL!\n");
        return kTransportFailed;
    }
    uint16_t status = SendBlock(hMidiOut, bytes, length);
    if (m_pParkedHeader) {
        // A port that keeps a block even through a reset is gone (unplugged,
        // driver fault). Closing the pair makes IsOpen false, so the caller
        // opens again instead of writing into it for ever.
        OrvexLog("COrvexMIDI::Write: Port keeps the block, closing the connection\n");
        ClosePorts();
    }
    return status;
}

uint16_t COrvexMIDI::SendBlock(HMIDIOUT out, const uint8_t* bytes, int32_t length) {
    // Never reuse a block that a port may still hold.
    if (m_pParkedHeader) StrandDriverMemory();
    if (length < 0 || (length > 0 && !bytes)) {
        OrvexLog("COrvexMIDI::Write: Bad block length [%d]!\n", int(length));
        return kTransportFailed;
    }
    // The block is copied so it stays valid for the driver even when the
    // caller's bytes go away after a time-out.
    DriverMemory& memory = *m_pMemory;
    memory.outData.assign(reinterpret_cast<const char*>(bytes), reinterpret_cast<const char*>(bytes) + length);
    MIDIHDR& header = memory.outHeader;
    header = MIDIHDR{};
    header.lpData = memory.outData.data();
    header.dwBufferLength = static_cast<uint32_t>(length);
    if (MMRESULT r = m_pApi->midiOutPrepareHeader(out, &header, sizeof header)) {
        OrvexLog("COrvexMIDI::Write: midiOutPrepareHeader [%d] Failed! [%08lx]\n", int(r), AsLong(out));
        return kTransportFailed;
    }

    uint16_t result = kTransportOk;
    if (MMRESULT r = m_pApi->midiOutLongMsg(out, &header, sizeof header)) {
        // Never queued, so there is nothing to wait for.
        OrvexLog("COrvexMIDI::Write: midiOutLongMsg [%d] Failed!\n", int(r));
        result = kTransportFailed;
    } else if (!WaitForDone(header, m_pApi->timeGetTime(), WriteTimeoutMs(length))) {
        OrvexLog("COrvexMIDI::Write: WaitForDone Timeout!\n");
        // The reset hands the block back. If the driver still keeps it, it is
        // parked (not reused, not freed) until its port is closed.
        if (MMRESULT r = m_pApi->midiOutReset(out))
            OrvexLog("COrvexMIDI::Write: midiOutReset Failed! %lu\n", static_cast<unsigned long>(r));
        if (m_pApi->midiOutUnprepareHeader(out, &header, sizeof header)) {
            m_hParkedOut = out;
            m_pParkedHeader = &header;
        }
        return kTransportFailed;
    }
    if (MMRESULT r = m_pApi->midiOutUnprepareHeader(out, &header, sizeof header)) {
        OrvexLog("COrvexMIDI::Write: midiOutUnprepareHeader [%d] Failed!\n", int(r));
        m_hParkedOut = out;
        m_pParkedHeader = &header;
        return kTransportFailed;
    }
    return result;
}

// ---- Read ----------------------------------------------------------------------

uint16_t COrvexMIDI::Read(uint8_t* buffer, int32_t size, int32_t* received) {
    if (received) *received = 0;
    if (!m_hMidiIn) {
        OrvexLog("COrvexMIDI::Read: m_hMidiIn NULL!\n");
        return kTransportFailed;
    }
    // A buffer out of use would stop the round robin for good: pass over it.
    int tries = 0;
    while (!m_bBufferArmed[m_wNextBuffer] && tries++ < kInputBuffers)
        m_wNextBuffer = static_cast<uint16_t>((m_wNextBuffer + 1) % kInputBuffers);
    if (!m_bBufferArmed[m_wNextBuffer]) return kTransportOk;

    int index = m_wNextBuffer;
    MIDIHDR& header = m_pMemory->inHeaders[index];
    if (!(Flags(header) & MHDR_DONE)) return kTransportOk;
    uint32_t recorded = std::min(header.dwBytesRecorded, kInputBufferSize);
    uint32_t copied = 0;
    if (recorded > 0 && buffer && size > 0) {
        copied = std::min(recorded, static_cast<uint32_t>(size));
        std::memcpy(buffer, header.lpData, copied);
    }
    if (MMRESULT r = m_pApi->midiInUnprepareHeader(m_hMidiIn, &header, sizeof header)) {
        OrvexLog("COrvexMIDI::Read: midiInUnprepareHeader Failed! %08lx\n", static_cast<unsigned long>(r));
        m_bBufferArmed[index] = false;
        m_wNextBuffer = static_cast<uint16_t>((index + 1) % kInputBuffers);
        return kTransportFailed;
    }
    // An empty buffer comes back too (a driver may return one unfilled); it is
    // put back in the queue like any other instead of blocking its turn.
    ArmBuffer(index);
    m_wNextBuffer = static_cast<uint16_t>((index + 1) % kInputBuffers);
    if (received) *received = static_cast<int32_t>(copied);
    return kTransportOk;
}

// ---- Close -----------------------------------------------------------------------

MMRESULT COrvexMIDI::CloseOutput(HMIDIOUT out) {
    MMRESULT r = m_pApi->midiOutClose(out);
    if (r != MMSYSERR_NOERROR) {
        // Once more after a reset, which hands back anything still queued.
        m_pApi->midiOutReset(out);
        r = m_pApi->midiOutClose(out);
    }
    if (out == m_hParkedOut) {
        // A closed port has given back every block it held; one that would
        // not close keeps its block in memory that is never freed.
        if (r != MMSYSERR_NOERROR) StrandDriverMemory();
        m_hParkedOut = nullptr;
        m_pParkedHeader = nullptr;
    }
    return r;
}

void COrvexMIDI::ClosePorts() {
    DriverMemory* memory = m_pMemory.get();  // the input buffers live here even if stranded below
    if (hMidiOut) {
        HMIDIOUT out = hMidiOut;
        hMidiOut = nullptr;
        if (MMRESULT r = m_pApi->midiOutReset(out))
            OrvexLog("midiOutReset Failed! %lu\n", static_cast<unsigned long>(r));
        if (MMRESULT r = CloseOutput(out)) OrvexLog("midiOutClose Failed! %lu\n", static_cast<unsigned long>(r));
    }
    if (m_hMidiIn) {
        HMIDIIN in = m_hMidiIn;
        m_hMidiIn = nullptr;
        if (MMRESULT r = m_pApi->midiInReset(in)) OrvexLog("midiInReset Failed! %lu\n", static_cast<unsigned long>(r));
        if (MMRESULT r = m_pApi->midiInStop(in)) OrvexLog("midiInStop Failed! %lu\n", static_cast<unsigned long>(r));
        for (int k = 0; k < kInputBuffers; ++k) {
            if (m_bBufferArmed[k]) m_pApi->midiInUnprepareHeader(in, &memory->inHeaders[k], sizeof(MIDIHDR));
            m_bBufferArmed[k] = false;
        }
        if (MMRESULT r = m_pApi->midiInClose(in)) {
            OrvexLog("midiInClose Failed! %lu\n", static_cast<unsigned long>(r));
            if (m_pMemory.get() == memory) StrandDriverMemory();
        }
    }
}

uint16_t COrvexMIDI::Close() {
    ClosePorts();
    m_wCurrentConnection = kTransportNoConnection;
    return kTransportOk;
}

}  // namespace orvex
