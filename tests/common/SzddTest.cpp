#include "common/Szdd.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <functional>
#include <string>
#include <vector>

namespace orvex {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- input generators ------------------------------------------------------

uint64_t Fnv1a64(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

struct SplitMix64 {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
};

Bytes Random(size_t n, uint64_t seed) {
    SplitMix64 rng{seed};
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng.Next() >> 56);
    return b;
}

// Firmware-like: erased runs, recurring code sequences with varying
// immediates, and random tables, as the embedded images are built.
Bytes FirmwareLike(const std::string& name, size_t n) {
    SplitMix64 rng{Fnv1a64(name)};
    std::vector<Bytes> snippets;
    for (int i = 0; i < 24; ++i) snippets.push_back(Random(8 + rng.Below(60), rng.Next()));
    Bytes b;
    while (b.size() < n) {
        uint32_t kind = rng.Below(8);
        if (kind < 5) {
            Bytes s = snippets[rng.Below(uint32_t(snippets.size()))];
            if (rng.Below(3) == 0) s[rng.Below(uint32_t(s.size()))] = uint8_t(rng.Next());
            b.insert(b.end(), s.begin(), s.end());
        } else if (kind < 7) {
            Bytes r = Random(32 + rng.Below(400), rng.Next());
            b.insert(b.end(), r.begin(), r.end());
        } else {
            b.insert(b.end(), 16 + rng.Below(1500), 0xFF);
        }
    }
    b.resize(n);
    return b;
}

Bytes Text(size_t n) {
    static const std::string kLines =
        "Sample rate 44.1 kHz, clock source internal, bank A running.\r\n"
        "Programming bank B: erase, write 128-byte packets, verify each.\r\n"
        "The unit reports its status by itself while programming is in progress.\r\n";
    Bytes b;
    for (size_t i = 0; b.size() < n; ++i) {
        b.insert(b.end(), kLines.begin(), kLines.end());
        b.push_back(uint8_t('0' + i % 10));  // keeps the repeats from being exact
    }
    b.resize(n);
    return b;
}

Bytes Repeated(const Bytes& block, int times) {
    Bytes b;
    for (int i = 0; i < times; ++i) b.insert(b.end(), block.begin(), block.end());
    return b;
}

Bytes Header(uint32_t length, uint8_t mode = 'A', uint8_t lastChar = 'N') {
    return {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, mode, lastChar,
            uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
}

long Expand(const Bytes& in, Bytes& out) { return SzddExpandBuffer(in.data(), in.size(), out); }

Bytes Prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); }

// ---- round trips -------------------------------------------------------------

