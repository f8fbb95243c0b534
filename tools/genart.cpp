// genart ICON.ico TILE.bmp
//
// Draws the programs' own artwork:
//  - ICON.ico: 32x32 and 16x16 images (32-bit BGRA plus AND mask): a rounded
//    dark-blue box with a white analogue waveform turning into green level
//    bars, the converter's job in one glyph;
//  - TILE.bmp: a 64x64 24-bit dialog background, pale grey-blue with faint
//    horizontal brushing, light enough for black text and seamless when tiled.
// Integer arithmetic only, so the files are the same on every build machine.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct Rgb {
    int r, g, b;
};

// ---- icon ---------------------------------------------------------------
// The glyph is drawn in a 1024-unit square; each pixel averages 4x4 samples.
constexpr int64_t kUnit = 1024;
constexpr int kSub = 4;

bool InRoundedBox(int64_t x, int64_t y) {
    constexpr int64_t lo = 64, hi = 960, r = 192;
    if (x < lo || x > hi || y < lo || y > hi) return false;
    int64_t cx = x < lo + r ? lo + r : (x > hi - r ? hi - r : x);
    int64_t cy = y < lo + r ? lo + r : (y > hi - r ? hi - r : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// Within halfWidth of the segment a-b (squared distances only).
bool NearSegment(int64_t x, int64_t y, int64_t ax, int64_t ay, int64_t bx, int64_t by, int64_t halfWidth) {
    int64_t dx = bx - ax, dy = by - ay;
    int64_t px = x - ax, py = y - ay;
    int64_t len2 = dx * dx + dy * dy;
    int64_t t = px * dx + py * dy;
    if (t <= 0) return px * px + py * py <= halfWidth * halfWidth;
    if (t >= len2) {
        int64_t qx = x - bx, qy = y - by;
        return qx * qx + qy * qy <= halfWidth * halfWidth;
    }
    int64_t cross = px * dy - py * dx;
    return cross * cross <= halfWidth * halfWidth * len2;
}

bool OnWave(int64_t x, int64_t y) {
    static constexpr std::array<std::array<int64_t, 2>, 6> kPoints = {{
        {160, 512}, {240, 320}, {336, 704}, {424, 384}, {488, 576}, {520, 512},
    }};
    for (size_t i = 0; i + 1 < kPoints.size(); ++i)
        if (NearSegment(x, y, kPoints[i][0], kPoints[i][1], kPoints[i + 1][0], kPoints[i + 1][1], 36)) return true;
    return false;
}

bool OnBar(int64_t x, int64_t y) {
    // Edges on multiples of 64 units fall on pixel edges at both icon sizes.
    static constexpr std::array<int64_t, 3> kTops = {576, 320, 448};
    constexpr int64_t left = 576, width = 64, gap = 64, bottom = 768;
    for (size_t i = 0; i < kTops.size(); ++i) {
        int64_t x0 = left + int64_t(i) * (width + gap);
        if (x >= x0 && x < x0 + width && y >= kTops[i] && y < bottom) return true;
    }
    return false;
}

// Colour and coverage of one sample point; y grows downwards.
bool Sample(int64_t x, int64_t y, Rgb* c) {
    if (!InRoundedBox(x, y)) return false;
    if (OnWave(x, y)) {
        *c = {244, 248, 255};
    } else if (OnBar(x, y)) {
        // Bars brighten towards their tops, like a level meter.
        int k = int((768 - y) * 80 / 512);
        *c = {40 + k / 2, 168 + k, 72 + k / 3};
    } else {
        int k = int(y * 48 / kUnit);  // light from above
        *c = {34 - k / 3, 70 - k / 2, 140 - k};
    }
    return true;
}

Bytes IconImage(int size) {
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    Bytes b;
    uint32_t maskStride = uint32_t((size + 31) / 32 * 4);
    uint32_t xorBytes = uint32_t(size * size * 4), andBytes = maskStride * uint32_t(size);
    Le32(b, 40);
    Le32(b, uint32_t(size));
    Le32(b, uint32_t(size * 2));
    Le16(b, 1);
    Le16(b, 32);
    Le32(b, 0);
    Le32(b, xorBytes + andBytes);
    Le32(b, 0);
    Le32(b, 0);
    Le32(b, 0);
    Le32(b, 0);

    std::vector<uint8_t> alpha(size_t(size) * size);
    Bytes pixels;
    for (int row = size - 1; row >= 0; --row) {  // bottom-up
        for (int col = 0; col < size; ++col) {
            int sr = 0, sg = 0, sb = 0, hits = 0;
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx) {
                    int64_t x = (int64_t(col) * kSub + sx) * kUnit / (size * kSub) + kUnit / (2 * size * kSub);
                    int64_t y = (int64_t(row) * kSub + sy) * kUnit / (size * kSub) + kUnit / (2 * size * kSub);
                    Rgb c;
                    if (Sample(x, y, &c)) {
                        sr += c.r;
                        sg += c.g;
                        sb += c.b;
                        ++hits;
                    }
                }
            uint8_t a = uint8_t(hits * 255 / (kSub * kSub));
            alpha[size_t(row) * size + col] = a;
            // Straight (not premultiplied) colour, as icons store it.
            pixels.push_back(uint8_t(hits ? sb / hits : 0));
            pixels.push_back(uint8_t(hits ? sg / hits : 0));
            pixels.push_back(uint8_t(hits ? sr / hits : 0));
            pixels.push_back(a);
        }
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    // AND mask: 1 = transparent, used where alpha is not honoured.
    for (int row = size - 1; row >= 0; --row) {
        Bytes line(maskStride, 0);
        for (int col = 0; col < size; ++col)
            if (alpha[size_t(row) * size + col] < 128) line[size_t(col / 8)] |= uint8_t(0x80 >> (col % 8));
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

Bytes MakeIcon() {
    const std::array<int, 2> sizes = {32, 16};
    std::vector<Bytes> images;
    for (int s : sizes) images.push_back(IconImage(s));
    Bytes b;
    Le16(b, 0);
    Le16(b, 1);  // icon
    Le16(b, uint32_t(sizes.size()));
    uint32_t offset = uint32_t(6 + 16 * sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        b.push_back(uint8_t(sizes[i]));
        b.push_back(uint8_t(sizes[i]));
        b.push_back(0);  // no palette
        b.push_back(0);
        Le16(b, 1);
        Le16(b, 32);
        Le32(b, uint32_t(images[i].size()));
        Le32(b, offset);
        offset += uint32_t(images[i].size());
    }
    for (const Bytes& img : images) b.insert(b.end(), img.begin(), img.end());
    return b;
}

// ---- tile ---------------------------------------------------------------
constexpr int kTile = 64;

uint32_t Mix(uint32_t v) {  // integer hash for the grain
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    v ^= v >> 16;
    return v;
}

Bytes MakeTile() {
    // Per-pixel grain smeared along x with wrap-around gives brushed streaks
    // that meet themselves at the tile's edges.
    std::array<std::array<int, kTile>, kTile> grain{};
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kTile; ++x) grain[y][x] = int(Mix(uint32_t(y * kTile + x) + 0x51ED27u) & 0xFF) - 128;
    constexpr int kSmear = 9;  // taps each side
    std::array<std::array<int, kTile>, kTile> streak{};
    for (int y = 0; y < kTile; ++y) {
        int rowShade = int(Mix(uint32_t(y) ^ 0xA5A5u) % 7) - 3;  // whole-row variation
        for (int x = 0; x < kTile; ++x) {
            int sum = 0;
            for (int k = -kSmear; k <= kSmear; ++k) sum += grain[y][(x + k + kTile) % kTile];
            streak[y][x] = sum / (2 * kSmear + 1) / 8 + rowShade;  // about +-6
        }
    }
    Bytes b;
    uint32_t stride = uint32_t((kTile * 3 + 3) / 4 * 4);
    uint32_t pixelBytes = stride * kTile;
    b.push_back('B');
    b.push_back('M');
    Le32(b, 14 + 40 + pixelBytes);
    Le32(b, 0);
    Le32(b, 14 + 40);
    Le32(b, 40);
    Le32(b, kTile);
    Le32(b, kTile);  // bottom-up
    Le16(b, 1);
    Le16(b, 24);
    Le32(b, 0);
    Le32(b, pixelBytes);
    Le32(b, 2835);  // 72 dpi
    Le32(b, 2835);
    Le32(b, 0);
    Le32(b, 0);
    for (int row = kTile - 1; row >= 0; --row) {
        size_t start = b.size();
        for (int x = 0; x < kTile; ++x) {
            int v = streak[row][x];
            v = v < -12 ? -12 : (v > 12 ? 12 : v);
            b.push_back(uint8_t(238 + v));  // blue
            b.push_back(uint8_t(230 + v));  // green
            b.push_back(uint8_t(221 + v));  // red
        }
        while (b.size() - start < stride) b.push_back(0);
    }
    return b;
}

bool WriteFile(const char* path, const Bytes& b) {
    FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "genart: cannot create %s: %s\n", path, std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "genart: cannot write %s\n", path);
        std::remove(path);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: genart ICON.ico TILE.bmp\n");
        return 2;
    }
    if (!WriteFile(argv[1], MakeIcon())) return 1;
    if (!WriteFile(argv[2], MakeTile())) return 1;
    return 0;
}
