#pragma once
// A unit-control object that reports a fixed set of connections, for discovery tests.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/NullMixerInterface.h"

struct FakeConnection {
    uint8_t deviceID = 38;
    std::string description = "Orvex 16 connected via Port 1";
    uint8_t xslot = 0;
    uint16_t type = orvex::kConnectionMidi;
    uint8_t firmware = 28;
    uint8_t xslotMode = 0;
    bool describeFails = false;
};

class FakeUnits : public NullMixerInterface {
public:
    std::vector<FakeConnection> connections;
    uint32_t openStatus = orvex::kStatusSuccess;
    uint16_t current = orvex::kNoConnection;
    int* closes = nullptr;

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
    const FakeConnection& Cur() const { return connections.at(current); }
    uint32_t GetDeviceID(uint8_t* id) override {
        *id = Cur().deviceID;
        return 0;
    }
    uint32_t GetConnectionDescription(uint16_t c, char* text, uint32_t size, uint8_t* id) override {
        if (connections.at(c).describeFails) return 1;
        std::snprintf(text, size, "%s", connections.at(c).description.c_str());
        *id = connections.at(c).deviceID;
        return 0;
    }
    uint32_t GetXSlotDeviceID(uint8_t* id) override {
        *id = Cur().xslot;
        return 0;
    }
    uint32_t GetConnectionType(uint16_t* type) override {
        *type = Cur().type;
        return 0;
    }
    uint32_t GetFirmwareRevision(uint8_t* revision) override {
        *revision = Cur().firmware;
        return 0;
    }
    uint32_t GetXSlotMode(uint8_t* mode) override {
        *mode = Cur().xslotMode;
        return 0;
    }
};
