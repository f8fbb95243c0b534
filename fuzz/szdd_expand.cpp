// The SZDD expander on any container. Whatever the input, it answers one of
// the documented results, produces exactly the declared length or nothing,
// and reads nothing outside the buffer. Two more checks from the input
// itself: a successful expansion with the declared length cut to any shorter
// length gives the same bytes cut to that length, and bytes appended after
// the data change nothing.
#include "common/Szdd.h"
#include "fuzz/support/Fuzz.h"

namespace {

using Bytes = std::vector<uint8_t>;

void SetDeclared(Bytes& container, uint32_t length) {
    for (int i = 0; i < 4; ++i) container[10 + i] = uint8_t(length >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint32_t cut = in.U32();
    Bytes container = in.Rest();
    Bytes out;
    const long result = orvex::SzddExpandBuffer(container.data(), container.size(), out);

    if (!orvex::SzddHasSignature(container.data(), container.size())) {
        ORVEX_FUZZ_CHECK(result == long(container.size()) && out == container, "a plain buffer is copied through");
        return 0;
    }
    uint32_t declared = 0;
    if (!orvex::SzddReadHeader(container.data(), container.size(), &declared, nullptr)) {
        ORVEX_FUZZ_CHECK(result == orvex::kLzErrorUnknownAlg && out.empty(), fuzz::Hex(container));
        return 0;
    }
    if (declared > orvex::kSzddMaxExpandedLength) {
        ORVEX_FUZZ_CHECK(result == orvex::kLzErrorGlobAlloc && out.empty(), fuzz::Hex(container));
        return 0;
    }
    if (result < 0) {
        ORVEX_FUZZ_CHECK(result == orvex::kLzErrorRead && out.empty(), fuzz::Hex(container));
        return 0;
    }
    ORVEX_FUZZ_CHECK(result == long(declared) && out.size() == declared, fuzz::Hex(container));

    Bytes shorter = container;
    const uint32_t length = declared == 0 ? 0 : cut % (declared + 1);
    SetDeclared(shorter, length);
    Bytes cutOut;
    ORVEX_FUZZ_CHECK(orvex::SzddExpandBuffer(shorter.data(), shorter.size(), cutOut) == long(length) &&
                         cutOut == Bytes(out.begin(), out.begin() + length),
                     "declared " + std::to_string(declared) + " cut to " + std::to_string(length));

    Bytes longer = container;
    longer.insert(longer.end(), {0x00, 0xFF, 0x12, 0x34});
    Bytes longerOut;
    ORVEX_FUZZ_CHECK(orvex::SzddExpandBuffer(longer.data(), longer.size(), longerOut) == result && longerOut == out,
                     "bytes after the data changed the result");
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    // Containers made by the packer the build uses, of data like the embedded files.
    Bytes image(3000, 0xFF);
    for (size_t i = 0; i < 600; ++i) image[i] = uint8_t(i * 7 + (i >> 5));
    Bytes text = {'[', 'V', 'e', 'r', 's', 'i', 'o', 'n', ']', '\n', 'S', 'i', 'g', 'n', 'a', 't', 'u', 'r', 'e'};
    for (const Bytes* data : std::initializer_list<const Bytes*>{&image, &text}) {
        const Bytes packed = orvex::SzddCompress(data->data(), data->size(), 'N');
        seeds.push_back(fuzz::InputWriter().U32(uint32_t(data->size() / 2)).Bytes(packed).Data());
    }
    seeds.push_back(fuzz::InputWriter().U32(0).Bytes(orvex::SzddCompress(nullptr, 0, '_')).Data());
}
