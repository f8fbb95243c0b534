#pragma once
// COrvexMixer against the emulated adapter driver: converters, cards, the
// message boxes it shows, its log, and a device-request table in front of the
// driver's that can script or freeze the response counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter/OrvexMixer.h"
#include "common/Log.h"
#include "platform/Platform.h"
#include "sim/OrvexUnit.h"
#include "sim/adapter/AdapterStudio.h"
#include "tests/support/TempDir.h"

struct Box {
    std::string text, caption;
    unsigned type;
};

// Readings of the response counter handed out before the driver's own; an
// empty optional is a failed read. Once `freeze` answers true the counter
// stops where it is.
struct CounterScript {
    std::deque<std::optional<uint32_t>> readings;
    std::function<bool()> freeze;
    bool frozen = false;
    uint32_t frozenValue = 0;
    uint32_t reads = 0;
};

inline CounterScript*& ActiveScript() {
    static CounterScript* script = nullptr;
    return script;
}

inline bool ScriptedIoControl(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                              uint32_t outSize, uint32_t* returned) {
    const adapter::DeviceApi& driver = sim::PelkDriver::Devices();
    CounterScript* s = ActiveScript();
    if (!s || code != adapter::kIoctlResponseCounter) return driver.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
    ++s->reads;
    if (!s->readings.empty()) {
        std::optional<uint32_t> r = s->readings.front();
        s->readings.pop_front();
        if (!r) return false;
        std::memcpy(out, &*r, 4);
        return true;
    }
    if (s->frozen || (s->freeze && s->freeze())) {
        if (!s->frozen) {
            s->frozen = true;
            if (!driver.DeviceIoControl(device, code, in, inSize, &s->frozenValue, 4, returned)) return false;
        }
        std::memcpy(out, &s->frozenValue, 4);
        return true;
    }
    return driver.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
}

inline plat::FileHandle ScriptedCreateFile(const std::string& path, uint32_t access, plat::FileShare share,
                                           plat::FileDisposition disposition, uint32_t attributes) {
    return sim::PelkDriver::Devices().CreateFile(path, access, share, disposition, attributes);
}
inline bool ScriptedCloseHandle(plat::FileHandle device) { return sim::PelkDriver::Devices().CloseHandle(device); }
inline const adapter::DeviceApi kScriptedDevices{ScriptedCreateFile, ScriptedIoControl, ScriptedCloseHandle};

class AdapterFixture : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};  // the log lands in the scratch directory
    std::vector<std::unique_ptr<sim::OrvexUnit>> units;
    std::unique_ptr<sim::AdapterStudio> studio;
    std::vector<Box> boxes;
    CounterScript script;

    void SetUp() override {
        plat::UseVirtualClock(true);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return plat::DefaultAnswer(type);
        });
    }
    void TearDown() override {
        ActiveScript() = nullptr;
        studio.reset();
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
    }

    static sim::OrvexUnit::Config Converter(uint8_t deviceId = 38) {
        sim::OrvexUnit::Config c;
        c.deviceId = deviceId;
        c.revisionOffset = 0x110;
        c.bankRevision = {28, 28};
        c.serial = (uint32_t{deviceId} << 24) | (12u << 20) | (30u << 12) | 123u;
        return c;
    }
    static sim::AdapterCard::Config Card(uint16_t model = adapter::kModelTarselX, uint32_t slot = 3) {
        sim::AdapterCard::Config c;
        c.model = model;
        c.slot = slot;
        return c;
    }
    sim::OrvexUnit* AddUnit(const sim::OrvexUnit::Config& config) {
        units.push_back(std::make_unique<sim::OrvexUnit>(config));
        return units.back().get();
    }
    // One card per entry, cabled to a converter of that configuration.
    void Start(const std::vector<std::pair<sim::AdapterCard::Config, std::optional<sim::OrvexUnit::Config>>>& cards) {
        studio.reset();  // one studio at a time: the old one puts the tables back as it goes
        std::vector<sim::AdapterCardSpec> specs;
        for (const auto& [card, unit] : cards) specs.push_back({card, unit ? AddUnit(*unit) : nullptr});
        studio = std::make_unique<sim::AdapterStudio>(specs);
    }
    // Counter scripts and freezes act on the device opened after this.
    void UseScript() {
        ActiveScript() = &script;
        orvex::COrvexMixer::SetDeviceApi(&kScriptedDevices);
    }
    std::unique_ptr<orvex::COrvexMixer> OpenMixer(uint16_t* count = nullptr) {
        auto mixer = std::make_unique<orvex::COrvexMixer>();
        EXPECT_EQ(mixer->Open(), orvex::kStatusSuccess);
        uint16_t n = 0;
        EXPECT_EQ(mixer->GetNumConnections(&n), orvex::kStatusSuccess);
        if (count) *count = n;
        return mixer;
    }
    // The log with plain line ends (Windows writes it in text mode).
    std::string Log() {
        orvex::LogClose();
        std::string text = ReadFileText(dir / "OrvexUpdate.log");
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const Box& b : boxes) texts.push_back(b.text);
        return texts;
    }
    sim::AdapterCard& CardAt(uint32_t device) { return studio->Card(device); }
    sim::OrvexUnit& UnitAt(size_t i) { return *units[i]; }
};
