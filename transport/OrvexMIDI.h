#pragma once
// The MIDI transport: remote-control messages over the computer's MIDI ports
// through WinMM. Open probes every hardware output port with a one-register
// status request and pairs each input that hears an answer with the output
// the answer names. Ports are opened without a callback; every wait polls the
// done flag that the driver sets from its own context.
//
// Buffers the driver may still hold are never freed or reused: a block that
// does not come back after a time-out and a port reset stays parked until its
// port is closed (Write closes the pair at once, so IsOpen turns false), and
// the buffers of a port that would not close are kept for good.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "transport/OrvexInterface.h"
#include "transport/WinMMApi.h"

namespace orvex {

class COrvexMIDI : public COrvexInterface {
public:
    static constexpr int kMaxDevices = 64;
    static constexpr int kInputBuffers = 4;
    static constexpr uint32_t kInputBufferSize = 512;
    static constexpr uint32_t kProbeBufferSize = 32;
    static constexpr uint32_t kProbeDeadlineMs = 500;
    static constexpr size_t kMaxFilterLength = 255;

    // The table the next transports use. Until one is installed it is a table
    // with no MIDI devices; the Windows start-up installs winmm::SystemWinMM().
    static void SetWinMMApi(const winmm::WinMMApi* api);
    static const winmm::WinMMApi& GetWinMMApi();

    explicit COrvexMIDI(const winmm::WinMMApi* api = nullptr);
    ~COrvexMIDI() override;
    COrvexMIDI(const COrvexMIDI&) = delete;
    COrvexMIDI& operator=(const COrvexMIDI&) = delete;

    uint16_t Open() override;
    uint16_t Close() override;
    void SetPortNameFilter(const char* text) override;
    bool IsOpen() override;
    uint16_t GetNumConnections(uint16_t* count) override;
    uint16_t SelectConnection(uint16_t number) override;
    uint16_t GetCurrentConnection(uint16_t* number) override;
    uint16_t GetConnectionDescription(uint16_t number, char* text, uint32_t size) override;
    uint16_t SetSlotTarget(bool on) override;
    uint16_t Write(const uint8_t* bytes, int32_t length) override;
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override;

    // Milliseconds a block of this length may take to go out (0.64 ms a byte).
    static uint32_t WriteTimeoutMs(int32_t length);

private:
    // Everything the driver is handed a pointer to. Kept on the heap so it can
    // outlive this object when a port would not let go of it.
    // The headers are byte-packed records; aligned here so the done flag can
    // be read atomically.
    struct DriverMemory {
        alignas(8) std::array<winmm::MIDIHDR, kInputBuffers> inHeaders{};
        std::array<std::array<char, kInputBufferSize>, kInputBuffers> inBuffers{};
        alignas(8) std::array<winmm::MIDIHDR, kMaxDevices> probeHeaders{};
        std::array<std::array<char, kProbeBufferSize>, kMaxDevices> probeBuffers{};
        alignas(8) winmm::MIDIHDR outHeader{};
        std::vector<char> outData;
    };

    uint16_t SendBlock(winmm::HMIDIOUT out, const uint8_t* bytes, int32_t length);
    bool WaitForDone(winmm::MIDIHDR& header, uint32_t start, uint32_t timeoutMs);
    winmm::MMRESULT CloseOutput(winmm::HMIDIOUT out);
    void ClosePorts();
    bool ArmBuffer(int index);
    void CloseProbeInput(int candidate, DriverMemory* memory);
    void CloseProbePorts(DriverMemory* memory);
    bool IsProbedOutput(int device) const;
    void StrandDriverMemory();
    uint16_t GiveUpOpen(DriverMemory* memory);

    const winmm::WinMMApi* m_pApi;

    uint16_t m_wCurrentConnection = kTransportNoConnection;
    winmm::HMIDIIN m_hMidiIn = nullptr;
    winmm::HMIDIOUT hMidiOut = nullptr;
    int32_t m_nInCandidates = 0;
    int32_t m_nOutCandidates = 0;
    std::array<uint32_t, kMaxDevices> m_dwInCandidate{};
    std::array<uint32_t, kMaxDevices> m_dwOutCandidate{};
    int32_t m_nConnections = 0;
    std::array<uint32_t, kMaxDevices> m_dwInDevice{};
    std::array<uint32_t, kMaxDevices> m_dwOutDevice{};
    std::array<bool, kInputBuffers> m_bBufferArmed{};
    uint16_t m_wNextBuffer = 0;
    char m_szPortNameFilter[kMaxFilterLength + 1] = {};

    // Ports Open holds while probing, by candidate index.
    std::array<winmm::HMIDIIN, kMaxDevices> m_hProbeIn{};
    std::array<winmm::HMIDIOUT, kMaxDevices> m_hProbeOut{};

    std::unique_ptr<DriverMemory> m_pMemory;
    // A block the driver kept after a time-out, and the port that holds it.
    winmm::HMIDIOUT m_hParkedOut = nullptr;
    winmm::MIDIHDR* m_pParkedHeader = nullptr;
};

}  // namespace orvex
