// The DO-ZAZ card's texts: CXCUSB::Open binds a driver library whose device
// properties (three 128-character UTF-16 fields, terminated or not, any code
// units, halves of surrogate pairs included) and driver figures come from the
// input, and logs them. The log line must carry each field as UTF-8, up to
// its terminator or the end of its field: pairs joined, a half pair as "?".
// Nothing may be read past a field.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/Log.h"
#include "fuzz/support/Fuzz.h"
#include "platform/Platform.h"
#include "usbcard/XCUSB.h"

namespace {

using namespace usbaudio;

struct Driver {
    USBAUDIO_STATUS enumerate = 0;
    USBAUDIO_DRIVER_INFO info{};
    USBAUDIO_STATUS infoStatus = 0;
    uint32_t devices = 1;
    USBAUDIO_DEVICE_PROPERTIES properties{};
};
Driver g_driver;

// Every export answers success with nothing to say, except those the open reads.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define ORVEX_FUZZ_STUB(result, name, parameters, arguments) \
    result ORVEX_USBAUDIO_API Stub_##name parameters { return {}; }
ORVEX_USBAUDIO_FUNCTIONS(ORVEX_FUZZ_STUB)
#undef ORVEX_FUZZ_STUB
#pragma GCC diagnostic pop

USBAUDIO_STATUS ORVEX_USBAUDIO_API Enumerate() { return g_driver.enumerate; }
uint32_t ORVEX_USBAUDIO_API DeviceCount() { return g_driver.devices; }
USBAUDIO_STATUS ORVEX_USBAUDIO_API DriverInfo(USBAUDIO_DRIVER_INFO* info) {
    *info = g_driver.info;
    return g_driver.infoStatus;
}
USBAUDIO_STATUS ORVEX_USBAUDIO_API OpenByIndex(uint32_t, USBAUDIO_HANDLE* handle) {
    *handle = 1;
    return 0;
}
USBAUDIO_STATUS ORVEX_USBAUDIO_API Properties(USBAUDIO_HANDLE, USBAUDIO_DEVICE_PROPERTIES* properties) {
    *properties = g_driver.properties;
    return 0;
}

plat::ProcAddress Resolve(plat::LibraryHandle, const char* name) {
    const std::string n = name;
    if (n == "USBAUDIO_EnumerateDevices") return reinterpret_cast<plat::ProcAddress>(&Enumerate);
    if (n == "USBAUDIO_GetDeviceCount") return reinterpret_cast<plat::ProcAddress>(&DeviceCount);
    if (n == "USBAUDIO_GetDriverInfo") return reinterpret_cast<plat::ProcAddress>(&DriverInfo);
    if (n == "USBAUDIO_OpenDeviceByIndex") return reinterpret_cast<plat::ProcAddress>(&OpenByIndex);
    if (n == "USBAUDIO_GetDeviceProperties") return reinterpret_cast<plat::ProcAddress>(&Properties);
#define ORVEX_FUZZ_RESOLVE(result, name, parameters, arguments) \
    if (n == #name) return reinterpret_cast<plat::ProcAddress>(&Stub_##name);
    ORVEX_USBAUDIO_FUNCTIONS(ORVEX_FUZZ_RESOLVE)
#undef ORVEX_FUZZ_RESOLVE
    return nullptr;
}

int g_library;
const orvex::CXCUSB::LibrarySource kSource{
    [](const std::string&) { return reinterpret_cast<plat::LibraryHandle>(&g_library); },
    Resolve,
    [](plat::LibraryHandle) {},
};

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string Expected(const char16_t* field) {
    std::string out;
    for (size_t i = 0; i < USBAUDIO_MAX_TEXT && field[i]; ++i) {
        const uint32_t u = field[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < USBAUDIO_MAX_TEXT && field[i + 1] >= 0xDC00 && field[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (field[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, high || low ? '?' : u);
        }
    }
    return out;
}

void ReadField(fuzz::Input& in, char16_t (&field)[USBAUDIO_MAX_TEXT]) {
    // Code units from the input; the field ends where the input says, or not at all.
    static constexpr char16_t kUnits[] = {u'A', u'z', u' ', u'[', u']', 0x00E9, 0x20AC, 0xD83C, 0xDFB5, 0xDC00, 0xFFFF};
    const uint32_t length = in.Range(0, USBAUDIO_MAX_TEXT);
    for (uint32_t i = 0; i < USBAUDIO_MAX_TEXT; ++i) {
        const uint8_t b = in.Byte();
        field[i] = i < length ? (b & 0x80 ? kUnits[b % 11] : char16_t(in.U16())) : char16_t(b | 1);
    }
    if (length < USBAUDIO_MAX_TEXT) field[length] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = fuzz::ScratchDirectory() + "/usb";
    static bool once = [] {
        std::filesystem::create_directory(dir);
        plat::SetMessageBoxAnswerer([](const std::string&, const std::string&, unsigned) { return 1; });
        orvex::CXCUSB::SetLibrarySource(&kSource);
        return chdir(dir.c_str()) == 0;
    }();
    ORVEX_FUZZ_CHECK(once, "log directory");

    fuzz::Input in(data, size);
    g_driver = Driver{};
    g_driver.enumerate = in.Bool() ? USBAUDIO_STATUS_CUSTOM_INI_MISSING : 0;
    g_driver.infoStatus = in.Bool() ? 1 : 0;
    g_driver.info.driverMajorVersion = in.U32();
    g_driver.info.driverMinorVersion = in.U32();
    g_driver.info.driverPatchVersion = in.U32();
    ReadField(in, g_driver.properties.serialNumber);
    ReadField(in, g_driver.properties.manufacturer);
    ReadField(in, g_driver.properties.product);

    {
        orvex::CXCUSB card;
        ORVEX_FUZZ_CHECK(card.Open(0), "open");
    }
    orvex::LogClose();
    std::ifstream file("OrvexUpdate.log", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), {});
    file.close();
    std::remove("OrvexUpdate.log");

    const USBAUDIO_DEVICE_PROPERTIES& p = g_driver.properties;
    const std::string line = "Found DO-ZAZ [" + Expected(p.manufacturer) + "] [" + Expected(p.product) + "] [" +
                             Expected(p.serialNumber) + "]\n";
    ORVEX_FUZZ_CHECK(log.find(line) != std::string::npos, "expected " + line + "in\n" + log);
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    // A card as its driver describes it: plain texts, an accented manufacturer,
    // a product name with a character outside the basic plane, a full field.
    auto field = [](fuzz::InputWriter& w, const std::u16string& text, bool full = false) {
        w.Range(0, 128, full ? 128 : uint32_t(text.size()));
        for (size_t i = 0; i < 128; ++i) {
            const char16_t c = full ? text[i % text.size()] : i < text.size() ? text[i] : u'x';
            if (i < (full ? 128 : text.size())) w.Byte(0).U16(uint16_t(c));
            else w.Byte(uint8_t(c));
        }
    };
    fuzz::InputWriter a;
    a.Bool(false).Bool(false).U32(2).U32(1).U32(7);
    field(a, u"DZ00123");
    field(a, u"Corvane");
    field(a, u"DO-ZAZ USB Audio");
    seeds.push_back(a.Data());
    fuzz::InputWriter b;
    b.Bool(true).Bool(true).U32(0xFFFFFFFF).U32(0).U32(0);
    field(b, u"0123456789ABCDEF", true);
    field(b, u"Corvan\u00e9 \u20ac");
    field(b, u"DO-ZAZ \U0001F3B5 \xD800 end");
    seeds.push_back(b.Data());
}
