// szddpack IN OUT
//
// Stores IN as an SZDD container in OUT, the form in which the programs carry
// their embedded files. The header keeps the last character of IN's file name,
// as the classic compress tool does. The result is expanded again and compared
// before it is written, so a faulty container never reaches a build.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/Szdd.h"

namespace {

bool ReadAll(const char* path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

char LastNameChar(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.empty() ? '\0' : name.back();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: szddpack IN OUT\n");
        return 2;
    }
    std::vector<uint8_t> data;
    if (!ReadAll(argv[1], data)) {
        std::fprintf(stderr, "szddpack: cannot read %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    if (data.size() > orvex::kSzddMaxExpandedLength) {
        std::fprintf(stderr, "szddpack: %s is larger than the container allows\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> packed = orvex::SzddCompress(data.data(), data.size(), LastNameChar(argv[1]));

    std::vector<uint8_t> check;
    long n = orvex::SzddExpandBuffer(packed.data(), packed.size(), check);
    if (n != long(data.size()) || check != data) {
        std::fprintf(stderr, "szddpack: internal error, %s does not expand back (%ld)\n", argv[1], n);
        return 1;
    }

    FILE* f = std::fopen(argv[2], "wb");
    if (!f) {
        std::fprintf(stderr, "szddpack: cannot create %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    bool ok = std::fwrite(packed.data(), 1, packed.size(), f) == packed.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "szddpack: cannot write %s\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
