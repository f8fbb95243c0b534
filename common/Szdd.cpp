#include "common/Szdd.h"

#include <algorithm>
#include <array>

namespace orvex {
namespace {

constexpr std::array<uint8_t, 8> kSignature = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kModeA = 'A';

constexpr unsigned kWindowSize = 4096;
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr unsigned kWindowStart = kWindowSize - 16;  // first write position
constexpr uint8_t kWindowFill = 0x20;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;  // 4-bit length field + 3

// The original tools never reach further back than the window less one
// lookahead; staying inside that keeps our containers within what every
// expander has been fed.
constexpr size_t kMaxDistance = kWindowSize - kMaxMatch;
constexpr unsigned kChainDepth = 256;
constexpr unsigned kHashBits = 15;

uint32_t Hash3(const uint8_t* p) {
    uint32_t v = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Match finder over a buffer that starts with a full window of spaces, so
// matches may reach into the expander's initial window like any other bytes.
class MatchFinder {
public:
    explicit MatchFinder(const std::vector<uint8_t>& buf)
        : buf_(buf), head_(size_t(1) << kHashBits, -1), prev_(buf.size(), -1) {}

    // Enters every position before pos into the chains.
    void InsertUpTo(size_t pos) {
        while (inserted_ < pos) {
            if (inserted_ + kMinMatch <= buf_.size()) {
                uint32_t h = Hash3(&buf_[inserted_]);
                prev_[inserted_] = head_[h];
                head_[h] = int32_t(inserted_);
            }
            ++inserted_;
        }
    }

    // Longest match for pos (nearest wins a tie); length 0 when under kMinMatch.
    size_t Find(size_t pos, size_t* source) {
        InsertUpTo(pos);
        size_t limit = std::min(kMaxMatch, buf_.size() - pos);
        if (limit < kMinMatch) return 0;
        size_t best = 0;
        int32_t cand = head_[Hash3(&buf_[pos])];
        for (unsigned depth = 0; cand >= 0 && depth < kChainDepth; ++depth) {
            size_t c = size_t(cand);
            if (pos - c > kMaxDistance) break;
            size_t len = 0;
            // c + len may pass pos: an overlapping copy, which the expander
            // reproduces because it writes each byte before reading the next.
            while (len < limit && buf_[c + len] == buf_[pos + len]) ++len;
            if (len > best) {
                best = len;
                *source = c;
                if (len == limit) break;
            }
            cand = prev_[c];
        }
        return best >= kMinMatch ? best : 0;
    }

private:
    const std::vector<uint8_t>& buf_;
    std::vector<int32_t> head_;
    std::vector<int32_t> prev_;
    size_t inserted_ = 0;
};

}  // namespace

bool SzddHasSignature(const uint8_t* in, size_t n) {
    return in && n >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), in);
}

bool SzddReadHeader(const uint8_t* in, size_t n, uint32_t* expandedLength, char* lastChar) {
    if (!SzddHasSignature(in, n) || n < kSzddHeaderSize || in[8] != kModeA) return false;
    if (expandedLength)
        *expandedLength = uint32_t(in[10]) | (uint32_t(in[11]) << 8) | (uint32_t(in[12]) << 16) |
                          (uint32_t(in[13]) << 24);
    if (lastChar) *lastChar = char(in[9]);
    return true;
}

std::vector<uint8_t> SzddCompress(const uint8_t* data, size_t size, char lastChar) {
    std::vector<uint8_t> out(kSignature.begin(), kSignature.end());
    out.push_back(kModeA);
    out.push_back(uint8_t(lastChar));
    PutLe32(out, uint32_t(size));
    if (!data || size == 0) return out;

    // Buffer index i stands for window position (i + kWindowStart) mod 4096.
    std::vector<uint8_t> buf(kWindowSize + size, kWindowFill);
    std::copy(data, data + size, buf.begin() + kWindowSize);
    MatchFinder finder(buf);

    size_t flagAt = 0;
    unsigned bit = 8;
    auto nextItem = [&](bool literal) {
        if (bit == 8) {
            flagAt = out.size();
            out.push_back(0);
            bit = 0;
        }
        if (literal) out[flagAt] = uint8_t(out[flagAt] | (1u << bit));
        ++bit;
    };

    size_t pos = kWindowSize;
    size_t src = 0;
    size_t len = finder.Find(pos, &src);
    while (pos < buf.size()) {
        // One step of lazy evaluation: a longer match starting one byte later
        // is worth a literal now.
        if (len > 0 && len < kMaxMatch && pos + 1 < buf.size()) {
            size_t nextSrc = 0;
            size_t nextLen = finder.Find(pos + 1, &nextSrc);
            if (nextLen > len) {
                nextItem(true);
                out.push_back(buf[pos]);
                ++pos;
                src = nextSrc;
                len = nextLen;
                continue;
            }
        }
        if (len == 0) {
            nextItem(true);
            out.push_back(buf[pos]);
            ++pos;
        } else {
            unsigned at = unsigned(src + kWindowStart) & kWindowMask;
            nextItem(false);
            out.push_back(uint8_t(at & 0xFF));
            out.push_back(uint8_t(((at >> 4) & 0xF0) | (len - kMinMatch)));
            pos += len;
        }
        len = pos < buf.size() ? finder.Find(pos, &src) : 0;
    }
    return out;
}

long SzddExpandBuffer(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out) {
    out.clear();
    if (!SzddHasSignature(in, inSize)) {
        if (in && inSize > 0) out.assign(in, in + inSize);
        return long(out.size());
    }
    uint32_t expected = 0;
    if (!SzddReadHeader(in, inSize, &expected, nullptr)) return kLzErrorUnknownAlg;
    if (expected > kSzddMaxExpandedLength) return kLzErrorGlobAlloc;

    // A flag byte and eight 2-byte matches give at most 8 * 18 bytes, so a
    // short input cannot make us reserve what its header merely claims.
    size_t groups = (inSize - kSzddHeaderSize) / 17 + 1;
    constexpr size_t kPerGroup = 8 * kMaxMatch;
    out.reserve(groups > expected / kPerGroup ? size_t(expected) : groups * kPerGroup);

    std::array<uint8_t, kWindowSize> window;
    window.fill(kWindowFill);
    unsigned wpos = kWindowStart;
    size_t ip = kSzddHeaderSize;
    auto emit = [&](uint8_t b) {
        out.push_back(b);
        window[wpos] = b;
        wpos = (wpos + 1) & kWindowMask;
    };

    while (out.size() < expected && ip < inSize) {
        uint8_t flags = in[ip++];
        for (unsigned bit = 0; bit < 8 && out.size() < expected; ++bit) {
            if (flags & (1u << bit)) {
                if (ip >= inSize) break;
                emit(in[ip++]);
            } else {
                if (inSize - ip < 2) {
                    ip = inSize;
                    break;
                }
                unsigned b0 = in[ip], b1 = in[ip + 1];
                ip += 2;
                unsigned at = b0 | ((b1 & 0xF0u) << 4);
                size_t len = (b1 & 0x0Fu) + kMinMatch;
                for (size_t k = 0; k < len && out.size() < expected; ++k)
                    emit(window[(at + k) & kWindowMask]);
            }
        }
    }
    if (out.size() < expected) {
        out.clear();
        return kLzErrorRead;
    }
    return long(out.size());
}

}  // namespace orvex
