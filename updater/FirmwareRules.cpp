#include "updater/FirmwareRules.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "protocol/SerialNumber.h"
#include "protocol/UnitCodes.h"

namespace rules {

namespace {

struct Day {
    uint16_t year;
    uint8_t month, day;
};

// Release dates, indexed by firmware revision.
constexpr Day kOrvexDates[39] = {
    {2004, 10, 31}, {2005, 2, 25}, {2005, 2, 25}, {2005, 3, 20}, {2005, 4, 7},  {2005, 4, 18}, {2005, 4, 22},
    {2005, 4, 25},  {2005, 4, 26}, {2005, 7, 13}, {2005, 7, 19}, {2005, 9, 26}, {2005, 10, 4}, {2005, 12, 12},
    {2006, 8, 21},  {2006, 9, 7},  {2006, 9, 19}, {2007, 4, 20}, {2007, 6, 11}, {2007, 1, 1},  {2007, 1, 1},
    {2008, 4, 8},   {2008, 10, 22}, {2008, 12, 8}, {2009, 9, 3}, {2011, 6, 6},  {2012, 2, 1},  {2012, 4, 13},
    {2013, 4, 17},  {2014, 4, 7},  {2014, 7, 2},  {2014, 1, 1},  {2014, 1, 1},  {2014, 1, 1},  {2014, 1, 1},
    {2014, 1, 1},   {2014, 1, 1},  {2014, 1, 1},  {2014, 1, 1},
};
constexpr Day kVaVovuzDates[11] = {
    {2017, 2, 7}, {2017, 2, 17}, {2017, 1, 1}, {2017, 1, 1}, {2017, 1, 1}, {2017, 1, 1},
    {2017, 1, 1}, {2017, 1, 1},  {2017, 1, 1}, {2017, 1, 1}, {2017, 1, 1},
};
constexpr Day kDiZoDates[21] = {
    {2004, 10, 31}, {2006, 8, 21}, {2006, 8, 22}, {2006, 9, 7},  {2006, 9, 11}, {2006, 9, 15}, {2008, 10, 14},
    {2008, 12, 8},  {2010, 3, 9},  {2011, 12, 22}, {2012, 7, 3}, {2013, 4, 17}, {2017, 11, 29}, {2017, 12, 20},
    {2018, 1, 17},  {2018, 2, 7},  {2018, 2, 7},  {2018, 2, 7},  {2018, 2, 7},  {2018, 2, 7},  {2018, 2, 7},
};
constexpr Day kViRizoDates[20] = {
    {2009, 1, 1},   {2009, 6, 9},   {2009, 7, 24}, {2009, 8, 5}, {2009, 8, 6}, {2011, 12, 28}, {2011, 12, 29},
    {2012, 1, 1},   {2012, 1, 1},   {2012, 1, 1},  {2012, 1, 1}, {2012, 1, 1}, {2012, 1, 1},   {2012, 1, 1},
    {2012, 1, 1},   {2012, 1, 1},   {2012, 1, 1},  {2012, 1, 1}, {2012, 1, 1}, {2012, 1, 1},
};
constexpr Day kDoZazDates[20] = {
    {2011, 1, 1},  {2011, 1, 1},  {2011, 1, 1},  {2011, 1, 1},  {2011, 1, 1}, {2011, 7, 10}, {2012, 2, 20},
    {2012, 2, 23}, {2012, 3, 27}, {2012, 7, 30}, {2012, 9, 24}, {2014, 4, 16}, {2012, 1, 1}, {2012, 1, 1},
    {2012, 1, 1},  {2012, 1, 1},  {2012, 1, 1},  {2012, 1, 1},  {2012, 1, 1}, {2012, 1, 1},
};

std::span<const Day> DateTable(uint8_t targetID) {
    switch (targetID) {
    case orvex::kDeviceOrvex16:
    case orvex::kDeviceOrvex8:
    case orvex::kDeviceHarkenRelay4x4: return kOrvexDates;
    case orvex::kXSlotVaVovuz: return kVaVovuzDates;
    case orvex::kXSlotDiZo: return kDiZoDates;
    case orvex::kXSlotViRizo: return kViRizoDates;
    case orvex::kXSlotDoZaz: return kDoZazDates;
    default: return {};
    }
}

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct NameKey {
    const char* prefix;
    uint8_t deviceID;
    uint8_t versionAt;
    int8_t pcbAt;  // -1: no field, PCB code 0
};
constexpr NameKey kNameKeys[] = {
    {"OV80", orvex::kDeviceOrvex8, 3, 6},  {"OVF0", orvex::kDeviceOrvex16, 3, 6},
    {"RL40", orvex::kDeviceHarkenRelay4x4, 3, 6}, {"XCMA", orvex::kXSlotViRizo, 4, 7},
    {"XCHD", orvex::kXSlotDiZo, 4, 7},     {"XCFW", orvex::kXSlotVaVo, 4, 7},
    {"XCDN", orvex::kXSlotVaVovuz, 5, 9},  {"XCUS", orvex::kXSlotDoZaz, 5, -1},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The dialog reads each part as a number up to its first non-digit.
uint32_t LeadingNumber(const char* text, size_t length, int base) {
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        int digit;
        if (IsDigit(c)) digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else break;
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    return value;
}

}  // namespace

const char* const kDoZazDownText =
    "The DO-ZAZ firmware MUST be revision 5.30 or lower to update the Orvex firmware to the current revision.\n\n"
    "The DO-ZAZ is being automatically selected to downgrade the firmware to revision 5.30 before proceeding.\n\n"
    "Once the DO-ZAZ firmware is at 5.30, you may upgrade the Orvex firmware, then upgrade the DO-ZAZ firmware back "
    "to the latest revision.";
const char* const kDoZazFirstText =
    "You must upgrade the Orvex firmware before the DO-ZAZ firmware.\n\nThe Orvex is automatically being selected.\n";

bool IsValidSerialNumber(uint32_t serial) {
    const uint8_t id = orvex::SerialDeviceID(serial);
    const bool model = id == orvex::kDeviceOrvex16 || id == orvex::kDeviceOrvex8 ||
                       id == orvex::kDeviceHarkenRelay4x4 || id == orvex::kXSlotVaVovuz;
    const uint32_t year = orvex::SerialYear(serial), week = orvex::SerialWeek(serial);
    const uint32_t number = orvex::SerialUnitNumber(serial);
    return model && year >= 1 && year <= 63 && week >= 1 && week <= 53 && number >= 1 && number <= 4095;
}

std::string SerialNumberText(uint32_t serial) {
    if (serial == 0 || serial == orvex::kBlankSerialNumber || orvex::SerialWeek(serial) == 63) return {};
    char text[orvex::kSerialTextSize] = {};
    orvex::FormatSerialNumber(serial, text, sizeof text);
    return text;
}

SerialEntry ParseSerialNumberText(const std::string& text, uint32_t* serial) {
    if (text.size() != 10) return SerialEntry::kWrongLength;
    const char* t = text.c_str();
    const uint32_t id = LeadingNumber(t, 2, 16);
    const uint32_t year = LeadingNumber(t + 2, 2, 10);
    const uint32_t week = LeadingNumber(t + 4, 2, 10);
    const uint32_t number = LeadingNumber(t + 6, 4, 10);
    if (week > orvex::kSerialMaxWeek) return SerialEntry::kInvalid;
    uint32_t value = id << 24;
    value |= (year & 0x0F) << 20;
    value |= ((year >> 4) & 0x03) << 18;
    value |= (week & 0xFF) << 12;
    value |= number & 0xFFF;
    if (!IsValidSerialNumber(value)) return SerialEntry::kInvalid;
    *serial = value;
    return SerialEntry::kAccepted;
}

bool ManufactureDate(uint32_t serial, plat::LocalTime* date) {
    const uint32_t week = orvex::SerialWeek(serial);
    if (serial == 0 || week < 1 || week > 53) return false;
    static constexpr uint32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    uint32_t day = (week - 1) * 7 + 1;
    uint32_t month = 0;
    while (month < 11 && day > kMonthDays[month]) day -= kMonthDays[month++];
    *date = plat::LocalTime{static_cast<uint16_t>(2000 + orvex::SerialYear(serial)), static_cast<uint16_t>(month + 1),
                            static_cast<uint16_t>(day), 0, 0, 0, 0};
    return true;
}

bool ReleaseDate(uint8_t targetID, uint32_t revision, plat::LocalTime* date) {
    const std::span<const Day> table = DateTable(targetID);
    if (revision == 0 || revision == 63 || revision >= table.size()) return false;
    const Day& d = table[revision];
    *date = plat::LocalTime{d.year, d.month, d.day, 0, 0, 0, 0};
    return true;
}

std::string FormatDate(const plat::LocalTime& date) {
    const char* month = date.month >= 1 && date.month <= 12 ? kMonths[date.month - 1] : "???";
    char text[32];
    std::snprintf(text, sizeof text, "%s %02u, %04u", month, unsigned{date.day}, unsigned{date.year});
    return text;
}

bool ReadImageName(const char* name, ImageName* image) {
    *image = ImageName{};
    if (!name) return false;
    const size_t length = std::strlen(name);
    if (length < 4) return false;
    for (const NameKey& key : kNameKeys) {
        if (std::strncmp(name, key.prefix, 4) != 0) continue;
        if (length <= key.versionAt || !IsDigit(name[key.versionAt])) return false;
        if (key.pcbAt >= 0 && length <= static_cast<size_t>(key.pcbAt)) return false;
        uint32_t version = 0;
        for (size_t i = key.versionAt; i < length && IsDigit(name[i]); ++i) version = version * 10 + (name[i] - '0');
        uint8_t pcb = 0;
        if (key.pcbAt >= 0 && std::strncmp(name + key.pcbAt, "NC", 2) != 0)
            pcb = static_cast<uint8_t>(name[key.pcbAt] - 64);
        image->deviceID = key.deviceID;
        image->version = static_cast<uint16_t>(version);
        image->pcb = pcb;
        return true;
    }
    return false;
}

std::string BaseName(const std::string& path, bool withoutExtension) {
    const size_t slash = path.find_last_of("\\/:");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (withoutExtension) {
        const size_t dot = base.find_last_of('.');
        if (dot != std::string::npos) base.resize(dot);
    }
    return base;
}

bool ImageSuitsTarget(const ImageName& image, uint8_t targetID, uint8_t pcb, bool forceDowngrade) {
    if (image.deviceID != targetID) return false;
    switch (targetID) {
    case orvex::kXSlotViRizo:
    case orvex::kXSlotVaVovuz: return true;
    case orvex::kXSlotDoZaz: return forceDowngrade ? image.version == 5 : image.version != 5;
    default: return image.pcb == pcb;
    }
}

Version SplitVersion(uint16_t version) {
    char text[16];
    if (version >= 100) {
        Version v{true, static_cast<uint16_t>(version / 100), static_cast<uint8_t>(version % 100), {}};
        std::snprintf(text, sizeof text, "%d.%d", v.major, v.minor);
        v.text = text;
        return v;
    }
    std::snprintf(text, sizeof text, "%d", version);
    return Version{false, version, 0, text};
}

std::string RevisionText(uint8_t revision) {
    if (revision == 0 || revision == 63) return "Not Present";
    return std::to_string(revision);
}

std::string PcbText(uint8_t pcb) {
    if (pcb == 0) return "NC";
    return std::string(1, static_cast<char>(pcb + 64));
}

const char* CardName(uint8_t kind) {
    switch (kind) {
    case orvex::kXSlotDiZo: return "DI-ZO";
    case orvex::kXSlotVaVo: return "VA-VO";
    case orvex::kXSlotViRizo: return "VI-RIZO";
    case orvex::kXSlotDoZaz: return "DO-ZAZ";
    case orvex::kXSlotDuRa: return "DU-RA";
    case orvex::kXSlotVaVovuz: return "VA-VOVUZ";
    default: return "Unknown";
    }
}

AdapterRule CheckAdapterFirmware(uint32_t adapterModel, uint8_t unitRevision, uint32_t adapterRevision) {
    if (adapterModel != 36 && adapterModel != 37) return AdapterRule::kOk;
    const uint32_t r = adapterRevision & 0xFFFF;
    if (unitRevision <= 8 && r != 19 && r != 20 && r != 21) return AdapterRule::kR20;
    if (unitRevision >= 10 && unitRevision <= 14 && r != 22) return AdapterRule::kR22;
    if (unitRevision >= 15 && r < 23) return AdapterRule::kR23;
    return AdapterRule::kOk;
}

const char* AdapterRuleText(AdapterRule rule) {
    switch (rule) {
    case AdapterRule::kR20:
        return "The Tarsel Firmware MUST be Revision 20 to function with\nthe version of Firmware currently on this "
               "Orvex.\n\nYou MUST put Firmware Revision 20 on your Tarsel using\nthe C2Update20o.exe program "
               "available from the Orvex\nFirmware Update Instructions on the Pelk Web Site.\n\nOnce you have put "
               "Firmware Revision 20 on your Tarsel\nyou may rerun this program to update your Orvex.";
    case AdapterRule::kR22:
        return "The Tarsel Firmware MUST be Revision 22 to function with\nthe version of Firmware currently on this "
               "Orvex.\n\nYou MUST put Firmware Revision 22 on your Tarsel using\nthe C2Update21o.exe program "
               "available from the Orvex\nFirmware Update Instructions on the Pelk Web Site.\n\nOnce you have put "
               "Firmware Revision 22 on your Tarsel\nyou may rerun this program to update your Orvex.";
    case AdapterRule::kR23:
        return "The Tarsel Firmware MUST be Revision 23 or higher to function with the\nversion of Firmware "
               "currently on this Orvex.\n\nPlease update your Tarsel Firmware before running OrvexUpdate again.";
    case AdapterRule::kOk: break;
    }
    return "";
}

}  // namespace rules
