#pragma once
// A byte-block transport under the remote unit control: it finds the units it
// can reach when opened, offers each as a numbered connection, and moves whole
// blocks through the selected one. It does not frame or check messages.
#include <cstdint>

namespace orvex {

// Transport status words.
inline constexpr uint16_t kTransportOk = 0;
inline constexpr uint16_t kTransportFailed = 1;
// Current-connection value when none is selected.
inline constexpr uint16_t kTransportNoConnection = 0xFFFF;

// Callers depend on the order of these operations; new ones go at the end.
class COrvexInterface {
public:
    virtual ~COrvexInterface() = default;
    virtual uint16_t Open() = 0;
    virtual uint16_t Close() = 0;  // always kTransportOk
    // Applied by the next Open; an empty text admits every port.
    virtual void SetPortNameFilter(const char* text) = 0;
    virtual bool IsOpen() = 0;
    virtual uint16_t GetNumConnections(uint16_t* count) = 0;
    virtual uint16_t SelectConnection(uint16_t number) = 0;
    virtual uint16_t GetCurrentConnection(uint16_t* number) = 0;
    virtual uint16_t GetConnectionDescription(uint16_t number, char* text, uint32_t size) = 0;
    // Only a transport that can address an expansion card directly offers this.
    virtual uint16_t SetSlotTarget(bool /*on*/) { return kTransportFailed; }
    virtual uint16_t Write(const uint8_t* bytes, int32_t length) = 0;
    // Hands over what has arrived; never waits. received is 0 when nothing is waiting.
    virtual uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) = 0;
};

}  // namespace orvex
