// genqenart BANNER.bmp
//
// Draws the installer's side picture: a tall 24-bit bitmap, night blue fading
// to teal towards the bottom, with an adapter card standing on its edge
// connector (a green board, gold contacts, a dark chip) and a soft light band
// across it. Integer arithmetic only, so every build machine makes the same file.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 94;    // 63 x 187 dialog units at the dialog's font
constexpr int kHeight = 286;

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

Rgb Blend(Rgb a, Rgb b, int t, int scale) {  // t in 0..scale
    return {a.r + (b.r - a.r) * t / scale, a.g + (b.g - a.g) * t / scale, a.b + (b.b - a.b) * t / scale};
}

bool InRect(int x, int y, int x0, int y0, int x1, int y1) { return x >= x0 && x < x1 && y >= y0 && y < y1; }

Rgb Pixel(int x, int y) {
    // Background: vertical gradient.
    Rgb c = Blend({16, 28, 74}, {18, 104, 120}, y, kHeight - 1);
    // A diagonal light band.
    int d = (y - 2 * x) - 40;
    if (d > -30 && d < 30) c = Blend(c, {210, 230, 245}, 30 - (d < 0 ? -d : d), 30 * 6);

    // The card: board, bracket, chip, contacts.
    const int bx0 = 20, bx1 = 74, by0 = 136, by1 = 244;
    if (InRect(x, y, bx0, by0, bx1, by1)) {
        c = {22, 110, 58};
        if ((x + y) % 11 == 0) c = {30, 132, 72};  // traces
        if (InRect(x, y, 33, 164, 61, 192)) c = {24, 24, 28};          // chip
        if (InRect(x, y, 36, 167, 58, 189) && (x + y) % 5 == 0) c = {60, 60, 66};
        if (InRect(x, y, 27, 208, 67, 216)) c = {200, 200, 210};       // label
    }
    if (InRect(x, y, bx0 + 4, by1, bx1 - 4, by1 + 10)) {                // edge connector
        c = (x % 3 == 0) ? Rgb{22, 110, 58} : Rgb{222, 180, 60};
    }
    if (InRect(x, y, bx1, by0 - 8, bx1 + 4, by1 + 6)) c = {180, 184, 190};  // bracket

    // A thin rule under the top edge.
    if (y == 40 && x > 10 && x < kWidth - 10) c = {200, 214, 236};
    return c;
}

Bytes MakeBanner() {
    Bytes b;
    uint32_t stride = uint32_t((kWidth * 3 + 3) / 4 * 4);
    uint32_t pixelBytes = stride * kHeight;
    b.push_back('B');
    b.push_back('M');
    Le32(b, 14 + 40 + pixelBytes);
    Le32(b, 0);
    Le32(b, 14 + 40);
    Le32(b, 40);
    Le32(b, kWidth);
    Le32(b, kHeight);  // bottom-up
    Le16(b, 1);
    Le16(b, 24);
    Le32(b, 0);
    Le32(b, pixelBytes);
    Le32(b, 2835);
    Le32(b, 2835);
    Le32(b, 0);
    Le32(b, 0);
    for (int row = kHeight - 1; row >= 0; --row) {
        size_t start = b.size();
        for (int x = 0; x < kWidth; ++x) {
            Rgb c = Pixel(x, row);
            b.push_back(uint8_t(c.b));
            b.push_back(uint8_t(c.g));
            b.push_back(uint8_t(c.r));
        }
        while (b.size() - start < stride) b.push_back(0);
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: genqenart BANNER.bmp\n");
        return 2;
    }
    Bytes b = MakeBanner();
    FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::fprintf(stderr, "genqenart: cannot create %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "genqenart: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
