#include "velun/util.h"

#include <cstring>

namespace velun {

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

int util_compare_nocase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(Lower(*a)), y = static_cast<unsigned char>(Lower(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

bool util_copy(char* to, size_t size, const char* from) {
    if (!to || size == 0) return false;
    if (!from) from = "";
    const size_t n = strnlen(from, size);
    const bool fits = n < size;
    const size_t copied = fits ? n : size - 1;
    std::memcpy(to, from, copied);
    to[copied] = '\0';
    return fits;
}

bool util_parse_dotted(const char* text, int count, uint32_t limit, uint32_t* fields) {
    if (!text) return false;
    for (int i = 0; i < count; ++i) {
        if (*text < '0' || *text > '9') return false;
        uint64_t v = 0;
        while (*text >= '0' && *text <= '9') {
            v = v * 10 + static_cast<uint64_t>(*text++ - '0');
            if (v > limit) return false;
        }
        fields[i] = static_cast<uint32_t>(v);
        if (i + 1 < count) {
            if (*text != '.') return false;
            ++text;
        }
    }
    return *text == '\0';
}

bool util_parse_hex(const char* text, uint8_t* bytes, size_t size) {
    if (!text || std::strlen(text) != 2 * size) return false;
    for (size_t i = 0; i < size; ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

bool util_parse_decimal(const char* text, uint32_t* value) {
    uint32_t field = 0;
    if (!util_parse_dotted(text, 1, 0xFFFFFFFFu, &field)) return false;
    *value = field;
    return true;
}

bool util_txt_value(const dnssd_api* api, uint16_t length, const unsigned char* record, const char* key, char* text,
                    size_t size, bool* fits) {
    if (fits) *fits = false;
    if (!api || !record || length == 0 || size == 0) return false;
    uint8_t valueLength = 0;
    const void* value = api->TXTRecordGetValuePtr(length, record, key, &valueLength);
    if (!value) return false;
    const size_t n = valueLength < size ? valueLength : size - 1;
    std::memcpy(text, value, n);
    text[n] = '\0';
    // A value with a zero byte inside is not a text.
    if (fits) *fits = valueLength < size && std::memchr(value, 0, valueLength) == nullptr;
    return true;
}

}  // namespace velun
