#include "sim/adapter/AdapterCard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/UnitCodes.h"

namespace sim {

using namespace mixer;
namespace st = adapter::status;

namespace {

constexpr uint32_t kConverterLine = 0;
constexpr uint32_t kCardLine = 1;
constexpr uint32_t kSources = 64;
constexpr uint32_t kNotASource = 0xFFFFFFFF;
constexpr uint32_t kConverterChannels = 2;
constexpr std::array<uint32_t, 6> kRates{44100, 48000, 88200, 96000, 176400, 192000};
constexpr uint32_t kClockItems = 7;
constexpr uint32_t kPreferredItems = 8;

uint32_t SourceLineID(uint32_t source) { return 0x10000u * (source + 1); }

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void CopyName(char* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

}  // namespace

AdapterCard::AdapterCard(const Config& config, OrvexUnit* unit, uint64_t nowMicros) : config_(config), unit_(unit) {
    BuildLines();
    lockedAt_ = nowMicros;
    if (!unit_) return;
    // What the converter runs on when the card starts.
    Service(nowMicros);
    uint8_t rate = 1;
    for (size_t i = 0; i < kRates.size(); ++i)
        if (kRates[i] == config_.rateHz) rate = static_cast<uint8_t>(i);
    SetRegisterBits(3, 0x77, static_cast<uint8_t>((config_.clockCode & 7) | (rate << 4)), nowMicros);
    nextPoll_ = nowMicros;
    Service(nowMicros);
}

// ---- lines and controls ----

void AdapterCard::AddControl(uint32_t line, Kind kind, uint32_t index, const char* shortName, const char* name,
                             uint32_t type, uint32_t flags, uint32_t items, uint32_t valueSize) {
    const uint32_t id = static_cast<uint32_t>(controls_.size()) + 1;
    controls_.push_back({id, line, kind, index, shortName, name, type, flags, items, valueSize});
    for (Line& l : lines_)
        if (l.id == line) l.controls.push_back(static_cast<uint32_t>(controls_.size() - 1));
}

void AdapterCard::BuildLines() {
    lines_.push_back({kConverterLine, 0, kNotASource, adapter::kConverterLineType, kConverterChannels, kSources,
                      "Orvex", "Orvex Converter", {}});
    lines_.push_back({kCardLine, 1, kNotASource, adapter::kAdapterLineType, 1, 0, "Adapter", "Pelk Adapter", {}});
    for (uint32_t s = 0; s < kSources; ++s)
        lines_.push_back({SourceLineID(s), 0, s, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL, kConverterChannels, 0,
                          s < 32 ? "Input" : "Output", s < 32 ? "Converter Input" : "Converter Output", {}});

    constexpr uint32_t U = MIXERCONTROL_CONTROLTYPE_UNSIGNED, B = MIXERCONTROL_CONTROLTYPE_BOOLEAN;
    constexpr uint32_t Uniform = MIXERCONTROL_CONTROLF_UNIFORM;
    constexpr uint32_t List = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
    AddControl(kConverterLine, Kind::DeviceID, 0, "Device ID", "Converter Product ID", U);
    AddControl(kConverterLine, Kind::SerialNumber, 0, "Serial Number", "Converter Serial Number", U);
    AddControl(kConverterLine, Kind::PCBRev, 0, "PCB Rev", "Converter Board Revision", U);
    AddControl(kConverterLine, Kind::FirmwareRev, 0, "Firmware Rev", "Converter Firmware Revision", U);
    AddControl(kConverterLine, Kind::XSDeviceID, 0, "XS1 Device ID", "XSlot Card Device ID", U);
    AddControl(kConverterLine, Kind::XSPCBRev, 0, "XS1 PCB Rev", "XSlot Card Board Revision", U);
    AddControl(kConverterLine, Kind::XSFWRev, 0, "XS1 FW Rev", "XSlot Card Firmware Revision", U);
    static constexpr const char* kTrims[8] = {"TrimAIn14",  "TrimAIn58",  "TrimAIn912",  "TrimAIn1316",
                                              "TrimAOut14", "TrimAOut58", "TrimAOut912", "TrimAOut1316"};
    for (uint32_t g = 0; g < 8; ++g) AddControl(kConverterLine, Kind::Trim, g, kTrims[g], kTrims[g], B);
    AddControl(kConverterLine, Kind::CurrentSource, 0, "Current Source", "Clock Source",
               MIXERCONTROL_CONTROLTYPE_MUX, List, kClockItems);
    AddControl(kConverterLine, Kind::RateSelect, 0, "Rate Select", "Sample Rate", U);
    AddControl(kConverterLine, Kind::FPAOutSource, 0, "FPAOutSource", "Front Panel Analog Out Source", U);
    AddControl(kConverterLine, Kind::FPDOutSource, 0, "FPDOutSource", "Front Panel Digital Out Source", U);
    AddControl(kConverterLine, Kind::XSlotOutSource, 0, "XSlotOutSource", "XSlot Out Source", U);
    AddControl(kConverterLine, Kind::XCMode, 0, "XS1 XCMODE", "XSlot Card Mode", U);
    AddControl(kConverterLine, Kind::FPMeterSource, 0, "FPMeterSource", "Front Panel Meter Source", U);
    AddControl(kConverterLine, Kind::WideWireIn, 0, "WideWireIn", "Converter Wide Wire In", B);
    AddControl(kConverterLine, Kind::WideWireOut, 0, "WideWireOut", "Converter Wide Wire Out", B);
    AddControl(kConverterLine, Kind::SLEnable, 0, "SLEnable", "Converter SL Enable", B);
    AddControl(kConverterLine, Kind::FastControls, 0, "Fast Controls", "Status Block (Meters and Settings)",
               MIXERCONTROL_CONTROLTYPE_CUSTOM, Uniform, 0, adapter::kStatusBlockSize);
    AddControl(kConverterLine, Kind::SlowControls, 0, "Slow Controls", "Status Block (Everything)",
               MIXERCONTROL_CONTROLTYPE_CUSTOM, Uniform, 0, adapter::kStatusBlockSize);

    for (uint32_t s = 0; s < kSources; ++s) {
        const uint32_t line = SourceLineID(s);
        if (s < 32) {
            AddControl(line, Kind::Peak, s, "Peak", "Peak Meter", MIXERCONTROL_CONTROLTYPE_PEAKMETER);
            continue;
        }
        const uint32_t o = s - 32;
        AddControl(line, Kind::SourceA, o, "SourceA", "Output Source A", U);
        AddControl(line, Kind::SourceB, o, "SourceB", "Output Source B", U);
        AddControl(line, Kind::VolumeA, o, "VolumeA", "Output Volume A", MIXERCONTROL_CONTROLTYPE_VOLUME, 0);
        AddControl(line, Kind::VolumeB, o, "VolumeB", "Output Volume B", MIXERCONTROL_CONTROLTYPE_VOLUME, 0);
        AddControl(line, Kind::MuteA, o, "MuteA", "Output Mute A", B);
        AddControl(line, Kind::MuteB, o, "MuteB", "Output Mute B", B);
    }

    AddControl(kCardLine, Kind::PreferredSource, 0, "PreferredSource", "Adapter Preferred Source",
               MIXERCONTROL_CONTROLTYPE_MUX, List, kPreferredItems);
    AddControl(kCardLine, Kind::CardWideWireIn, 0, "WideWireIn", "Adapter Wide Wire In", B);
    AddControl(kCardLine, Kind::CardWideWireOut, 0, "WideWireOut", "Adapter Wide Wire Out", B);
    AddControl(kCardLine, Kind::CardSLEnable, 0, "SLEnable", "Adapter SL Enable", B);
    AddControl(kCardLine, Kind::DigIn1Status, 0, "DigIn1Status", "Digital Input 1 Status", U);
    AddControl(kCardLine, Kind::CardDeviceID, 0, "Device ID", "Adapter Model", U);
    AddControl(kCardLine, Kind::CardFirmware, 0, "Firmware Rev", "Adapter Firmware Revision", U);
}

const AdapterCard::Line* AdapterCard::FindLine(uint32_t id) const {
    for (const Line& l : lines_)
        if (l.id == id) return &l;
    return nullptr;
}

const AdapterCard::Control* AdapterCard::FindControl(uint32_t id) const {
    return id >= 1 && id <= controls_.size() ? &controls_[id - 1] : nullptr;
}

uint32_t AdapterCard::LineChannels(const Control& control) const {
    const Line* line = FindLine(control.line);
    return line ? line->channels : 1;
}

void AdapterCard::Caps(MIXERCAPSA* caps, uint32_t size) const {
    MIXERCAPSA c{};
    c.wMid = 0x1D5C;
    c.wPid = config_.model;
    c.vDriverVersion = 0x0500;
    std::snprintf(c.szPname, sizeof c.szPname, "%s Mixer", adapter::AdapterModelName(config_.model));
    c.cDestinations = 2;
    std::memcpy(caps, &c, std::min<uint32_t>(size, sizeof c));
}

MMRESULT AdapterCard::LineInfo(MIXERLINEA* line, uint32_t flags) const {
    if (!line || line->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    const Line* found = nullptr;
    switch (flags & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
        for (const Line& l : lines_)
            if (l.source == kNotASource && l.destination == line->dwDestination) found = &l;
        break;
    case MIXER_GETLINEINFOF_SOURCE:
        for (const Line& l : lines_)
            if (l.source != kNotASource && l.destination == line->dwDestination && l.source == line->dwSource)
                found = &l;
        break;
    case MIXER_GETLINEINFOF_LINEID:
        found = FindLine(line->dwLineID);
        break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
        for (const Line& l : lines_) {
            if (l.componentType == line->dwComponentType && !(l.id == kCardLine && faults_.noAdapterLine)) {
                found = &l;
                break;
            }
        }
        break;
    default:
        return MMSYSERR_INVALFLAG;
    }
    if (found && found->id == kCardLine && faults_.noAdapterLine) found = nullptr;
    if (!found) return MIXERR_INVALLINE;
    const uint32_t cb = line->cbStruct;
    std::memset(line, 0, sizeof(MIXERLINEA));
    line->cbStruct = cb;
    line->dwDestination = found->destination;
    line->dwSource = found->source == kNotASource ? 0 : found->source;
    line->dwLineID = found->id;
    line->fdwLine = MIXERLINE_LINEF_ACTIVE | (found->source == kNotASource ? 0 : MIXERLINE_LINEF_SOURCE);
    line->dwComponentType = found->componentType;
    line->cChannels = found->channels;
    line->cConnections = found->connections;
    line->cControls = static_cast<uint32_t>(found->controls.size());
    CopyName(line->szShortName, sizeof line->szShortName, found->shortName);
    CopyName(line->szName, sizeof line->szName, found->name);
    line->Target.wMid = 0x1D5C;
    line->Target.wPid = config_.model;
    line->Target.vDriverVersion = 0x0500;
    CopyName(line->Target.szPname, sizeof line->Target.szPname, adapter::AdapterModelName(config_.model));
    return MMSYSERR_NOERROR;
}

MMRESULT AdapterCard::LineControls(MIXERLINECONTROLSA* request, uint32_t flags) const {
    if (!request || request->cbStruct < sizeof(MIXERLINECONTROLSA) || request->cbmxctrl < sizeof(MIXERCONTROLA) ||
        !request->pamxctrl)
        return MMSYSERR_INVALPARAM;
    auto fill = [&](uint8_t* at, const Control& c) {
        MIXERCONTROLA r{};
        r.cbStruct = sizeof r;
        r.dwControlID = c.id;
        r.dwControlType = c.type;
        r.fdwControl = c.flags;
        r.cMultipleItems = c.items;
        CopyName(r.szShortName, sizeof r.szShortName, c.shortName);
        CopyName(r.szName, sizeof r.szName, c.name);
        if (c.valueSize == adapter::kStatusBlockSize) r.Metrics.cbCustomData = c.valueSize;
        if (c.items) r.Bounds.dwMaximum = c.items - 1;
        else r.Bounds.dwMaximum = c.type == MIXERCONTROL_CONTROLTYPE_BOOLEAN ? 1 : 0xFFFFFFFF;
        std::memcpy(at, &r, sizeof r);
    };
    auto* out = reinterpret_cast<uint8_t*>(request->pamxctrl);
    switch (flags & MIXER_GETLINECONTROLSF_QUERYMASK) {
    case MIXER_GETLINECONTROLSF_ALL: {
        const Line* line = FindLine(request->dwLineID);
        if (!line) return MIXERR_INVALLINE;
        if (request->cControls == 0 || request->cControls != line->controls.size()) return MMSYSERR_INVALPARAM;
        for (uint32_t i = 0; i < request->cControls; ++i)
            fill(out + size_t{i} * request->cbmxctrl, controls_[line->controls[i]]);
        return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYID: {
        const Control* c = FindControl(request->dwControlID);
        if (!c) return MIXERR_INVALCONTROL;
        request->dwLineID = c->line;
        fill(out, *c);
        return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
        const Line* line = FindLine(request->dwLineID);
        if (!line) return MIXERR_INVALLINE;
        for (uint32_t index : line->controls) {
            if (controls_[index].type == request->dwControlType) {
                fill(out, controls_[index]);
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALCONTROL;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
}

MMRESULT AdapterCard::GetDetails(MIXERCONTROLDETAILS* details, uint32_t flags, uint64_t now) {
    Service(now);
    if (!details || details->cbStruct < sizeof(MIXERCONTROLDETAILS)) return MMSYSERR_INVALPARAM;
    if ((flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) != MIXER_GETCONTROLDETAILSF_VALUE) return MMSYSERR_NOTSUPPORTED;
    const Control* c = FindControl(details->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    const bool uniform = (c->flags & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
    const uint32_t channels = details->cChannels;
    if (channels == 0 || (uniform && channels != 1) || (!uniform && channels != 1 && channels != LineChannels(*c)))
        return MMSYSERR_INVALPARAM;
    if (details->cMultipleItems != c->items || details->cbDetails != c->valueSize || !details->paDetails)
        return MMSYSERR_INVALPARAM;

    auto* out = static_cast<uint8_t*>(details->paDetails);
    if (c->kind == Kind::FastControls || c->kind == Kind::SlowControls) {
        const auto block = StatusBlock(c->kind == Kind::FastControls);
        std::memcpy(out, block.data(), block.size());
        return MMSYSERR_NOERROR;
    }
    const uint32_t value = Read(*c, now);
    const uint32_t items = c->items ? c->items : 1;
    for (uint32_t ch = 0; ch < channels; ++ch)
        for (uint32_t i = 0; i < items; ++i)
            PutLe32(out + 4 * (size_t{ch} * items + i), c->items ? (i == value ? 1 : 0) : value);
    return MMSYSERR_NOERROR;
}

MMRESULT AdapterCard::SetDetails(MIXERCONTROLDETAILS* details, uint32_t flags, uint64_t now) {
    Service(now);
    if (!details || details->cbStruct < sizeof(MIXERCONTROLDETAILS)) return MMSYSERR_INVALPARAM;
    if ((flags & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_NOTSUPPORTED;
    const Control* c = FindControl(details->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    const bool uniform = (c->flags & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
    const uint32_t channels = details->cChannels;
    if (channels == 0 || (uniform && channels != 1) || (!uniform && channels != 1 && channels != LineChannels(*c)))
        return MMSYSERR_INVALPARAM;
    if (details->cMultipleItems != c->items || details->cbDetails != 4 || !details->paDetails)
        return MMSYSERR_INVALPARAM;
    const auto* in = static_cast<const uint8_t*>(details->paDetails);
    uint32_t value = 0;
    if (c->items) {
        bool selected = false;
        for (uint32_t i = 0; i < c->items && !selected; ++i)
            if (Le32(in + 4 * size_t{i}) != 0) {
                value = i;
                selected = true;
            }
        if (!selected) return MIXERR_INVALVALUE;
    } else {
        value = Le32(in);  // channel 0
    }
    return Write(*c, value, now);
}

uint32_t AdapterCard::Read(const Control& c, uint64_t now) const {
    const bool unit = unit_ != nullptr;
    switch (c.kind) {
    case Kind::DeviceID: return unit ? regs_[1] : 0;
    case Kind::SerialNumber: return unit ? SerialNumber() : 0xFFFFFFFF;
    case Kind::PCBRev: return regs_[11] >> 4;
    case Kind::FirmwareRev: return regs_[10] & 0x3F;
    case Kind::XSDeviceID: return regs_[16];
    case Kind::XSPCBRev: return regs_[18];
    case Kind::XSFWRev: return regs_[17];
    case Kind::Trim: return ((regs_[2] >> c.index) & 1) != 0 ? 0 : 1;
    case Kind::CurrentSource: return regs_[3] & 7;
    case Kind::RateSelect: {
        const uint32_t code = (regs_[3] >> 4) & 7;
        return code < kRates.size() ? kRates[code] : 0;
    }
    case Kind::FPAOutSource: return regs_[4] & 3;
    case Kind::FPDOutSource: return (regs_[4] >> 2) & 3;
    case Kind::WideWireIn: return (regs_[4] >> 4) & 1;
    case Kind::WideWireOut: return (regs_[4] >> 5) & 1;
    case Kind::FPMeterSource: return (regs_[4] >> 6) & 1;
    case Kind::XSlotOutSource: return (regs_[4] >> 7) & 1;
    case Kind::SLEnable: return (regs_[3] >> 3) & 1;
    case Kind::XCMode:
        return ((regs_[5] >> 3) & 1) | (((regs_[19] >> 4) & 1u) << 12) | (((regs_[19] >> 5) & 1u) << 13);
    case Kind::Peak: return regs_[64 + c.index];
    case Kind::SourceA: return regs_[128 + 4 * c.index + 1];
    case Kind::SourceB: return regs_[128 + 4 * c.index + 3];
    case Kind::VolumeA: return regs_[128 + 4 * c.index];
    case Kind::VolumeB: return regs_[128 + 4 * c.index + 2];
    case Kind::MuteA: return mutes_[2 * c.index];
    case Kind::MuteB: return mutes_[2 * c.index + 1];
    case Kind::PreferredSource: return preferredSource_;
    case Kind::CardWideWireIn: return cardWideWireIn_;
    case Kind::CardWideWireOut: return cardWideWireOut_;
    case Kind::CardSLEnable: return cardSLEnable_;
    case Kind::DigIn1Status: return 0x10u | ((faults_.neverLocks || now < lockedAt_) ? 1u : 0u);
    case Kind::CardDeviceID: return config_.model;
    case Kind::CardFirmware: return config_.firmware;
    case Kind::FastControls:
    case Kind::SlowControls: return 0;
    }
    return 0;
}

MMRESULT AdapterCard::Write(const Control& c, uint32_t value, uint64_t now) {
    auto card = [&](uint8_t& setting) {
        const uint8_t v = value != 0 ? 1 : 0;
        if (setting != v) LoseLock(now);
        setting = v;
        return MMSYSERR_NOERROR;
    };
    switch (c.kind) {
    case Kind::PreferredSource:
        if (preferredSource_ != value) LoseLock(now);
        preferredSource_ = static_cast<uint8_t>(value);
        return MMSYSERR_NOERROR;
    case Kind::CardWideWireIn: return card(cardWideWireIn_);
    case Kind::CardWideWireOut: return card(cardWideWireOut_);
    case Kind::CardSLEnable: return card(cardSLEnable_);
    case Kind::MuteA:
    case Kind::MuteB:
        mutes_[2 * c.index + (c.kind == Kind::MuteB ? 1 : 0)] = value != 0 ? 1 : 0;
        return MMSYSERR_NOERROR;
    default:
        break;
    }
    if (!unit_) return MMSYSERR_ERROR;  // nothing on the cable takes it
    const uint8_t bit = value != 0 ? 1 : 0;
    switch (c.kind) {
    case Kind::SerialNumber:
        WriteRegister(12, static_cast<uint8_t>((value >> 12) & 0x3F), now);
        WriteRegister(13, static_cast<uint8_t>(((value >> 14) & 0x30) | ((value >> 20) & 0x0F)), now);
        WriteRegister(14, static_cast<uint8_t>(value & 0xFF), now);
        WriteRegister(15, static_cast<uint8_t>((value >> 8) & 0x0F), now);
        return MMSYSERR_NOERROR;
    case Kind::Trim:
        SetRegisterBits(2, static_cast<uint8_t>(1u << c.index), value == 0 ? 0xFF : 0, now);
        return MMSYSERR_NOERROR;
    case Kind::CurrentSource:
        if (faults_.clockStuck) return MMSYSERR_NOERROR;
        if ((regs_[3] & 7) != value) LoseLock(now);
        SetRegisterBits(3, 0x07, static_cast<uint8_t>(value), now);
        return MMSYSERR_NOERROR;
    case Kind::RateSelect: {
        const auto it = std::find(kRates.begin(), kRates.end(), value);
        if (it == kRates.end()) return MIXERR_INVALVALUE;
        if (faults_.rateCeilingHz != 0 && value > faults_.rateCeilingHz) return MMSYSERR_NOERROR;
        const uint8_t code = static_cast<uint8_t>(it - kRates.begin());
        if (((regs_[3] >> 4) & 7) != code) LoseLock(now);
        SetRegisterBits(3, 0x70, static_cast<uint8_t>(code << 4), now);
        return MMSYSERR_NOERROR;
    }
    case Kind::FPAOutSource: SetRegisterBits(4, 0x03, static_cast<uint8_t>(value & 3), now); return MMSYSERR_NOERROR;
    case Kind::FPDOutSource:
        SetRegisterBits(4, 0x0C, static_cast<uint8_t>((value & 3) << 2), now);
        return MMSYSERR_NOERROR;
    case Kind::FPMeterSource: SetRegisterBits(4, 0x40, bit ? 0x40 : 0, now); return MMSYSERR_NOERROR;
    case Kind::XSlotOutSource: SetRegisterBits(4, 0x80, bit ? 0x80 : 0, now); return MMSYSERR_NOERROR;
    case Kind::WideWireIn:
    case Kind::WideWireOut:
    case Kind::SLEnable: {
        const uint16_t reg = c.kind == Kind::SLEnable ? 3 : 4;
        const uint8_t mask = c.kind == Kind::SLEnable ? 0x08 : c.kind == Kind::WideWireIn ? 0x10 : 0x20;
        if (((regs_[reg] & mask) != 0) != (bit != 0)) LoseLock(now);
        SetRegisterBits(reg, mask, bit ? mask : 0, now);
        return MMSYSERR_NOERROR;
    }
    case Kind::XCMode:
        SetRegisterBits(5, 0x08, (value & 1) ? 0x08 : 0, now);
        SetRegisterBits(19, 0x30, static_cast<uint8_t>((((value >> 12) & 1) << 4) | (((value >> 13) & 1) << 5)), now);
        return MMSYSERR_NOERROR;
    case Kind::SourceA:
    case Kind::SourceB:
    case Kind::VolumeA:
    case Kind::VolumeB: {
        const uint32_t offset = c.kind == Kind::VolumeA ? 0 : c.kind == Kind::SourceA ? 1 : c.kind == Kind::VolumeB ? 2 : 3;
        WriteRegister(static_cast<uint16_t>(128 + 4 * c.index + offset), static_cast<uint8_t>(std::min<uint32_t>(value, 255)), now);
        return MMSYSERR_NOERROR;
    }
    default:
        return MMSYSERR_NOTSUPPORTED;  // read-only
    }
}

std::array<uint8_t, adapter::kStatusBlockSize> AdapterCard::StatusBlock(bool fast) const {
    std::array<uint8_t, adapter::kStatusBlockSize> b{};
    for (uint32_t e = 0; e < 64; ++e) {
        b[st::kPeakMeters + e] = regs_[64 + e];
        b[st::kOverloads + e] = (regs_[64 + e] >> 3) & 1;
    }
    for (uint32_t g = 0; g < 8; ++g) b[st::kTrims + 4 * g] = ((regs_[2] >> g) & 1) != 0 ? 0 : 1;
    PutLe32(&b[st::kClockSource], regs_[3] & 7);
    b[st::kSLEnable] = (regs_[3] >> 3) & 1;
    b[st::kFPAOutSource] = regs_[4] & 3;
    b[st::kFPDOutSource] = (regs_[4] >> 2) & 3;
    b[st::kWideWireIn] = (regs_[4] >> 4) & 1;
    b[st::kWideWireOut] = (regs_[4] >> 5) & 1;
    b[st::kFPMeterSource] = (regs_[4] >> 6) & 1;
    b[st::kXSlotOutSource] = (regs_[4] >> 7) & 1;
    b[st::kRegister5Bit0] = regs_[5] & 1;
    b[st::kRegister5Bit1] = (regs_[5] & 2) != 0 ? 0 : 1;
    b[st::kModelVariant] = regs_[6];
    uint32_t word = regs_[7];
    if ((regs_[10] & 0x3F) >= 18) {
        if ((regs_[7] & 0x40) == 0) word |= st::kVariant1824;
        if ((regs_[7] & 0x80) == 0) word |= st::kVariantVT;
    }
    PutLe32(&b[st::kStatusWord], word);
    if (fast) return b;
    for (uint32_t o = 0; o < adapter::kOutputs; ++o) {
        for (uint32_t side = 0; side < 2; ++side) {
            const uint32_t i = side + 2 * o;
            b[st::kOutputSource + i] = regs_[128 + 4 * o + 1 + 2 * side];
            b[st::kOutputVolume + i] = mutes_[i] ? 255 : regs_[128 + 4 * o + 2 * side];
            b[st::kOutputMute + i] = mutes_[i];
        }
    }
    return b;
}

// ---- the cable ----

void AdapterCard::CountResponse() { ++counter_; }

void AdapterCard::StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) {
    for (uint32_t i = 0; i < count && firstReg + i < regs_.size(); ++i) regs_[firstReg + i] = values[i];
}

void AdapterCard::Send(const std::vector<uint8_t>& bytes, uint64_t now) {
    if (!unit_ || bytes.empty()) return;
    const uint64_t first = requestBytes_;
    requestBytes_ += bytes.size();
    const uint64_t from = faults_.requestFrom, to = from + faults_.requestCount;
    if (from >= requestBytes_ || to <= first) {
        unit_->Receive(bytes.data(), bytes.size(), now);
        return;
    }
    std::vector<uint8_t> damaged;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint64_t n = first + i;
        if (n < from || n >= to)
            damaged.push_back(bytes[i]);
        else if (faults_.requestMask != 0)
            damaged.push_back(static_cast<uint8_t>(bytes[i] ^ faults_.requestMask));
    }
    unit_->Receive(damaged.data(), damaged.size(), now);
}

void AdapterCard::Collect(uint64_t now) {
    if (!unit_) return;
    const size_t before = inbox_.size();
    unit_->Transmit(now, inbox_);
    const uint64_t first = answerBytes_;
    answerBytes_ += inbox_.size() - before;
    const uint64_t from = faults_.answerFrom, to = from + faults_.answerCount;
    if ((from < answerBytes_ && to > first) || !heldAnswers_.empty()) {
        std::vector<uint8_t> fresh(inbox_.begin() + static_cast<std::ptrdiff_t>(before), inbox_.end());
        inbox_.resize(before);
        for (size_t i = 0; i < fresh.size(); ++i) {
            const uint64_t n = first + i;
            const bool hit = n >= from && n < to;
            if (hit && faults_.answerDelayMicros != 0)
                heldAnswers_.emplace_back(now + faults_.answerDelayMicros, fresh[i]);
            else if (hit && faults_.answerMask == 0)
                continue;  // lost
            else if (!heldAnswers_.empty())  // the line stalls behind a held byte
                heldAnswers_.emplace_back(heldAnswers_.back().first, static_cast<uint8_t>(hit ? fresh[i] ^ faults_.answerMask : fresh[i]));
            else
                inbox_.push_back(static_cast<uint8_t>(hit ? fresh[i] ^ faults_.answerMask : fresh[i]));
        }
        size_t due = 0;
        while (due < heldAnswers_.size() && heldAnswers_[due].first <= now) inbox_.push_back(heldAnswers_[due++].second);
        heldAnswers_.erase(heldAnswers_.begin(), heldAnswers_.begin() + static_cast<std::ptrdiff_t>(due));
    }
    size_t start = 0;
    for (;;) {
        const auto begin = std::find(inbox_.begin() + static_cast<std::ptrdiff_t>(start), inbox_.end(), orvex::kSysexStart);
        if (begin == inbox_.end()) {
            inbox_.clear();
            return;
        }
        const auto end = std::find(begin, inbox_.end(), orvex::kSysexEnd);
        if (end == inbox_.end()) {
            inbox_.erase(inbox_.begin(), begin);  // the rest comes with the next call
            return;
        }
        orvex::DecodeMessage(&*begin, static_cast<uint32_t>(end - begin + 1), this);
        start = static_cast<size_t>(end - inbox_.begin()) + 1;
    }
}

void AdapterCard::Service(uint64_t now) {
    if (!unit_) return;
    Collect(now);
    if (now >= nextPoll_) {
        Send(orvex::EncodeStatusRequest(0, 255, false), now);
        nextPoll_ = now + config_.pollMicros;
        Collect(now);
    }
}

void AdapterCard::WriteRegister(uint16_t reg, uint8_t value, uint64_t now) {
    if (reg < regs_.size()) regs_[reg] = value;
    Send(orvex::EncodeRegisterWrite(reg, value, false), now);
}

void AdapterCard::SetRegisterBits(uint16_t reg, uint8_t mask, uint8_t value, uint64_t now) {
    const uint8_t next = static_cast<uint8_t>((regs_[reg] & ~mask) | (value & mask));
    if (next != regs_[reg]) WriteRegister(reg, next, now);
}

void AdapterCard::Command(uint8_t command, uint64_t now) { Send(orvex::EncodeCommand(command), now); }

void AdapterCard::MarkBusy() { regs_[9] = static_cast<uint8_t>((regs_[9] & orvex::kProgRunningBank) | orvex::kProgPIP); }

void AdapterCard::LoseLock(uint64_t now) {
    ++lockLosses_;
    const bool forGood = faults_.neverLocksAfterLosses != 0 && lockLosses_ >= faults_.neverLocksAfterLosses;
    lockedAt_ = forGood ? UINT64_MAX : now + config_.lockMicros;
}

bool AdapterCard::IsTaviFamily() const {
    uint8_t id = regs_[1];
    if ((id == orvex::kDeviceOrvex16 || id == orvex::kDeviceOrvex8) && regs_[6] == orvex::kDeviceOrvexN)
        id = orvex::kDeviceOrvexN;
    return id == orvex::kDeviceTavi || id == orvex::kDeviceOrvexN;
}

uint32_t AdapterCard::SerialNumber() const {
    const uint32_t r0 = regs_[12], r1 = regs_[13], r2 = regs_[14], r3 = regs_[15];
    if (r0 == 0 || r0 == 0xFF) return 0xFFFFFFFF;
    return (uint32_t{regs_[1]} << 24) | ((r1 & 0x0F) << 20) | ((r1 & 0x30) << 14) | (r0 << 12) |
           (((r3 << 8) | r2) & 0xFFF);
}

uint8_t AdapterCard::AlternateRevision() const {
    return static_cast<uint8_t>(((regs_[11] << 2) | (regs_[10] >> 6)) & 0x3F);
}

uint32_t AdapterCard::RequestCount(uint32_t code) const {
    for (const auto& [c, n] : requestCounts_)
        if (c == code) return n;
    return 0;
}

bool AdapterCard::Request(uint32_t deviceNumber, uint32_t code, const void* in, uint32_t inSize, void* out,
                          uint32_t outSize, uint32_t* returned, uint64_t now) {
    if (returned) *returned = 0;
    Service(now);
    uint32_t seen = 0;
    auto counted = std::find_if(requestCounts_.begin(), requestCounts_.end(), [&](auto& e) { return e.first == code; });
    if (counted == requestCounts_.end()) {
        requestCounts_.emplace_back(code, 1);
    } else {
        seen = counted->second++;
    }
    if (faults_.failCode == code && seen >= faults_.failSkip && seen - faults_.failSkip < faults_.failCount)
        return false;
    if (requests_++ >= faults_.failAllAfter) return false;

    const auto* input = static_cast<const uint8_t*>(in);
    auto* output = static_cast<uint8_t*>(out);
    auto answer = [&](uint32_t value) {
        if (!output || outSize != 4) return false;
        PutLe32(output, value);
        if (returned) *returned = 4;
        return true;
    };
    auto noBuffers = [&] { return inSize == 0 && outSize == 0 && unit_ != nullptr; };

    switch (code) {
    case adapter::kIoctlAdapterInformation: {
        if (!input || !output || inSize != adapter::kAdapterInfoSize || outSize != adapter::kAdapterInfoSize) return false;
        if (Le32(input + adapter::info::kDeviceNumber) != deviceNumber) return false;
        std::array<uint8_t, adapter::kAdapterInfoSize> block{};
        PutLe32(&block[adapter::info::kDeviceNumber], deviceNumber);
        block[adapter::info::kModel] = static_cast<uint8_t>(config_.model);
        block[adapter::info::kModel + 1] = static_cast<uint8_t>(config_.model >> 8);
        block[adapter::info::kBus] = static_cast<uint8_t>(config_.bus);
        block[adapter::info::kBus + 1] = static_cast<uint8_t>(config_.bus >> 8);
        block[adapter::info::kDevice] = static_cast<uint8_t>(config_.device);
        block[adapter::info::kDevice + 1] = static_cast<uint8_t>(config_.device >> 8);
        block[10] = 0xA5;  // not read by the host
        PutLe32(&block[adapter::info::kSlot], config_.slot);
        // The lower bits of these words carry what the host does not read.
        PutLe32(&block[adapter::info::kProduct], (uint32_t{unit_ ? regs_[1] : uint8_t{0}} << 24) | 0x00C0FFEEu);
        PutLe32(&block[20], 0x5A5A5A5Au);
        PutLe32(&block[adapter::info::kAlternate], 0x7E7E0000u | AlternateRevision());
        std::memcpy(output, block.data(), block.size());
        if (returned) *returned = adapter::kAdapterInfoSize;
        return true;
    }
    case adapter::kIoctlResponseCounter:
        return inSize == 0 && answer(counter_);
    case adapter::kIoctlProgrammingStatus:
        return inSize == 0 && unit_ && answer(regs_[9]);
    case adapter::kIoctlSelectAlternateBank:
        if (!noBuffers()) return false;
        Command((regs_[9] & orvex::kProgRunningBank) != 0 ? orvex::kCmdSelectBank1 : orvex::kCmdSelectBank2, now);
        return true;
    case adapter::kIoctlEraseAlternateBank:
        if (!noBuffers()) return false;
        MarkBusy();
        Command(orvex::kCmdPrefix, now);
        Command(orvex::kCmdErase, now);
        return true;
    case adapter::kIoctlWritePacket: {
        if (!unit_ || !input || inSize == 0 || inSize > orvex::kMaxPacketData || outSize != 0) return false;
        MarkBusy();
        Command(orvex::kCmdPrefix, now);
        Command(orvex::kCmdPacketFollows, now);
        if (IsTaviFamily()) WriteRegister(52, orvex::PacketCrc8(input, inSize), now);
        Send(orvex::EncodeFirmwarePacket(input, inSize), now);
        return true;
    }
    case adapter::kIoctlRequestVerifyPacket:
        if (!noBuffers()) return false;
        regs_[9] = static_cast<uint8_t>(regs_[9] & ~orvex::kProgPAKRDY);
        Command(orvex::kCmdVerifyPacket, now);
        return true;
    case adapter::kIoctlReadVerifyPacket:
        if (!unit_ || !output || outSize == 0 || outSize > orvex::kMaxPacketData) return false;
        std::memcpy(output, &regs_[128], outSize);
        if (returned) *returned = outSize;
        return true;
    case adapter::kIoctlProgrammingComplete:
        if (!noBuffers()) return false;
        Command((regs_[9] & orvex::kProgRunningBank) != 0 ? orvex::kCmdCompleteBank2Active
                                                          : orvex::kCmdCompleteBank1Active,
                now);
        return true;
    case adapter::kIoctlCancelProgramming:
        if (!noBuffers()) return false;
        Command(orvex::kCmdCancel, now);
        return true;
    case adapter::kIoctlWriteSerialNumber: {
        if (!unit_ || !input || inSize != 4 || outSize != 0) return false;
        const uint32_t serial = Le32(input);
        WriteRegister(12, static_cast<uint8_t>((serial >> 12) & 0x3F), now);
        WriteRegister(13, static_cast<uint8_t>(((serial >> 14) & 0x30) | ((serial >> 20) & 0x0F)), now);
        WriteRegister(14, static_cast<uint8_t>(serial & 0xFF), now);
        WriteRegister(15, static_cast<uint8_t>((serial >> 8) & 0x0F), now);
        MarkBusy();
        Command(orvex::kCmdPrefix, now);
        Command(orvex::kCmdStoreSerial, now);
        return true;
    }
    case adapter::kIoctlSelectXSlotFirmware: {
        if (!unit_ || !input || inSize != 4 || outSize != 0) return false;
        const uint32_t slot = Le32(input);
        if (slot > 1 || (slot == 1 && regs_[16] == 0)) return false;  // one XSlot, and it must hold a card
        SetRegisterBits(5, 0x10, slot ? 0x10 : 0, now);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace sim
