#include "sim/studio/Scenario.h"

#include "sim/studio/Toml.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "protocol/SerialNumber.h"
#include "protocol/UnitCodes.h"

namespace sim {

namespace {

constexpr uint32_t kDinBytesPerSecond = 3125;

class Reader {
public:
    Reader(std::string source, std::string* error) : source_(std::move(source)), error_(error) {}

    bool Fail(const toml::node* node, const std::string& key, const std::string& message) {
        unsigned line = node ? node->source().begin.line : 0;
        *error_ = source_ + ":" + std::to_string(line) + ": " + key + ": " + message;
        return false;
    }

    // Every key of a table must be one the format knows.
    bool OnlyKeys(const toml::table& table, const std::string& prefix, std::initializer_list<const char*> known) {
        for (const auto& [key, node] : table) {
            bool found = false;
            for (const char* k : known) found = found || key.str() == k;
            if (!found) return Fail(&node, prefix + std::string(key.str()), "unknown key");
        }
        return true;
    }

    bool Integer(const toml::table& table, const std::string& prefix, const char* key, int64_t low, int64_t high,
                 int64_t* out) {
        const toml::node* node = table.get(key);
        if (!node) return true;
        // Only an integer is read as one: toml++ 3.3.0 converts a float such as
        // 1e300 to an integer with a cast that is undefined when it does not fit.
        if (!node->is_integer()) return Fail(node, prefix + key, "must be a whole number");
        const int64_t value = node->as_integer()->get();
        if (value < low || value > high)
            return Fail(node, prefix + key, "must be from " + std::to_string(low) + " to " + std::to_string(high));
        *out = value;
        return true;
    }

