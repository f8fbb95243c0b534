// genimage NAME SIZE OUT [REVISION MINOR]
//
// Writes a synthetic firmware image of SIZE bytes for the embedded resources.
// The header carries the firmware revision and its minor part at bytes 0x110
// and 0x111, where the emulated units read the revision of the bank they boot.
// The bytes depend only on NAME and SIZE (integer arithmetic only, our own
// generator), so every machine builds identical images. The mix follows what
// real converter firmware looks like to a compressor: a vector table and a
// header naming the image, code built from recurring instruction sequences
// with varying immediates, pseudo-random tables, strings, and erased (0xFF)
// flash.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kMaxSize = 64u * 1024u * 1024u;

uint64_t Fnv1a64(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform enough for picking sizes; exact bias does not matter here.
    uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }

private:
    uint64_t state_;
};

// The image under construction; writes past its end are dropped, so every
// section generator can ignore how much room is left.
class Image {
public:
    explicit Image(size_t size) : bytes_(size, 0xFF) {}
    size_t Pos() const { return pos_; }
    size_t Size() const { return bytes_.size(); }
    bool Full() const { return pos_ >= bytes_.size(); }
    void Byte(uint8_t b) {
        if (pos_ < bytes_.size()) bytes_[pos_] = b;
        ++pos_;
    }
    void Le32(uint32_t v) {
        for (int i = 0; i < 4; ++i) Byte(uint8_t(v >> (8 * i)));
    }
    void Le16(uint16_t v) {
        Byte(uint8_t(v));
        Byte(uint8_t(v >> 8));
    }
    void Text(const std::string& s, size_t field) {  // NUL-padded field
        for (size_t i = 0; i < field; ++i) Byte(i < s.size() ? uint8_t(s[i]) : 0);
    }
    void Fill(uint8_t b, size_t n) {
        for (size_t i = 0; i < n; ++i) Byte(b);
    }
    void PadTo(size_t at, uint8_t b) {
        while (pos_ < at) Byte(b);
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

constexpr uint32_t kFlashBase = 0x08000000;

constexpr size_t kRevisionOffset = 0x110;

void WriteVectorTable(Image& img, SplitMix64& rng, const std::string& name, uint32_t size, uint8_t revision,
                      uint8_t minor) {
    img.Le32(0x20010000);                         // initial stack
    uint32_t defaultHandler = kFlashBase + 0x200 + (rng.Below(0x400) & ~1u);
    for (int i = 1; i < 48; ++i) {
        // Most vectors share the default handler, as unused interrupts do.
        bool own = i < 8 || rng.Below(4) == 0;
        uint32_t target = own ? kFlashBase + 0x200 + (rng.Below(size ? size : 1) & ~1u) : defaultHandler;
        img.Le32(target | 1);
    }
    img.PadTo(0xC0, 0xFF);
    img.Text("ORVXIMG1", 8);
    img.Text(name, 32);
    img.Le32(size);
    img.Le32(uint32_t(Fnv1a64(name)));
    img.Text("Orvex converter firmware", 32);
    img.PadTo(kRevisionOffset, 0xFF);
    img.Byte(revision);
    img.Byte(minor);
    img.PadTo(0x200, 0xFF);
}

struct Routine {
    std::vector<uint32_t> words;
};

std::vector<Routine> MakeRoutines(SplitMix64& rng) {
    // A small instruction vocabulary so routines themselves share sequences.
    std::vector<uint32_t> vocabulary(40);
    for (auto& w : vocabulary) w = uint32_t(rng.Next());
    vocabulary[0] = 0xB5F0B082;  // prologue-like
    vocabulary[1] = 0xBDF0B002;  // epilogue-like
    std::vector<Routine> routines(48);
    for (auto& r : routines) {
        uint32_t n = rng.Range(4, 24);
        r.words.push_back(vocabulary[0]);
        for (uint32_t i = 0; i < n; ++i) r.words.push_back(vocabulary[2 + rng.Below(38)]);
        r.words.push_back(vocabulary[1]);
    }
    return routines;
}

void WriteCode(Image& img, SplitMix64& rng, const std::vector<Routine>& routines) {
    uint32_t count = rng.Range(4, 40);
    for (uint32_t i = 0; i < count; ++i) {
        // Skewed choice: a few routines (inlined helpers) recur far more often.
        uint32_t a = rng.Below(uint32_t(routines.size()));
        uint32_t b = rng.Below(uint32_t(routines.size()));
        const Routine& r = routines[a < b ? a : b];
        for (uint32_t w : r.words) {
            // Immediates and branch offsets differ between copies.
            if (rng.Below(6) == 0) w = (w & 0xFFFF0000u) | uint32_t(rng.Below(0x10000));
            img.Le32(w);
        }
    }
}

void WriteRandom(Image& img, SplitMix64& rng) {
    uint32_t n = rng.Range(64, 1024);
    for (uint32_t i = 0; i < n; ++i) img.Byte(uint8_t(rng.Next() >> 56));
}

void WritePadding(Image& img, SplitMix64& rng) {
    // Erased flash up to the next 256-byte boundary, sometimes a few pages more.
    size_t to = (img.Pos() + 256) & ~size_t(255);
    to += 256 * rng.Below(4);
    img.PadTo(to, 0xFF);
}

void WriteStrings(Image& img, SplitMix64& rng, const std::string& name) {
    static const char* const kStrings[] = {
        "Sample rate", "Clock source", "Internal", "Word clock", "AES/EBU", "ADAT", "S/PDIF",
        "Lock", "Sync", "Bank A", "Bank B", "Programming", "Verify error", "Erase", "Ready",
        "Overload", "Meter", "Input", "Output", "Gain", "Phantom power", "Headphones",
    };
    uint32_t n = rng.Range(3, 12);
    for (uint32_t i = 0; i < n; ++i) {
        std::string s = rng.Below(8) == 0 ? name : kStrings[rng.Below(sizeof kStrings / sizeof *kStrings)];
        for (char c : s) img.Byte(uint8_t(c));
        img.Byte(0);
    }
    while (img.Pos() % 4) img.Byte(0);
}

void WriteTable(Image& img, SplitMix64& rng) {
    // A smooth 16-bit curve (gain or filter table): steps that vary a little.
    uint32_t n = rng.Range(32, 256);
    uint32_t v = rng.Below(0x1000);
    uint32_t step = rng.Range(1, 64);
    for (uint32_t i = 0; i < n; ++i) {
        img.Le16(uint16_t(v));
        v += step + rng.Below(3);
    }
}

std::vector<uint8_t> Generate(const std::string& name, uint32_t size, uint8_t revision, uint8_t minor) {
    SplitMix64 rng(Fnv1a64(name) ^ (uint64_t(size) * 0x9e3779b97f4a7c15ull));
    Image img(size);
    WriteVectorTable(img, rng, name, size, revision, minor);
    std::vector<Routine> routines = MakeRoutines(rng);
    // The top of the part stays erased, as in a real image; the last four
    // bytes carry a checksum of everything before them.
    size_t used = size - size / 16;
    while (img.Pos() < used) {
        uint32_t kind = rng.Below(16);
        if (kind < 9) WriteCode(img, rng, routines);
        else if (kind < 11) WriteRandom(img, rng);
        else if (kind < 13) WritePadding(img, rng);
        else if (kind < 15) WriteStrings(img, rng, name);
        else WriteTable(img, rng);
    }
    std::vector<uint8_t>& bytes = img.Bytes();
    for (size_t i = used; i < bytes.size(); ++i) bytes[i] = 0xFF;
    if (bytes.size() >= 0x200 + 4) {
        uint32_t sum = 0x811c9dc5u;
        for (size_t i = 0; i + 4 < bytes.size(); ++i) sum = (sum ^ bytes[i]) * 0x01000193u;
        for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = uint8_t(sum >> (8 * i));
    }
    return bytes;
}

bool ParseSize(const char* text, uint32_t* size) {
    if (!*text) return false;
    uint64_t v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + uint64_t(*p - '0');
        if (v > kMaxSize) return false;
    }
    *size = uint32_t(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: genimage NAME SIZE OUT [REVISION MINOR]\n");
        return 2;
    }
    uint32_t size = 0, revision = 0xFF, minor = 0xFF;
    if (!ParseSize(argv[2], &size)) {
        std::fprintf(stderr, "genimage: SIZE must be a decimal number up to %llu\n",
                     static_cast<unsigned long long>(kMaxSize));
        return 2;
    }
    if (argc == 6 && (!ParseSize(argv[4], &revision) || !ParseSize(argv[5], &minor) || revision > 255 || minor > 255)) {
        std::fprintf(stderr, "genimage: REVISION and MINOR are numbers up to 255\n");
        return 2;
    }
    std::vector<uint8_t> bytes = Generate(argv[1], size, uint8_t(revision), uint8_t(minor));
    FILE* f = std::fopen(argv[3], "wb");
    if (!f) {
        std::fprintf(stderr, "genimage: cannot create %s: %s\n", argv[3], std::strerror(errno));
        return 1;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "genimage: cannot write %s\n", argv[3]);
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
