#pragma once
// A virtual MIDI system behind the WinMM function table: named input and
// output ports, long-message buffers that come back done, cables with a byte
// rate and a latency, emulated units at the far end of a port pair, and
// faults on demand. It keeps the contracts the MIDI transport relies on: a
// queued buffer belongs to the driver until it comes back done, unpreparing
// or closing while buffers are queued fails with MIDIERR_STILLPLAYING, a
// reset hands every queued buffer back.
//
// Time is the platform clock (virtual in tests). The system has no thread:
// it catches up with the clock on every call through its table (timeGetTime
// included, so a wait that polls a done flag sees it set) and whenever Pump
// is called. Code that polls input buffers without calling WinMM (the remote
// link between its sleeps) needs Pump installed as the platform's idle hook
// (plat::SetIdleHook), which runs after every Sleep and message pump.
//
// Input follows the driver's rules for ports opened without a callback: only
// system-exclusive bytes reach the buffers; a buffer comes back when the
// message ends (F7), when it is full (the message goes on in the next one),
// or when a status byte breaks the message off; bytes that find no buffer
// queued are lost.
//
// When the environment variable ORVEX_MIDI_TRACE names a file, every block in
// both directions is appended to it, one a line:
//   <time ms, 3 decimals> <OUT|IN> <device number> <bytes in hex>
// OUT is a block handed to midiOutLongMsg, IN an input buffer come back with data.
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/ByteDevice.h"
#include "transport/WinMMApi.h"

namespace sim {

class VirtualMidi {
public:
    static constexpr uint32_t kDinBytesPerSecond = 3125;  // 31,250 baud, ten bits a byte

    // The table's functions that can be made to fail.
    enum class Call : int {
        OutGetDevCaps, InGetDevCaps, OutOpen, InOpen,
        OutPrepareHeader, OutLongMsg, OutUnprepareHeader, OutReset, OutClose,
        InPrepareHeader, InAddBuffer, InStart, InStop, InReset, InUnprepareHeader, InClose,
        kCount
    };

    VirtualMidi();
    ~VirtualMidi();
    VirtualMidi(const VirtualMidi&) = delete;
    VirtualMidi& operator=(const VirtualMidi&) = delete;

    // The table acts on the system installed last (one at a time); a system
    // uninstalls itself when it goes, handing back every buffer still queued
    // (marked done). Without one the table has no devices.
    void Install();
    static const winmm::WinMMApi& Api();

    // Ports. The id returned stays the port's; its device number is its place
    // among the plugged-in ports of its direction, as WinMM numbers them.
    int AddOutPort(const std::string& name, bool hardwarePort = true);
    int AddInPort(const std::string& name);
    int DeviceNumber(int port) const;  // -1 while unplugged
    void SetByteRate(int port, uint32_t bytesPerSecond);  // 0: unpaced
    void SetLatency(int port, uint64_t micros);
    // What leaves outPort reaches the device; what it sends arrives at inPort.
    void Connect(int outPort, int inPort, IByteDevice* device);

    // Faults on the bytes entering a port's cable, counted from the call:
    // after `after` bytes, `count` bytes are dropped, changed (XOR mask) or held
    // back (the line stalls, so the bytes behind them go that much later too).
    void DropBytes(int port, uint32_t after, uint32_t count);
    void CorruptBytes(int port, uint32_t after, uint32_t count, uint8_t mask = 0x01);
    void DelayBytes(int port, uint32_t after, uint32_t count, uint64_t micros);
    // Each byte is dropped or changed with these odds (per million), seeded.
    void SetRandomFaults(int port, uint32_t seed, uint32_t dropPerMillion, uint32_t corruptPerMillion);
    // A silent port's cable carries nothing (a unit that stopped answering).
    void SetSilent(int port, bool silent);
    // Ends every byte fault and the silence of a port (a campaign's clean retry).
    void ClearFaults(int port);
    // An unplugged port leaves the device list; its open handle fails every
    // call with MMSYSERR_NODRIVER, keeps the buffers it holds, and gives them
    // back only when closed.
    void Unplug(int port);
    void UnplugAt(int port, uint64_t clockMicros);
    void Plug(int port);
    // After `skip` matching calls the next `count` return `error` and do nothing.
    // port -1 matches every port.
    void FailCalls(Call call, int port, uint32_t skip, uint32_t count, winmm::MMRESULT error);
    // ... or take `micros` of the clock each (a driver that blocks), then work as usual.
    void StallCalls(Call call, int port, uint32_t skip, uint32_t count, uint64_t micros);

