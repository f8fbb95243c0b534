#include "sim/studio/Studio.h"

#include <cstdio>

#include "common/Log.h"
#include "platform/Platform.h"
#include "protocol/SerialNumber.h"
#include "protocol/UnitCodes.h"
#include "transport/OrvexMIDI.h"

namespace sim {

namespace {

std::string SerialText(uint32_t serial, uint8_t deviceID) {
    if (orvex::SerialWeek(serial) == 0) return "blank";
    char text[orvex::kSerialTextSize] = {};
    orvex::FormatSerialNumber((serial & 0x00FFFFFF) | (uint32_t(deviceID) << 24), text, sizeof text);
    return text;
}

// The serial word in registers base..base+3 (week, year, number low, number high).
uint32_t StoredSerial(const OrvexUnit& unit, uint16_t base) {
    const uint32_t week = unit.Register(base) & 0x3F, yearBits = unit.Register(base + 1);
    const uint32_t number = unit.Register(base + 2) | ((unit.Register(base + 3) & 0x0F) << 8);
    return ((yearBits & 0x0F) << 20) | (((yearBits >> 4) & 0x03) << 18) | (week << 12) | number;
}

std::string PcbText(uint8_t pcb) { return pcb == 0 ? "NC" : std::string(1, char(pcb + 64)); }

std::string CardVersion(uint8_t revision, uint8_t minor) {
    char text[16];
    if (minor != 0)
        std::snprintf(text, sizeof text, "%u.%u", unsigned{revision}, unsigned{minor});
    else
        std::snprintf(text, sizeof text, "%u", unsigned{revision});
    return text;
}

}  // namespace

OrvexUnit::Config UnitConfig(const Scenario& scenario, const UnitSpec& unit) {
    OrvexUnit::Config c;
    c.deviceId = unit.deviceId;
    c.variant = unit.variant;
    c.pcbRevision = unit.pcb;
    c.bankRevision = unit.firmware;
    c.runningBank = unit.runningBank;
    c.serial = unit.serial;
    c.card.id = unit.card.kind;
    c.card.revision = unit.card.firmware;
    c.card.revision2 = unit.card.firmwareMinor;
    c.card.pcb = unit.card.pcb;
    c.card.serial = unit.card.serial;
    c.revisionOffset = Studio::kRevisionOffset;
    c.eraseMicros = scenario.eraseMicros;
    c.packetMicros = scenario.packetMicros;
    c.serialStoreMicros = scenario.serialStoreMicros;
    c.reportIntervalMicros = scenario.reportIntervalMicros;
    return c;
}

Studio::Studio(const Scenario& scenario) : scenario_(scenario) {
    for (const UnitSpec& plan : scenario_.units) {
        Placed placed;
        placed.plan = plan;
        placed.unit = std::make_unique<OrvexUnit>(UnitConfig(scenario_, plan));
        switch (plan.fault.kind) {
        case FaultSpec::kFailPacket: placed.unit->FailPacket(plan.fault.at); break;
        case FaultSpec::kCorruptReadBack: placed.unit->CorruptReadBack(plan.fault.at); break;
        case FaultSpec::kDropAnswer: placed.unit->DropResponse(plan.fault.at); break;
        default: break;
        }
        if (plan.link == UnitSpec::kNetwork) {
            int n = 0;
            for (const Placed& other : units_) n += other.networkIndex >= 0;
            placed.networkIndex = n;
        } else if (plan.link == UnitSpec::kAdapter) {
            int n = 0;
            for (const Placed& other : units_) n += other.adapterIndex >= 0;
            placed.adapterIndex = n;
        } else {
            placed.outPort = midi_.AddOutPort(plan.port + " Out");
            placed.inPort = midi_.AddInPort(plan.port + " In");
            midi_.Connect(placed.outPort, placed.inPort, placed.unit.get());
            for (int port : {placed.outPort, placed.inPort}) {
                midi_.SetByteRate(port, scenario_.bytesPerSecond);
                midi_.SetLatency(port, scenario_.latencyMicros);
            }
        }
        placed.bootedRevision = placed.unit->RunningRevision(false);
        placed.bootedCardRevision = placed.unit->RunningRevision(true);
        placed.bootedCardMinor = placed.unit->Register(20);
        units_.push_back(std::move(placed));
    }
}

Studio::~Studio() { Uninstall(); }

std::string Studio::Name(const Placed& placed) const {
    return std::string(orvex::ModelNameForDeviceID(placed.plan.variant == orvex::kDeviceOrvexN ? orvex::kDeviceOrvexN
                                                                                               : placed.plan.deviceId)) +
           (placed.networkIndex >= 0   ? " on the network (" + NetworkStudio::DeviceName(size_t(placed.networkIndex)) + ")"
            : placed.adapterIndex >= 0 ? " on adapter card " + std::to_string(placed.adapterIndex + 1)
                                       : " on \"" + placed.plan.port + "\"");
}

void Studio::Install() {
    if (installed_) return;
    installed_ = true;
    midi_.Install();
    orvex::COrvexMIDI::SetWinMMApi(&VirtualMidi::Api());
    // Device N of the USB driver is the DO-ZAZ of the unit on MIDI connection N.
    std::vector<usbcard::StudioCard> cards;
    std::vector<OrvexUnit*> networked;
    std::vector<AdapterCardSpec> adapters;
    for (const Placed& p : units_) {
        if (p.plan.link == UnitSpec::kNetwork) networked.push_back(p.unit.get());
        if (p.plan.link == UnitSpec::kAdapter) {
            AdapterCardSpec a;
            a.card.model = p.plan.adapter.model;
            a.card.firmware = p.plan.adapter.firmware;
            a.card.bus = p.plan.adapter.bus;
            a.card.device = p.plan.adapter.device;
            a.card.slot = p.plan.adapter.slot;
            a.card.lockMicros = p.plan.adapter.lockMicros;
            a.card.pollMicros = p.plan.adapter.pollMicros;
            a.unit = p.unit.get();
            adapters.push_back(a);
        }
        if (p.plan.link == UnitSpec::kMidi) cards.push_back({p.plan.card.firmware, p.plan.card.firmwareMinor, false});
    }
    // Every driver the program binds is the studio's, even with no unit behind it.
    {
        adapter_ = std::make_unique<AdapterStudio>(adapters);
        for (const Placed& p : units_) {
            if (p.adapterIndex < 0) continue;
            AdapterCard::Faults& f = adapter_->Card(uint32_t(p.adapterIndex)).Fault();
            f.clockStuck = p.plan.fault.kind == FaultSpec::kClockStuck;
            f.neverLocks = p.plan.fault.kind == FaultSpec::kNeverLocks;
        }
    }
    usbcard::Config usb = usbcard::StudioConfig(cards);
    usb.timing.detachMicros = scenario_.usbDetachMicros;
    usb.timing.blockMicros = scenario_.usbBlockMicros;
    usb.timing.manifestMicros = scenario_.usbManifestMicros;
    usb.timing.reattachMicros = scenario_.usbReattachMicros;
    for (const Placed& p : units_)
        if (p.plan.fault.kind == FaultSpec::kDownloadFails) {
            usb.fault = usbcard::kFaultFailDuringDownload;
            usb.faultAtBytes = p.plan.fault.at;
        }
    usb_ = std::make_unique<usbcard::InProcessDriver>(usb);
    for (size_t i = 0, midi = 0; i < units_.size(); ++i) {
        if (units_[i].plan.link != UnitSpec::kMidi) continue;
        if (units_[i].plan.card.kind == orvex::kXSlotDoZaz) usb_->AttachUnit(uint32_t(midi), *units_[i].unit);
        ++midi;
    }
    std::string why;
    if (!network_.Start(networked, &why))
        OrvexLog("Simulated studio: the network cards cannot start: %s", why.c_str());
    plat::SetIdleHook([this] { Pump(); });

    OrvexLog("Simulated studio \"%s\": %s", scenario_.name.c_str(), scenario_.description.c_str());
    if (scenario_.bytesPerSecond)
        OrvexLog("Simulated studio: MIDI cables carry %u bytes/s each way", scenario_.bytesPerSecond);
    else
        OrvexLog("Simulated studio: MIDI cables unpaced");
    for (const Placed& p : units_) {
        const UnitSpec& s = p.plan;
        OrvexLog("Simulated studio: %s: bank 1 firmware %u%s, bank 2 firmware %u%s, PCB %s, serial %s", Name(p).c_str(),
                 unsigned{s.firmware[0]}, s.runningBank == 0 ? " (running)" : "", unsigned{s.firmware[1]},
                 s.runningBank == 1 ? " (running)" : "", PcbText(s.pcb).c_str(),
                 SerialText(s.serial, s.deviceId).c_str());
        if (s.link == UnitSpec::kNetwork)
            OrvexLog("Simulated studio: %s: on the network through its VA-VOVUZ card", Name(p).c_str());
        if (s.link == UnitSpec::kAdapter)
            OrvexLog("Simulated studio: %s: adapter card model %u, firmware %u, bus %u device %u slot %u",
                     Name(p).c_str(), unsigned{s.adapter.model}, unsigned{s.adapter.firmware},
                     unsigned{s.adapter.bus}, unsigned{s.adapter.device}, s.adapter.slot);
        if (s.card.kind)
            OrvexLog("Simulated studio: %s: %s card, firmware %s, PCB %s, serial %s", Name(p).c_str(),
                     orvex::XSlotCardName(s.card.kind), CardVersion(s.card.firmware, s.card.firmwareMinor).c_str(),
                     PcbText(s.card.pcb).c_str(), SerialText(s.card.serial, s.card.kind).c_str());
    }
}

size_t Studio::UnitOfConnection(uint16_t connection) const {
    // The program lists adapter units when there are any, else MIDI units, else the network's.
    bool midi = false, adapter = false;
    for (const Placed& p : units_) {
        midi = midi || p.plan.link == UnitSpec::kMidi;
        adapter = adapter || p.plan.link == UnitSpec::kAdapter;
    }
    const UnitSpec::Link listed = adapter ? UnitSpec::kAdapter : midi ? UnitSpec::kMidi : UnitSpec::kNetwork;
    for (size_t i = 0, n = 0; i < units_.size(); ++i) {
        if (units_[i].plan.link != listed) continue;
        if (n++ == connection) return i;
    }
    return units_.size();
}

std::string Studio::SerialLabel(size_t i, bool card) const {
    if (i >= units_.size()) return {};
    const UnitSpec& s = units_[i].plan;
    const uint8_t id = card ? s.card.kind : s.deviceId;
    uint32_t serial = card ? s.card.label : s.label;
    if (serial == 0) serial = card ? s.card.serial : s.serial;
    if (orvex::SerialWeek(serial) == 0 || orvex::SerialYear(serial) == 0 || orvex::SerialUnitNumber(serial) == 0)
        orvex::BuildSerialNumber(id, 12, 1, uint32_t(i + 1), &serial);
    char text[orvex::kSerialTextSize] = {};
    orvex::FormatSerialNumber((serial & 0x00FFFFFF) | (uint32_t(id) << 24), text, sizeof text);
    return text;
}

void Studio::Uninstall() {
    if (!installed_) return;
    installed_ = false;
    adapter_.reset();
    network_.Stop();
    usb_.reset();
    plat::SetIdleHook(nullptr);
    orvex::COrvexMIDI::SetWinMMApi(nullptr);
}

void Studio::Pump() {
    midi_.Pump();
    network_.Pump();
    const uint64_t now = plat::ClockMicros();
    for (Placed& p : units_) {
        const FaultSpec& fault = p.plan.fault;
        if (fault.kind == FaultSpec::kSilentAfter && p.unit->StatusRequestsSeen() >= fault.at) p.unit->SetSilent(true);
        if (fault.kind == FaultSpec::kPowerLoss && !p.powerLost && p.unit->LastUpdate().started &&
            p.unit->LastUpdate().written >= fault.at) {
            p.powerLost = true;
            OrvexLog("Simulated studio: %s loses power after packet %u", Name(p).c_str(), fault.at);
            p.unit->PowerCycle(now);
        }
    }
}

void Studio::PowerCycleAndReport() {
    Pump();
    const uint64_t now = plat::ClockMicros();
    summaries_.clear();
    for (Placed& p : units_) {
        const OrvexUnit::UpdateRecord record = p.unit->LastUpdate();
        p.unit->PowerCycle(now);
        const uint8_t revision = p.unit->RunningRevision(false);
        OrvexLog("Simulated studio: power cycle: %s boots bank %u, firmware %u, serial %s", Name(p).c_str(),
                 unsigned{p.unit->RunningBank()} + 1, unsigned{revision},
                 SerialText(StoredSerial(*p.unit, 12), p.plan.deviceId).c_str());
        const uint8_t cardRevision = p.unit->RunningRevision(true), cardMinor = p.unit->Register(20);
        if (p.plan.card.kind)
            OrvexLog("Simulated studio: power cycle: %s: its %s card boots firmware %s", Name(p).c_str(),
                     orvex::XSlotCardName(p.plan.card.kind), CardVersion(cardRevision, cardMinor).c_str());
        if (!record.started) continue;
        char line[400];
        const std::string before = record.card ? CardVersion(p.bootedCardRevision, p.bootedCardMinor)
                                               : std::to_string(p.bootedRevision);
        const std::string after = record.card ? CardVersion(cardRevision, cardMinor) : std::to_string(revision);
        const std::string target = record.card ? std::string(orvex::XSlotCardName(p.plan.card.kind)) + " in " + Name(p)
                                               : Name(p);
        if (record.completed)
            std::snprintf(line, sizeof line, "%s, firmware %s -> %s, %u packets written and %u verified, %.1f s",
                          target.c_str(), before.c_str(), after.c_str(), record.written, record.readBack,
                          double(record.completeMicros - record.eraseMicros) / 1e6);
        else
            std::snprintf(line, sizeof line,
                          "%s, update not completed (%u packets written, %u read back): still firmware %s",
                          target.c_str(), record.written, record.readBack, after.c_str());
        summaries_.push_back(line);
        OrvexLog("Simulated studio: summary: %s", line);
        p.bootedRevision = revision;
        p.bootedCardRevision = cardRevision;
        p.bootedCardMinor = cardMinor;
    }
}

}  // namespace sim