struct RoundTripCase {
    const char* name;
    std::function<Bytes()> make;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class SzddRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(SzddRoundTrip, ExpandsToTheOriginalWithHeaderFields) {
    const Bytes data = GetParam().make();
    const Bytes packed = SzddCompress(data.data(), data.size(), 'N');

    uint32_t length = 0;
    char lastChar = 0;
    ASSERT_TRUE(SzddReadHeader(packed.data(), packed.size(), &length, &lastChar));
    EXPECT_EQ(length, data.size());
    EXPECT_EQ(lastChar, 'N');

    Bytes out{1, 2, 3};  // stale contents must not survive
    EXPECT_EQ(Expand(packed, out), long(data.size()));
    EXPECT_TRUE(out == data) << "first difference at "
                             << (std::mismatch(out.begin(), out.end(), data.begin(), data.end()).first - out.begin());

    EXPECT_EQ(SzddCompress(data.data(), data.size(), 'N'), packed) << "not deterministic";
    // Nothing is ever worse than all literals: 9 bytes per 8 plus the header.
    EXPECT_LE(packed.size(), kSzddHeaderSize + data.size() + (data.size() + 7) / 8);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SzddRoundTrip,
    ::testing::Values(
        RoundTripCase{"Empty", [] { return Bytes{}; }},
        RoundTripCase{"OneByte", [] { return Bytes{0x5A}; }},
        RoundTripCase{"OneSpace", [] { return Bytes{0x20}; }},
        RoundTripCase{"Firmware4095", [] { return FirmwareLike("A", 4095); }},
        RoundTripCase{"Firmware4096", [] { return FirmwareLike("A", 4096); }},
        RoundTripCase{"Firmware4097", [] { return FirmwareLike("A", 4097); }},
        RoundTripCase{"AllZero", [] { return Bytes(100000, 0x00); }},
        RoundTripCase{"AllSpaces", [] { return Bytes(10000, 0x20); }},
        RoundTripCase{"Text", [] { return Text(30000); }},
        RoundTripCase{"Random", [] { return Random(65536, 7); }},
        // Repeats just inside, at and beyond the farthest reach of a match.
        RoundTripCase{"RepeatAt4070", [] { return Repeated(Random(4070, 1), 3); }},
        RoundTripCase{"RepeatAt4078", [] { return Repeated(Random(4078, 2), 3); }},
        RoundTripCase{"RepeatAt4079", [] { return Repeated(Random(4079, 3), 3); }},
        RoundTripCase{"RepeatAt4096", [] { return Repeated(Random(4096, 4), 3); }},
        RoundTripCase{"Firmware212392", [] { return FirmwareLike("OV8028A.BIN", 212392); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Walks a container independently and answers how many matches reach back
// further than 4096 - 18 window positions, the range the classic tools
// produce; also checks the items add up to the declared length.
size_t FarMatches(const Bytes& data) {
    const Bytes packed = SzddCompress(data.data(), data.size(), 0);
    size_t ip = kSzddHeaderSize, produced = 0, far = 0;
    unsigned wpos = 4096 - 16;
    while (produced < data.size() && ip < packed.size()) {
        uint8_t flags = packed[ip++];
        for (int bit = 0; bit < 8 && produced < data.size() && ip < packed.size(); ++bit) {
            if (flags & (1 << bit)) {
                ++ip;
                ++produced;
                wpos = (wpos + 1) & 4095;
                continue;
            }
            if (ip + 1 >= packed.size()) return SIZE_MAX;
            unsigned at = packed[ip] | ((packed[ip + 1] & 0xF0u) << 4);
            unsigned len = (packed[ip + 1] & 0x0Fu) + 3;
            ip += 2;
            unsigned back = (wpos - at) & 4095;
            if (back == 0 || back > 4096 - 18) ++far;
            produced += len;
            wpos = (wpos + len) & 4095;
        }
    }
    EXPECT_EQ(produced, data.size());
    EXPECT_EQ(ip, packed.size());
    return far;
}

TEST(Szdd, CompressedMatchesStayInsideTheWindowLessLookahead) {
    // Repeats at 4085 would tempt a compressor that uses the whole window.
    EXPECT_EQ(FarMatches(Repeated(Random(4085, 5), 3)), 0u);
    EXPECT_EQ(FarMatches(Repeated(Random(4096, 6), 3)), 0u);
    EXPECT_EQ(FarMatches(FirmwareLike("XCDNT0102NC.BIN", 60000)), 0u);
    EXPECT_EQ(FarMatches(Text(20000)), 0u);
}

TEST(Szdd, CompressionRatioOnRepetitiveData) {
    struct Case {
        const char* name;
        Bytes data;
        double maxRatio;
    };
    const Case cases[] = {
        // 18 bytes per 2-byte match plus a flag bit: 2.125 / 18 = 11.8 %.
        {"zeros", Bytes(100000, 0), 0.12},
        // Spaces match the expander's initial window from the first byte on.
        {"spaces", Bytes(4096, 0x20), 0.125},
        {"text", Text(30000), 0.15},
        {"firmware-like", FirmwareLike("OVF031B.BIN", 212392), 0.65},
    };
    for (const Case& c : cases) {
        Bytes packed = SzddCompress(c.data.data(), c.data.size(), 0);
        double ratio = double(packed.size()) / double(c.data.size());
        EXPECT_LT(ratio, c.maxRatio) << c.name << ": " << packed.size() << " of " << c.data.size();
    }
}

TEST(Szdd, HeaderKeepsLastCharacterAndLength) {
    const Bytes data = Text(1234);
    for (char c : {'N', '_', '$', '\0'}) {
        Bytes packed = SzddCompress(data.data(), data.size(), c);
        ASSERT_GE(packed.size(), kSzddHeaderSize);
        EXPECT_EQ(Prefix(packed, kSzddHeaderSize), Header(1234, 'A', uint8_t(c)));
    }
}

// ---- the expander on hand-written containers -----------------------------

// Built byte by byte, independent of the compressor. Window positions start
// at 4080 (0xFF0); all others hold spaces until written.
const Bytes kHandBody = {
    0x1A,              // flags: literals at items 1, 3, 4
    0x00, 0x02,        // match 0x000, 5: five initial spaces
    'x',               // literal, lands at 0xFF5
    0xF5, 0xF3,        // match 0xFF5, 6: overlaps its own output: "xxxxxx"
    'A', 'B',          // literals at 0xFFC, 0xFFD
    0xFC, 0xF1,        // match 0xFFC, 4: overlapping, writes wrap to 0: "ABAB"
    0xFE, 0xF1,        // match 0xFFE, 4: reads across the wrap: "ABAB"
    0x23, 0x1F,        // match 0x123, 18: never written, spaces
    0x01,              // flags: literal
    'Z',
};
const std::string kHandText = "     xxxxxxxABABABABAB" + std::string(18, ' ') + "Z";

Bytes HandContainer(uint32_t declared) {
    Bytes b = Header(declared);
    b.insert(b.end(), kHandBody.begin(), kHandBody.end());
    return b;
}

TEST(Szdd, ExpandsHandBuiltContainer) {
    ASSERT_EQ(kHandText.size(), 41u);
    Bytes out;
    EXPECT_EQ(Expand(HandContainer(41), out), 41);
    EXPECT_EQ(std::string(out.begin(), out.end()), kHandText);
}

TEST(Szdd, TruncationIsAReadErrorUnlessEverythingNeededIsPresent) {
    // needed: the input length at which the last byte of the declared output
    // has been read, worked out from the items above.
    struct Case {
        uint32_t declared;
        size_t needed;
    };
    const Case cases[] = {
        {0, 14},   // header only, no flag byte needed
        {1, 17},   // flag + first match
        {12, 20},  // ends on the last byte of the overlapping match
        {13, 21},  // one more literal
        {40, 28},  // ends with the 18-space match, second group not needed
        {41, 30},  // everything
    };
    for (const Case& c : cases) {
        Bytes full = HandContainer(c.declared);
        full.insert(full.end(), {0x00, 0x00, 0x00});  // more data than needed is ignored
        for (size_t cut = 14; cut <= full.size(); ++cut) {
            Bytes out;
            long r = Expand(Prefix(full, cut), out);
            if (cut >= c.needed) {
                EXPECT_EQ(r, long(c.declared)) << "declared " << c.declared << " cut " << cut;
                EXPECT_EQ(std::string(out.begin(), out.end()), kHandText.substr(0, c.declared));
            } else {
                EXPECT_EQ(r, kLzErrorRead) << "declared " << c.declared << " cut " << cut;
                EXPECT_TRUE(out.empty());
            }
        }
    }
}

TEST(Szdd, TruncatedCompressorOutputIsAReadErrorAtEveryCut) {
    // The compressor emits nothing the output does not need, so any cut after
    // the header loses part of the file.
    for (size_t size : {1u, 40u, 5000u}) {
        const Bytes data = FirmwareLike("XCUSB5V30.BIN", size);
        const Bytes packed = SzddCompress(data.data(), data.size(), 'N');
        for (size_t cut = kSzddHeaderSize; cut < packed.size(); ++cut) {
            Bytes out;
            ASSERT_EQ(Expand(Prefix(packed, cut), out), kLzErrorRead) << "size " << size << " cut " << cut;
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(Szdd, HeaderCutsAndSignature) {
    const Bytes full = HandContainer(41);
    for (size_t cut = 0; cut < kSzddHeaderSize; ++cut) {
        Bytes in = Prefix(full, cut);
        Bytes out;
        long r = Expand(in, out);
        if (cut < 8) {
            // Not even a whole signature: an uncompressed file, copied.
            EXPECT_EQ(r, long(cut));
            EXPECT_EQ(out, in);
        } else {
            EXPECT_EQ(r, kLzErrorUnknownAlg) << cut;
            EXPECT_TRUE(out.empty());
        }
        EXPECT_EQ(SzddHasSignature(in.data(), in.size()), cut >= 8);
        EXPECT_FALSE(SzddReadHeader(in.data(), in.size(), nullptr, nullptr));
    }
}

TEST(Szdd, BufferWithoutSignatureIsCopiedThrough) {
    std::vector<Bytes> inputs = {Random(1000, 9), HandContainer(41)};
    inputs[1][7] ^= 0x01;  // one bit off the signature
    for (const Bytes& in : inputs) {
        Bytes out;
        EXPECT_EQ(Expand(in, out), long(in.size()));
        EXPECT_EQ(out, in);
        EXPECT_FALSE(SzddHasSignature(in.data(), in.size()));
    }
}

TEST(Szdd, ModeOtherThanAIsUnknownAlgorithm) {
    for (uint8_t mode : {uint8_t('B'), uint8_t('a'), uint8_t(0), uint8_t(0xFF)}) {
        Bytes in = HandContainer(41);
        in[8] = mode;
        Bytes out;
        EXPECT_EQ(Expand(in, out), kLzErrorUnknownAlg) << int(mode);
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(SzddReadHeader(in.data(), in.size(), nullptr, nullptr));
    }
}

TEST(Szdd, DeclaredLengthLimit) {
    struct Case {
        uint32_t declared;
        long expected;
    };
    const Case cases[] = {
        {kSzddMaxExpandedLength + 1, kLzErrorGlobAlloc},
        {0xFFFFFFFFu, kLzErrorGlobAlloc},
        {kSzddMaxExpandedLength, kLzErrorRead},  // allowed, but the data runs out
    };
    for (const Case& c : cases) {
        Bytes in = Header(c.declared);
        Bytes body = Random(1000, c.declared);
        in.insert(in.end(), body.begin(), body.end());
        Bytes out;
        EXPECT_EQ(Expand(in, out), c.expected) << c.declared;
        // What the header claims is not reserved up front.
        EXPECT_LT(out.capacity(), size_t(1) << 20) << c.declared;
    }
}

TEST(Szdd, GarbageAfterValidHeaderNeverOverrunsTheDeclaredLength) {
    for (uint64_t seed = 1; seed <= 200; ++seed) {
        SplitMix64 rng{seed};
        uint32_t declared = rng.Below(3) == 0 ? rng.Below(64) : rng.Below(200000);
        Bytes in = Header(declared);
        Bytes body = Random(rng.Below(20000), seed * 31);
        in.insert(in.end(), body.begin(), body.end());
        Bytes out;
        long r = Expand(in, out);
        // Every 17 bytes of body give at least 8 bytes of output, so a body
        // that long must produce the declared length exactly.
        size_t surelyEnough = (size_t(declared) + 7) / 8 * 17 + 17;
        if (body.size() >= surelyEnough) {
            EXPECT_EQ(r, long(declared)) << "seed " << seed;
        }
        if (r >= 0) {
            EXPECT_EQ(r, long(declared));
            EXPECT_EQ(out.size(), size_t(declared));
        } else {
            EXPECT_EQ(r, kLzErrorRead) << "seed " << seed;
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(Szdd, NullOrEmptyInput) {
    Bytes out{1};
    EXPECT_EQ(SzddExpandBuffer(nullptr, 0, out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(SzddHasSignature(nullptr, 14));
    Bytes packed = SzddCompress(nullptr, 0, 'X');
    EXPECT_EQ(packed, Header(0, 'A', 'X'));
}

}  // namespace
}  // namespace orvex
