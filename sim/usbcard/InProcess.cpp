// The emulated USB audio driver served to CXCUSB from inside the program.
#include "sim/usbcard/InProcess.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

#include "protocol/UnitCodes.h"
#include "sim/usbcard/UsbAudioEntries.h"

namespace sim::usbcard {

namespace {
bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && strcasecmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}
}  // namespace

Config StudioConfig(const std::vector<StudioCard>& cards) {
    Config config;
    config.cardCount = static_cast<uint32_t>(std::min<size_t>(cards.size(), kMaxCards));
    for (uint32_t i = 0; i < config.cardCount; ++i) {
        Card& card = config.cards[i];
        card.major = cards[i].major;
        card.minor = cards[i].minor;
        card.streamsActive = cards[i].streamsActive ? 1 : 0;
        std::snprintf(card.serialNumber, sizeof card.serialNumber, "DZ%06u", static_cast<unsigned>(i + 1));
    }
    return config;
}

OrvexUnit::CardConfig DoZazSlot(const StudioCard& card) {
    OrvexUnit::CardConfig slot;
    slot.id = orvex::kXSlotDoZaz;
    slot.revision = card.major;
    slot.revision2 = card.minor;
    return slot;
}

InProcessDriver::InProcessDriver(const Config& config) : InProcessDriver(config, Options{}) {}

InProcessDriver::InProcessDriver(const Config& config, Options options)
    : options_(std::move(options)), handles_(options_.locations.size()) {
    Driver& driver = TheDriver();
    driver.Configure(config);
    driver.SetClock(&plat::ClockMicros);
    driver.onCommit = [this](uint32_t card, uint8_t major, uint8_t minor) {
        for (auto& [index, unit] : units_)
            if (index == card) unit->ReplaceCardFirmware(major, minor);
    };
    source_.load = [this](const std::string& path) { return Load(path); };
    source_.resolve = [this](plat::LibraryHandle library, const char* name) { return Resolve(library, name); };
    source_.release = [this](plat::LibraryHandle library) { Release(library); };
    orvex::CXCUSB::SetLibrarySource(&source_);
}

InProcessDriver::~InProcessDriver() {
    orvex::CXCUSB::SetLibrarySource(nullptr);
    TheDriver().onCommit = nullptr;
    TheDriver().SetClock(nullptr);
}

Card InProcessDriver::CardState(uint32_t index) {
    Card card;
    TheDriver().GetCard(index, &card);
    return card;
}

void InProcessDriver::AttachUnit(uint32_t index, OrvexUnit& unit) { units_.emplace_back(index, &unit); }

plat::LibraryHandle InProcessDriver::Load(const std::string& path) {
    attempts_.push_back(path);
    for (size_t i = 0; i < options_.locations.size(); ++i) {
        if (!EndsWithNoCase(path, options_.locations[i])) continue;
        // A library loaded afresh starts with nothing found and nothing open.
        if (References() == 0) TheDriver().ResetSession();
        ++loads_;
        return &handles_[i];
    }
    return nullptr;
}

plat::ProcAddress InProcessDriver::Resolve(plat::LibraryHandle library, const char* name) {
    const auto* handle = static_cast<const uint8_t*>(library);
    if (handles_.empty() || handle < handles_.data() || handle >= handles_.data() + handles_.size()) return nullptr;
    const std::string wanted = name ? name : "";
    if (std::find(options_.missingExports.begin(), options_.missingExports.end(), wanted) !=
        options_.missingExports.end())
        return nullptr;
    for (const entry::NamedEntry& e : entry::Entries()) {
        if (wanted == e.name) {
            resolved_.push_back(wanted);
            return e.address;
        }
    }
    return nullptr;
}

void InProcessDriver::Release(plat::LibraryHandle library) {
    const auto* handle = static_cast<const uint8_t*>(library);
    if (handle < handles_.data() || handle >= handles_.data() + handles_.size() || References() == 0) return;
    ++releases_;
}

}  // namespace sim::usbcard
