#pragma once
// Text and number helpers of the discovery component.
#include <cstddef>
#include <cstdint>

#include "velun/dnssd.h"

namespace velun {

// ASCII comparison without regard to letter case, as strcmp answers.
int util_compare_nocase(const char* a, const char* b);
// Copies at most size - 1 characters and terminates; false when the text was cut.
bool util_copy(char* to, size_t size, const char* from);
// Exactly `count` unsigned decimal fields separated by dots, each at most `limit`, nothing else.
bool util_parse_dotted(const char* text, int count, uint32_t limit, uint32_t* fields);
// Exactly 2 * size hexadecimal digits (either case).
bool util_parse_hex(const char* text, uint8_t* bytes, size_t size);
// Digits only, fitting 32 bits.
bool util_parse_decimal(const char* text, uint32_t* value);

// A TXT value through the DNS-SD table. Answers false when the key is absent
// (or has no value); otherwise the value as a terminated text in `text`, and
// *fits false when it was longer than size - 1.
bool util_txt_value(const dnssd_api* api, uint16_t length, const unsigned char* record, const char* key, char* text,
                    size_t size, bool* fits);

}  // namespace velun