    // Carries out everything due by the clock's present time.
    void Pump();

    // What happened.
    const std::vector<std::vector<uint8_t>>& SentBlocks(int outPort) const;
    uint32_t CallCount(Call call, int port) const;
    bool IsOpen(int port) const;
    int OpenHandles() const;
    int QueuedHeaders(int port) const;  // buffers the driver holds for a port (-1: all)
    uint64_t LostBytes(int inPort) const;
    // Bytes that entered a port's cable so far (the count byte faults start from).
    uint64_t CableBytes(int port) const;

    // ---- the table's entry points (called through Api()) ----
    struct Handle;
    uint32_t NumDevs(bool out);
    winmm::MMRESULT GetDevCaps(bool out, uintptr_t device, void* caps, uint32_t size);
    winmm::MMRESULT OpenPort(bool out, void** handle, uint32_t device, uintptr_t callback, uint32_t flags);
    winmm::MMRESULT PrepareHeader(bool out, void* handle, winmm::MIDIHDR* header, uint32_t size);
    winmm::MMRESULT UnprepareHeader(bool out, void* handle, winmm::MIDIHDR* header, uint32_t size);
    winmm::MMRESULT LongMsg(void* handle, winmm::MIDIHDR* header, uint32_t size);
    winmm::MMRESULT AddBuffer(void* handle, winmm::MIDIHDR* header, uint32_t size);
    winmm::MMRESULT Start(void* handle);
    winmm::MMRESULT Stop(void* handle);
    winmm::MMRESULT Reset(bool out, void* handle);
    winmm::MMRESULT ClosePort(bool out, void* handle);

private:
    struct Fault {
        enum Kind { Drop, Corrupt, Delay } kind;
        uint64_t first, end;  // byte positions on the cable
        uint8_t mask;
        uint64_t micros;
    };
    struct CableByte {
        uint64_t leave, due;
        uint8_t value;
    };
    struct Queued {
        winmm::MIDIHDR* header;
        uint64_t doneAt;  // output: when its last byte has left
    };
    struct Port {
        int id = 0;
        bool out = false;
        std::string name;
        uint16_t technology = winmm::MOD_MIDIPORT;
        bool plugged = true;
        uint32_t rate = 0;
        uint64_t latency = 0;
        bool silent = false;
        std::vector<Fault> faults;
        uint64_t position = 0;  // bytes that entered the cable
        uint32_t rng = 0, dropPpm = 0, corruptPpm = 0;
        uint64_t txFree = 0, lastDue = 0;
        std::deque<CableByte> cable;
        IByteDevice* device = nullptr;  // output ports: the unit the cable leads to
        int peer = -1;                  // output ports: the input its answers reach
        Handle* handle = nullptr;
        std::vector<std::vector<uint8_t>> sent;
        uint64_t lost = 0;
        std::array<uint32_t, static_cast<int>(Call::kCount)> calls{};
    };
    struct CallFault {
        Call call;
        int port;
        uint32_t skip, count;
        winmm::MMRESULT error;
        uint64_t stall = 0;
    };

    Port* PortById(int id);
    const Port* PortById(int id) const;
    Port* PortByDevice(bool out, uintptr_t device);
    Handle* FindHandle(bool out, void* handle);
    winmm::MMRESULT Enter(Call call, Port* port);
    void PutOnCable(Port& port, const uint8_t* bytes, size_t size, uint64_t time);
    void DeliverToDevice(Port& out, uint64_t upTo);
    void FeedInput(Port& in, uint8_t byte);
    void Store(Port& in, Handle& h, uint8_t byte);
    void ReturnInput(Port& in, Handle& h);
    void ReleaseAll(Handle& h);
    void Trace(const char* direction, const Port& port, const uint8_t* bytes, size_t size);
    uint64_t Now() const;

    std::vector<std::unique_ptr<Port>> ports_;
    std::vector<std::unique_ptr<Handle>> handles_;
    std::vector<CallFault> callFaults_;
    std::vector<std::pair<uint64_t, int>> unplugs_;
    uint64_t now_ = 0;
    bool pumping_ = false;
    FILE* trace_ = nullptr;
};

}  // namespace sim
