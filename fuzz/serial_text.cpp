// The serial-number text: what the serial dialog makes of its field
// (rules::ParseSerialNumberText) and the text the window shows
// (rules::SerialNumberText).
//
// First input byte even: the rest is the field's text. Only ten characters
// are read; the device ID is the hexadecimal number, and year, week and
// number the decimal numbers, that the characters begin with (up to the first
// character that is not a digit); the year is kept modulo 64, the number
// modulo 4,096; a week of 64 or more is refused, and so is any value the
// validity rule refuses. An accepted value's own text reads back as the same
// value.
// First input byte odd: a serial word. When it is valid, its text reads back
// as the same word.
#include <cstring>

#include "fuzz/support/Fuzz.h"
#include "protocol/SerialNumber.h"
#include "updater/FirmwareRules.h"

namespace {

uint32_t Leading(const std::string& t, size_t at, size_t length, uint32_t base) {
    uint32_t value = 0;
    for (size_t i = at; i < at + length; ++i) {
        const char c = t[i];
        uint32_t d;
        if (c >= '0' && c <= '9') d = uint32_t(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
        else break;
        value = value * base + d;
    }
    return value;
}

void CheckText(const std::string& text) {
    uint32_t serial = 0xDEADBEEF;
    const rules::SerialEntry entry = rules::ParseSerialNumberText(text, &serial);
    if (text.size() != 10) {
        ORVEX_FUZZ_CHECK(entry == rules::SerialEntry::kWrongLength && serial == 0xDEADBEEF, "\"" + text + "\"");
        return;
    }
    const uint32_t id = Leading(text, 0, 2, 16), year = Leading(text, 2, 2, 10) % 64, week = Leading(text, 4, 2, 10),
                   number = Leading(text, 6, 4, 10) % 4096;
    uint32_t expected = 0;
    const bool fits = week < 64 && orvex::BuildSerialNumber(uint8_t(id), year, week, number, &expected) &&
                      rules::IsValidSerialNumber(expected);
    ORVEX_FUZZ_CHECK(entry == (fits ? rules::SerialEntry::kAccepted : rules::SerialEntry::kInvalid), "\"" + text + "\"");
    if (!fits) {
        ORVEX_FUZZ_CHECK(serial == 0xDEADBEEF, "a refused text changed the value: \"" + text + "\"");
        return;
    }
    ORVEX_FUZZ_CHECK(serial == expected, "\"" + text + "\"");
    uint32_t again = 0;
    const std::string shown = rules::SerialNumberText(serial);
    ORVEX_FUZZ_CHECK(rules::ParseSerialNumberText(shown, &again) == rules::SerialEntry::kAccepted && again == serial,
                     "\"" + text + "\" shows as \"" + shown + "\"");
}

void CheckWord(uint32_t serial) {
    const std::string shown = rules::SerialNumberText(serial);
    if (!rules::IsValidSerialNumber(serial)) return;
    uint32_t again = 0;
    ORVEX_FUZZ_CHECK(shown.size() == 10 && rules::ParseSerialNumberText(shown, &again) == rules::SerialEntry::kAccepted &&
                         again == serial,
                     "\"" + shown + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    if (in.Byte() % 2 == 0) {
        CheckText(in.Text(16));
    } else {
        CheckWord(in.U32());
    }
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    // Serials as printed on units of each kind, a blank one, and typing slips.
    for (const char* text : {"2612150123", "2701010001", "8063534095", "1517200042", "2612154096", "26121501",
                             "26a2150123", "2612640123", "FF12150123", "2612 50123"}) {
        std::vector<uint8_t> s = {0};
        s.insert(s.end(), text, text + std::strlen(text));
        seeds.push_back(s);
    }
    seeds.push_back(fuzz::InputWriter().Byte(1).U32(0x26C0F07B).Data());
}
