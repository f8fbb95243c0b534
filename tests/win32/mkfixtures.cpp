// Writes the small resources the Windows suites embed: SZDD containers at the
// edges (empty, one byte, a one-character name), and two broken ones.
#include <cstdio>
#include <string>
#include <vector>

#include "common/Szdd.h"

static bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkfixtures OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    std::string text = "Orvex remote control, packed and unpacked.\r\n";
    std::vector<uint8_t> repeated;
    for (int i = 0; i < 5000; ++i) repeated.push_back(static_cast<uint8_t>("ABCD    "[i % 8]));
    auto pack = [](const std::vector<uint8_t>& data, char last) { return orvex::SzddCompress(data.data(), data.size(), last); };
    std::vector<uint8_t> hello = pack({text.begin(), text.end()}, 'A');
    std::vector<uint8_t> truncated(hello.begin(), hello.begin() + hello.size() / 2);
    std::string notCompressed = "MZ: a plain file without the container's signature";
    bool ok = Write(dir + "/A", hello) && Write(dir + "/EMPTY.BIN", pack({}, 'N')) &&
              Write(dir + "/ONE.BIN", pack({0x5A}, 'N')) && Write(dir + "/REPEAT.BIN", pack(repeated, 'N')) &&
              Write(dir + "/TRUNC.BIN", truncated) &&
              Write(dir + "/BADSIG.BIN", {notCompressed.begin(), notCompressed.end()});
    return ok ? 0 : 1;
}
