// Compress, then expand: the packer that makes the embedded files
// (tools/szddpack uses SzddCompress) and the expander must give back every
// file byte for byte. The data is built from the input as literal bytes, runs
// of one byte (images hold long runs of fill bytes) and copies of earlier
// data at any distance, so matches at the edge of the 4,096-byte window and
// past it are made on purpose.
#include "common/Szdd.h"
#include "fuzz/support/Fuzz.h"

namespace {
using Bytes = std::vector<uint8_t>;
constexpr size_t kMaxData = 6000;  // past the first window; the window is what matters
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const char lastChar = char(in.Byte());
    Bytes file;
    while (!in.Empty() && file.size() < kMaxData) {
        switch (in.Byte() % 4) {
        case 0: {
            const uint8_t b = in.Byte();
            file.insert(file.end(), in.Range(1, 6000), b);
            break;
        }
        case 1:
            if (!file.empty()) {
                const size_t distance = 1 + in.Range(0, 5000) % file.size();
                const size_t length = in.Range(1, 300);
                for (size_t i = 0; i < length; ++i) file.push_back(file[file.size() - distance]);
            }
            break;
        default: {
            const Bytes literal = in.Bytes(in.Range(0, 64));
            file.insert(file.end(), literal.begin(), literal.end());
            break;
        }
        }
    }

    const Bytes packed = orvex::SzddCompress(file.data(), file.size(), lastChar);
    uint32_t declared = 0;
    char storedChar = 0;
    ORVEX_FUZZ_CHECK(orvex::SzddReadHeader(packed.data(), packed.size(), &declared, &storedChar) &&
                         declared == file.size() && storedChar == lastChar,
                     "header of a " + std::to_string(file.size()) + "-byte file");
    // Never worse than all literals: a flag byte for every eight.
    ORVEX_FUZZ_CHECK(packed.size() <= orvex::kSzddHeaderSize + file.size() + (file.size() + 7) / 8,
                     std::to_string(file.size()) + " bytes packed into " + std::to_string(packed.size()));
    Bytes back;
    const long result = orvex::SzddExpandBuffer(packed.data(), packed.size(), back);
    ORVEX_FUZZ_CHECK(result == long(file.size()) && back == file,
                     "a " + std::to_string(file.size()) + "-byte file does not come back (" + std::to_string(result) + ")");
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    // Like a firmware image: code, a long fill, code again that repeats the start.
    seeds.push_back(InputWriter().Byte('N').Byte(2).Range(0, 64, 64).Bytes(Bytes(64, 0x5A)).Byte(0).Byte(0xFF)
                        .Range(1, 6000, 4090).Byte(1).Range(0, 5000, 4150).Range(1, 300, 64).Byte(1)
                        .Range(0, 5000, 4078).Range(1, 300, 18).Data());
    // Text, as the installer's files: short literals, short copies.
    const std::string inf = "[Version]\nSignature=\"$Windows NT$\"\nClass=MEDIA\n";
    seeds.push_back(InputWriter().Byte('F').Byte(2).Range(0, 64, uint32_t(inf.size())).Text(inf).Byte(1)
                        .Range(0, 5000, uint32_t(inf.size() - 1)).Range(1, 300, 30).Data());
}
