#pragma once
// The "SZDD" container of the classic compress/expand tools: a 14-byte header
// ("SZDD" 88 F0 27 33, mode 'A', the replaced last character of the file
// name, 32-bit little-endian expanded length) followed by LZSS data over a
// 4096-byte window. Both programs store their embedded files this way; this is
// the expander used where the system's LZ library is not available, and the
// packer the build uses to make the embedded files.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex {

// Error numbers of the Windows LZ expansion library, so callers see the same
// negative results from either expander.
constexpr long kLzErrorBadInHandle = -1;
constexpr long kLzErrorBadOutHandle = -2;
constexpr long kLzErrorRead = -3;
constexpr long kLzErrorWrite = -4;
constexpr long kLzErrorGlobAlloc = -5;
constexpr long kLzErrorGlobLock = -6;
constexpr long kLzErrorBadValue = -7;
constexpr long kLzErrorUnknownAlg = -8;

constexpr size_t kSzddHeaderSize = 14;
// Largest expanded length accepted; a header asking for more is refused
// before anything is allocated.
constexpr uint32_t kSzddMaxExpandedLength = 256u * 1024u * 1024u;

// True when the buffer starts with the 8-byte signature.
bool SzddHasSignature(const uint8_t* in, size_t n);

// True for a complete header with the signature and mode 'A'. Either output
// pointer may be null.
bool SzddReadHeader(const uint8_t* in, size_t n, uint32_t* expandedLength, char* lastChar);

// Compresses a whole file into a container. lastChar is stored in the header
// (the last character of the original name, or 0 when unknown).
std::vector<uint8_t> SzddCompress(const uint8_t* data, size_t size, char lastChar);

// Expands a whole container into out and answers the expanded length, or one
// of the negative errors above (out is then empty):
//  - signature but a header shorter than 14 bytes, or mode not 'A': UnknownAlg;
//  - declared length above kSzddMaxExpandedLength: GlobAlloc;
//  - data ending before the declared length is produced: Read.
// Output never exceeds the declared length; data beyond it is ignored.
// A buffer without the signature is copied through unchanged, as the Windows
// library does with an uncompressed file.
long SzddExpandBuffer(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out);

}  // namespace orvex
