#pragma once
// The updater's rules, free of any window: serial-number text and validity,
// the serial dialog's parsing, manufacture dates, release dates, the image
// name rule, the version split, image choice and the adapter firmware rule.
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace rules {

// ---- serial numbers ----
// Device ID 38, 39, 128 or 21; year 1-63; week 1-53; number 1-4095.
bool IsValidSerialNumber(uint32_t serial);
// The window's text: empty for a blank register (0, FFFFFFFF, or week 63),
// otherwise the ten characters DDYYWWNNNN.
std::string SerialNumberText(uint32_t serial);

enum class SerialEntry { kAccepted, kWrongLength, kInvalid };
// What the serial dialog makes of its field: exactly ten characters, the device
// ID as two hexadecimal digits, then year, week and number in decimal. The year
// is taken modulo 64 and the number modulo 4096, as the register layout holds
// them. A week typed as 64 or more is refused: it would spill into the year.
SerialEntry ParseSerialNumberText(const std::string& text, uint32_t* serial);

// ---- dates ----
// First day of the serial's week in year 2000 + its year, every February of
// 28 days; false (an empty field) when the serial is 0 or the week is not 1-53.
bool ManufactureDate(uint32_t serial, plat::LocalTime* date);
// Release date of a firmware revision in the target's table; false for
// revisions 0 and 63, an index past the table, and targets without a table.
bool ReleaseDate(uint8_t targetID, uint32_t revision, plat::LocalTime* date);
// "%b %d, %Y" with English month names: "Apr 17, 2013".
std::string FormatDate(const plat::LocalTime& date);

// ---- firmware images ----
struct ImageName {
    uint8_t deviceID = 255;
    uint16_t version = 65535;
    uint8_t pcb = 255;
};
// Reads device, version and PCB code from an image name (no directory; an
// extension may follow). False when the first four characters name no device,
// no digit stands where the version starts, or the name ends before its PCB field.
bool ReadImageName(const char* name, ImageName* image);
// The name without its directory; without its extension as well when asked.
std::string BaseName(const std::string& path, bool withoutExtension);
// Whether an embedded image suits the target: cards 19 and 21 take any, the
// DO-ZAZ takes 5.30 only when it is being taken back and anything else
// otherwise, every other target needs the image's PCB code to match.
bool ImageSuitsTarget(const ImageName& image, uint8_t targetID, uint8_t pcb, bool forceDowngrade);

struct Version {
    bool split;
    uint16_t major;
    uint8_t minor;
    std::string text;  // "%d.%d" when split, else "%d"
};
// Versions of 100 or more carry their minor part in the last two digits.
Version SplitVersion(uint16_t version);
// "%d", or "Not Present" for revisions 0 and 63.
std::string RevisionText(uint8_t revision);
// "%c" of P + 64 ("A" for 1), "NC" for 0.
std::string PcbText(uint8_t pcb);
// Card names of entry texts and descriptions; "Unknown" for any other kind.
const char* CardName(uint8_t kind);

// ---- adapter firmware ----
enum class AdapterRule { kOk, kR20, kR22, kR23 };
// Only the Tarsel (36) and Tarsel-R (37) are checked; unit revision 9 suits any adapter.
AdapterRule CheckAdapterFirmware(uint32_t adapterModel, uint8_t unitRevision, uint32_t adapterRevision);
const char* AdapterRuleText(AdapterRule rule);

extern const char* const kDoZazDownText;
extern const char* const kDoZazFirstText;

}  // namespace rules
