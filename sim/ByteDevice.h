#pragma once
// A device at the far end of a virtual cable (MIDI pair, UDP peer): it takes
// the bytes that reach it and hands back what it sends, both at a given time
// of the clock it is driven by (microseconds).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class IByteDevice {
public:
    virtual ~IByteDevice() = default;
    // Bytes that arrived at the device at time nowMicros (any split: partial
    // messages, several messages in one call).
    virtual void Receive(const uint8_t* bytes, size_t size, uint64_t nowMicros) = 0;
    // Appends what the device has sent up to nowMicros; it also lets the device
    // finish timed work (erase, programming) that is due by then.
    virtual void Transmit(uint64_t nowMicros, std::vector<uint8_t>& out) = 0;
};

}  // namespace sim
