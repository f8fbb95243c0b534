// The image-name rule (rules::ReadImageName) and the base name it is given
// (rules::BaseName), on any text. The rule's answer is checked against the
// naming table: the first four characters name the device and where its
// version and PCB fields stand; the version is the decimal number there, held
// in 16 bits; "NC" is PCB code 0, any other character its code minus 64.
// The name lies in a buffer of exactly its length, so a read past its end is
// caught.
#include <cstring>
#include <memory>

#include "fuzz/support/Fuzz.h"
#include "updater/FirmwareRules.h"

namespace {

struct Key {
    const char* prefix;
    uint8_t device;
    size_t versionAt;
    int pcbAt;  // -1: none
};
constexpr Key kKeys[] = {
    {"OV80", 39, 3, 6}, {"OVF0", 38, 3, 6}, {"RL40", 128, 3, 6}, {"XCMA", 19, 4, 7},
    {"XCHD", 24, 4, 7}, {"XCFW", 25, 4, 7}, {"XCDN", 21, 5, 9}, {"XCUS", 50, 5, -1},
};

bool Digit(char c) { return c >= '0' && c <= '9'; }

// What the table says of a name; false leaves the fields at 255, 65535, 255.
bool Expected(const std::string& name, rules::ImageName* image) {
    *image = rules::ImageName{};
    if (name.size() < 4) return false;
    for (const Key& key : kKeys) {
        if (name.compare(0, 4, key.prefix) != 0) continue;
        if (name.size() <= key.versionAt || !Digit(name[key.versionAt])) return false;
        if (key.pcbAt >= 0 && name.size() <= size_t(key.pcbAt)) return false;
        uint16_t version = 0;
        for (size_t i = key.versionAt; i < name.size() && Digit(name[i]); ++i)
            version = uint16_t(version * 10 + (name[i] - '0'));
        image->deviceID = key.device;
        image->version = version;
        image->pcb = key.pcbAt < 0 || name.compare(size_t(key.pcbAt), 2, "NC") == 0 ? 0 : uint8_t(name[key.pcbAt] - 64);
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    auto exact = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(exact.get(), text.c_str(), text.size() + 1);

    rules::ImageName image, expected;
    const bool known = rules::ReadImageName(exact.get(), &image);
    ORVEX_FUZZ_CHECK(known == Expected(text, &expected), "\"" + text + "\"");
    ORVEX_FUZZ_CHECK(image.deviceID == expected.deviceID && image.version == expected.version && image.pcb == expected.pcb,
                     "\"" + text + "\": device " + std::to_string(image.deviceID) + " version " +
                         std::to_string(image.version) + " pcb " + std::to_string(image.pcb));

    // The base name has no directory left; without its extension it loses the
    // last dot and what follows, nothing more.
    const std::string base = rules::BaseName(text, false), bare = rules::BaseName(text, true);
    ORVEX_FUZZ_CHECK(base.find_first_of("\\/:") == std::string::npos && text.size() >= base.size() &&
                         text.compare(text.size() - base.size(), base.size(), base) == 0,
                     "\"" + text + "\" -> \"" + base + "\"");
    const bool cut = bare.size() < base.size();
    ORVEX_FUZZ_CHECK(base.compare(0, bare.size(), bare) == 0 && cut == (base.find('.') != std::string::npos) &&
                         (!cut || (base[bare.size()] == '.' && base.find('.', bare.size() + 1) == std::string::npos)),
                     "\"" + text + "\" -> \"" + bare + "\"");
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    // The nine embedded images, a user's file with a path, and the short forms.
    for (const char* name : {"OV8028A.BIN", "OV8031B.BIN", "OVF028A.BIN", "OVF031B.BIN", "RL4029C.BIN",
                             "XCDNT0102NC.BIN", "XCHD015B.BIN", "XCMA006B.BIN", "XCUSB10V00.BIN", "XCUSB5V30.BIN",
                             "C:\\Images\\OVF031B.BIN", "/tmp/XCFW012A", "XCUSB7", "OVF0XXB"})
        seeds.emplace_back(name, name + std::strlen(name));
}