    bool Milliseconds(const toml::table& table, const std::string& prefix, const char* key, uint64_t* micros) {
        const toml::node* node = table.get(key);
        if (!node) return true;
        if (!node->is_number()) return Fail(node, prefix + key, "must be a number of milliseconds");
        const double ms = node->is_integer() ? double(*node->value<int64_t>()) : *node->value<double>();
        // Written so that nan fails too: it compares false with everything.
        if (!(ms >= 0 && ms <= 600'000)) return Fail(node, prefix + key, "must be from 0 to 600000");
        *micros = static_cast<uint64_t>(ms * 1000.0 + 0.5);
        return true;
    }

    bool Text(const toml::table& table, const std::string& prefix, const char* key, std::string* out) {
        const toml::node* node = table.get(key);
        if (!node) return true;
        if (!node->is_string()) return Fail(node, prefix + key, "must be a text in quotes");
        *out = *node->value<std::string>();
        return true;
    }

    // "DDYYWWNNNN" as printed on a unit (device ID in hexadecimal), or "blank".
    bool Serial(const toml::table& table, const std::string& prefix, uint32_t* serial, const char* key = "serial") {
        std::string text;
        if (!Text(table, prefix, key, &text)) return false;
        const toml::node* node = table.get(key);
        if (!node) return true;
        if (text == "blank") {
            *serial = 0;
            return true;
        }
        unsigned id = 0, year = 0, week = 0, number = 0;
        int used = 0;
        const bool digits = text.size() == 10 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos &&
                            text.substr(2).find_first_not_of("0123456789") == std::string::npos;
        // Week 0 is what a blank serial reads as: the unit would report no number
        // at all, not the one written here.
        if (!digits || std::sscanf(text.c_str(), "%2x%2u%2u%4u%n", &id, &year, &week, &number, &used) != 4 ||
            used != 10 || week == 0 || !orvex::BuildSerialNumber(uint8_t(id), year, week, number, serial))
            return Fail(node, prefix + key,
                        "must be \"blank\" or ten digits DDYYWWNNNN (year up to 63, week 1 to 63, number up to 4095)");
        return true;
    }

    bool Pcb(const toml::table& table, const std::string& prefix, uint8_t* pcb) {
        const toml::node* node = table.get("pcb");
        if (!node) return true;
        const auto text = node->value<std::string>();
        if (node->is_string() && *text == "NC") {
            *pcb = 0;
            return true;
        }
        if (node->is_string() && text->size() == 1 && (*text)[0] >= 'A' && (*text)[0] <= 'O') {
            *pcb = uint8_t((*text)[0] - 64);
            return true;
        }
        return Fail(node, prefix + "pcb", "must be \"NC\" or a letter from \"A\" to \"O\"");
    }

private:
    std::string source_;
    std::string* error_;
};

struct Named {
    const char* name;
    uint8_t id;
    uint8_t variant;
};
constexpr Named kModels[] = {
    {"Orvex 16", orvex::kDeviceOrvex16, 0}, {"Orvex 8", orvex::kDeviceOrvex8, 0},
    {"Harken Relay 4x4", orvex::kDeviceHarkenRelay4x4, 0}, {"Tavi", orvex::kDeviceTavi, 0},
    {"Orvex(n)", orvex::kDeviceOrvex16, orvex::kDeviceOrvexN},
};
constexpr Named kCards[] = {
    {"VI-RIZO", orvex::kXSlotViRizo, 0}, {"DU-RA", orvex::kXSlotDuRa, 0}, {"VA-VOVUZ", orvex::kXSlotVaVovuz, 0},
    {"DI-ZO", orvex::kXSlotDiZo, 0},     {"VA-VO", orvex::kXSlotVaVo, 0}, {"DO-ZAZ", orvex::kXSlotDoZaz, 0},
};

template <size_t N>
bool Kind(Reader& r, const toml::table& table, const std::string& prefix, const char* key, const Named (&names)[N],
          uint8_t* id, uint8_t* variant) {
    const toml::node* node = table.get(key);
    if (!node) return true;
    if (node->is_integer()) {
        const int64_t v = *node->value<int64_t>();
        if (v < 1 || v > 255) return r.Fail(node, prefix + key, "must be from 1 to 255");
        *id = uint8_t(v);
        return true;
    }
    const auto text = node->value<std::string>();
    if (node->is_string())
        for (const Named& n : names)
            if (*text == n.name) {
                *id = n.id;
                if (variant) *variant = n.variant;
                return true;
            }
    std::string known;
    for (const Named& n : names) known += std::string(known.empty() ? "" : ", ") + "\"" + n.name + "\"";
    return r.Fail(node, prefix + key, "must be one of " + known + " or a number");
}

bool ReadFault(Reader& r, const toml::table& table, const std::string& prefix, FaultSpec* fault) {
    if (!r.OnlyKeys(table, prefix, {"kind", "at"})) return false;
    static constexpr std::pair<const char*, FaultSpec::Kind> kKinds[] = {
        {"fail-packet", FaultSpec::kFailPacket}, {"corrupt-read-back", FaultSpec::kCorruptReadBack},
        {"drop-answer", FaultSpec::kDropAnswer}, {"silent-after", FaultSpec::kSilentAfter},
        {"power-loss", FaultSpec::kPowerLoss}, {"download-fails", FaultSpec::kDownloadFails},
        {"clock-stuck", FaultSpec::kClockStuck}, {"never-locks", FaultSpec::kNeverLocks},
    };
    std::string kind;
    if (!r.Text(table, prefix, "kind", &kind)) return false;
    bool found = false;
    for (const auto& [name, k] : kKinds)
        if (kind == name) {
            fault->kind = k;
            found = true;
        }
    if (!found)
        return r.Fail(table.get("kind") ? table.get("kind") : &table, prefix + "kind",
                      "must be \"fail-packet\", \"corrupt-read-back\", \"drop-answer\", \"silent-after\", "
                      "\"power-loss\", \"download-fails\", \"clock-stuck\" or \"never-locks\"");
    int64_t at = 0;
    if (!r.Integer(table, prefix, "at", 0, 1'000'000, &at)) return false;
    fault->at = uint32_t(at);
    return true;
}

bool ReadCard(Reader& r, const toml::table& table, const std::string& prefix, CardSpec* card) {
    if (!r.OnlyKeys(table, prefix, {"kind", "firmware", "firmware_minor", "pcb", "serial", "label"})) return false;
    if (!table.get("kind")) return r.Fail(&table, prefix + "kind", "is missing");
    if (!Kind(r, table, prefix, "kind", kCards, &card->kind, nullptr)) return false;
    int64_t firmware = card->firmware, minor = card->firmwareMinor;
    if (!r.Integer(table, prefix, "firmware", 0, 255, &firmware) ||
        !r.Integer(table, prefix, "firmware_minor", 0, 255, &minor) || !r.Pcb(table, prefix, &card->pcb) ||
        !r.Serial(table, prefix, &card->serial) || !r.Serial(table, prefix, &card->label, "label"))
        return false;
    card->firmware = uint8_t(firmware);
    card->firmwareMinor = uint8_t(minor);
    return true;
}

constexpr Named kAdapters[] = {
    {"Tarsel", 36, 0}, {"Tarsel-R", 37, 0}, {"Tarsel-X", 40, 0}, {"Tarsel-XR", 41, 0}, {"Tarsel-XL", 48, 0},
};

bool ReadAdapter(Reader& r, const toml::table& table, const std::string& prefix, AdapterSpec* adapter) {
    if (!r.OnlyKeys(table, prefix, {"model", "firmware", "bus", "device", "slot", "lock_ms"})) return false;
    uint8_t model = uint8_t(adapter->model);
    int64_t firmware = adapter->firmware, bus = adapter->bus, device = adapter->device, slot = adapter->slot;
    if (!Kind(r, table, prefix, "model", kAdapters, &model, nullptr) ||
        !r.Integer(table, prefix, "firmware", 0, 65535, &firmware) || !r.Integer(table, prefix, "bus", 0, 255, &bus) ||
        !r.Integer(table, prefix, "device", 0, 31, &device) || !r.Integer(table, prefix, "slot", 0, 255, &slot) ||
        !r.Milliseconds(table, prefix, "lock_ms", &adapter->lockMicros))
        return false;
    adapter->model = model;
    adapter->firmware = uint16_t(firmware);
    adapter->bus = uint16_t(bus);
    adapter->device = uint16_t(device);
    adapter->slot = uint32_t(slot);
    return true;
}

bool ReadUnit(Reader& r, const toml::table& table, const std::string& prefix, UnitSpec* unit) {
    if (!r.OnlyKeys(table, prefix,
                    {"model", "link", "port", "firmware", "running_bank", "pcb", "serial", "label", "card", "fault",
                     "adapter"}))
        return false;
    if (const toml::node* node = table.get("link")) {
        const auto word = node->value<std::string>();
        if (node->is_string() && *word == "midi")
            unit->link = UnitSpec::kMidi;
        else if (node->is_string() && *word == "network")
            unit->link = UnitSpec::kNetwork;
        else if (node->is_string() && *word == "adapter")
            unit->link = UnitSpec::kAdapter;
        else
            return r.Fail(node, prefix + "link", "must be \"midi\", \"network\" or \"adapter\"");
    }
    if (const toml::node* node = table.get("adapter")) {
        if (!node->is_table()) return r.Fail(node, prefix + "adapter", "must be a table [unit.adapter]");
        if (!ReadAdapter(r, *node->as_table(), prefix + "adapter.", &unit->adapter)) return false;
    }
    if (!Kind(r, table, prefix, "model", kModels, &unit->deviceId, &unit->variant) ||
        !r.Text(table, prefix, "port", &unit->port) || !r.Pcb(table, prefix, &unit->pcb) ||
        !r.Serial(table, prefix, &unit->serial) || !r.Serial(table, prefix, &unit->label, "label"))
        return false;
    if (const toml::node* node = table.get("firmware")) {
        const toml::array* banks = node->as_array();
        bool ok = banks && banks->size() == 2;
        for (size_t b = 0; ok && b < 2; ++b) {
            const toml::value<int64_t>* v = banks->get(b)->as_integer();  // a float is no revision (see Integer)
            ok = v && v->get() >= 0 && v->get() <= 63;
            if (ok) unit->firmware[b] = uint8_t(v->get());
        }
        if (!ok) return r.Fail(node, prefix + "firmware", "must be two revisions from 0 to 63: [bank 1, bank 2]");
    }
    int64_t running = unit->runningBank + 1;
    if (!r.Integer(table, prefix, "running_bank", 1, 2, &running)) return false;
    unit->runningBank = uint8_t(running - 1);
    if (const toml::node* node = table.get("card")) {
        if (!node->is_table()) return r.Fail(node, prefix + "card", "must be a table [unit.card]");
        if (!ReadCard(r, *node->as_table(), prefix + "card.", &unit->card)) return false;
    }
    if (const toml::node* node = table.get("fault")) {
        if (!node->is_table()) return r.Fail(node, prefix + "fault", "must be a table [unit.fault]");
        if (!ReadFault(r, *node->as_table(), prefix + "fault.", &unit->fault)) return false;
    }
    return true;
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& source, Scenario* scenario, std::string* error) {
    Scenario s;
    toml::parse_result parsed = toml::parse(text, source);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        *error = source + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
        return false;
    }
    const toml::table& root = parsed.table();
    Reader r(source, error);
    if (!r.OnlyKeys(root, "", {"description", "link", "times", "unit"}) || !r.Text(root, "", "description", &s.description))
        return false;

    if (const toml::node* node = root.get("link")) {
        if (!node->is_table()) return r.Fail(node, "link", "must be a table [link]");
        const toml::table& link = *node->as_table();
        if (!r.OnlyKeys(link, "link.", {"pacing", "latency_ms"}) ||
            !r.Milliseconds(link, "link.", "latency_ms", &s.latencyMicros))
            return false;
        if (const toml::node* pacing = link.get("pacing")) {
            const auto word = pacing->value<std::string>();
            if (pacing->is_string() && *word == "unpaced") {
                s.bytesPerSecond = 0;
            } else if (pacing->is_string() && *word == "din") {
                s.bytesPerSecond = kDinBytesPerSecond;
            } else {
                int64_t rate = 0;
                if (!pacing->is_integer() || !r.Integer(link, "link.", "pacing", 1, 10'000'000, &rate))
                    return r.Fail(pacing, "link.pacing", "must be \"unpaced\", \"din\" or bytes per second");
                s.bytesPerSecond = uint32_t(rate);
            }
        }
    }
    if (const toml::node* node = root.get("times")) {
        if (!node->is_table()) return r.Fail(node, "times", "must be a table [times]");
        const toml::table& times = *node->as_table();
        if (!r.OnlyKeys(times, "times.",
                        {"erase_ms", "packet_ms", "serial_store_ms", "report_interval_ms", "usb_detach_ms",
                         "usb_block_ms", "usb_manifest_ms", "usb_reattach_ms"}) ||
            !r.Milliseconds(times, "times.", "usb_detach_ms", &s.usbDetachMicros) ||
            !r.Milliseconds(times, "times.", "usb_block_ms", &s.usbBlockMicros) ||
            !r.Milliseconds(times, "times.", "usb_manifest_ms", &s.usbManifestMicros) ||
            !r.Milliseconds(times, "times.", "usb_reattach_ms", &s.usbReattachMicros) ||
            !r.Milliseconds(times, "times.", "erase_ms", &s.eraseMicros) ||
            !r.Milliseconds(times, "times.", "packet_ms", &s.packetMicros) ||
            !r.Milliseconds(times, "times.", "serial_store_ms", &s.serialStoreMicros) ||
            !r.Milliseconds(times, "times.", "report_interval_ms", &s.reportIntervalMicros))
            return false;
        if (s.reportIntervalMicros == 0)
            return r.Fail(times.get("report_interval_ms"), "times.report_interval_ms", "must be above 0");
    }
    const toml::node* units = root.get("unit");
    if (!units) return r.Fail(&root, "unit", "is missing: a studio needs at least one [[unit]]");
    const toml::array* list = units->as_array();
    if (!list || list->empty() || !list->is_array_of_tables())
        return r.Fail(units, "unit", "must be one or more [[unit]] tables");
    if (list->size() > 64) return r.Fail(units, "unit", "a studio holds at most 64 units");
    for (size_t i = 0; i < list->size(); ++i) {
        UnitSpec unit;
        unit.port = "Studio Port " + std::to_string(i + 1);
        const std::string prefix = "unit[" + std::to_string(i + 1) + "].";
        if (!ReadUnit(r, *list->get(i)->as_table(), prefix, &unit)) return false;
        if (unit.link == UnitSpec::kNetwork && unit.card.kind != orvex::kXSlotVaVovuz)
            return r.Fail(list->get(i), prefix + "link", "a unit on the network needs a VA-VOVUZ card: [unit.card] kind = \"VA-VOVUZ\"");
        s.units.push_back(unit);
    }
    *scenario = std::move(s);
    return true;
}

bool LoadScenario(const std::string& nameOrPath, Scenario* scenario, std::string* error) {
    const std::string name = nameOrPath.empty() ? "default" : nameOrPath;
    for (unsigned i = 0; i < kBuiltInScenarioCount; ++i) {
        if (name != kBuiltInScenarios[i].name) continue;
        if (!ParseScenario(kBuiltInScenarios[i].text, name + ".toml", scenario, error)) return false;
        scenario->name = name;
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        std::string known;
        for (const std::string& n : BuiltInScenarioNames()) known += (known.empty() ? "" : ", ") + n;
        *error = name + ": no such file, and no built-in scenario of that name (built in: " + known + ")";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseScenario(text.str(), name, scenario, error)) return false;
    scenario->name = name;
    return true;
}

std::vector<std::string> BuiltInScenarioNames() {
    std::vector<std::string> names;
    for (unsigned i = 0; i < kBuiltInScenarioCount; ++i) names.emplace_back(kBuiltInScenarios[i].name);
    return names;
}

}  // namespace sim
