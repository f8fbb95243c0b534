#pragma once
// A unit-control object that reports a fixed set of connections with their
// identity, for discovery and refresh tests that need no link.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/NullMixerInterface.h"

// 26 12 15 0123: an Orvex 16 made in week 15 of 2012.
inline constexpr uint32_t kFakeOrvex16Serial = 0x26C0F07B;

struct FakeConnection {
    uint8_t deviceID = 38;
    std::string description = "Orvex 16 connected via Port 1";
    uint8_t xslot = 0;
    uint16_t type = orvex::kConnectionMidi;
    uint8_t firmware = 28;
    uint8_t xslotMode = 0;
    bool describeFails = false;
    uint32_t serial = kFakeOrvex16Serial;
    uint8_t pcb = 2;
    uint8_t alternate = 28;
    uint8_t status = 0;  // programming status: bit 7 the running bank
    uint8_t xslotFirmware = 0;
    uint8_t xslotPcb = 0;
    uint32_t xslotSerial = 0;
    uint32_t adapterModel = 0;     // adapter-line "Device ID"
    uint32_t adapterFirmware = 0;  // adapter-line "Firmware Rev"
};

class FakeUnits : public NullMixerInterface {
public:
    std::vector<FakeConnection> connections;
    uint32_t openStatus = orvex::kStatusSuccess;
    uint32_t prepareStatus = orvex::kStatusSuccess;
    uint32_t writeSerialStatus = orvex::kStatusSuccess;
    uint16_t current = orvex::kNoConnection;
    int* closes = nullptr;
    std::vector<uint32_t> serialsWritten, cardSerialsWritten;

    explicit FakeUnits(std::vector<FakeConnection> c = {}) : connections(std::move(c)) {}
    uint32_t Open() override { return openStatus; }
    uint32_t Close() override {
        if (closes) ++*closes;
        return 0;
    }
    uint32_t GetNumConnections(uint16_t* count) override {
        *count = static_cast<uint16_t>(connections.size());
        return 0;
    }
    uint32_t SelectConnection(uint16_t c) override {
        if (c >= connections.size()) return 1;
        current = c;
        return 0;
    }
    FakeConnection& Cur() { return connections.at(current); }
    uint32_t GetDeviceID(uint8_t* id) override { return *id = Cur().deviceID, 0; }
    uint32_t GetConnectionDescription(uint16_t c, char* text, uint32_t size, uint8_t* id) override {
        if (connections.at(c).describeFails) return 1;
        std::snprintf(text, size, "%s", connections.at(c).description.c_str());
        *id = connections.at(c).deviceID;
        return 0;
    }
    uint32_t GetXSlotDeviceID(uint8_t* id) override { return *id = Cur().xslot, 0; }
    uint32_t GetConnectionType(uint16_t* type) override { return *type = Cur().type, 0; }
    uint32_t GetFirmwareRevision(uint8_t* revision) override { return *revision = Cur().firmware, 0; }
    uint32_t GetXSlotMode(uint8_t* mode) override { return *mode = Cur().xslotMode, 0; }
    uint32_t PrepareForProgramming() override { return prepareStatus; }
    uint32_t GetSerialNumber(uint32_t* serial) override { return *serial = Cur().serial, 0; }
    uint32_t GetPCBRevision(uint8_t* pcb) override { return *pcb = Cur().pcb, 0; }
    uint32_t GetAlternateFirmwareRevision(uint8_t* revision) override { return *revision = Cur().alternate, 0; }
    uint32_t GetProgrammingStatus(uint8_t* status) override { return *status = Cur().status, 0; }
    uint32_t GetXSlotSerialNumber(uint32_t* serial) override { return *serial = Cur().xslotSerial, 0; }
    uint32_t GetXSlotFirmwareRevision(uint8_t* revision, uint8_t* second) override {
        *revision = Cur().xslotFirmware;
        if (second) *second = 0;
        return 0;
    }
    uint32_t GetXSlotPCBRevision(uint8_t* pcb) override { return *pcb = Cur().xslotPcb, 0; }
    uint32_t WaitForResponse(uint32_t) override { return 0; }
    uint32_t WriteSerialNumber(uint32_t serial) override {
        serialsWritten.push_back(serial);
        if (writeSerialStatus == 0) Cur().serial = serial;
        return writeSerialStatus;
    }
    uint32_t WriteXSlotSerialNumber(uint32_t serial) override {
        cardSerialsWritten.push_back(serial);
        if (writeSerialStatus == 0) Cur().xslotSerial = serial;
        return writeSerialStatus;
    }
};

// The updater's reading of the adapter-line controls, served by a FakeUnits.
inline bool FakeAdapterControl(orvex::COrvexMixerInterface& unit, const char* name, uint32_t* value) {
    auto* fake = dynamic_cast<FakeUnits*>(&unit);
    if (!fake) return false;
    const std::string control = name;
    if (control == "Device ID") *value = fake->Cur().adapterModel;
    else if (control == "Firmware Rev") *value = fake->Cur().adapterFirmware;
    else return false;
    return true;
}
