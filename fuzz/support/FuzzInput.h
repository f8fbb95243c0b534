#pragma once
// Reads a fuzz input as a sequence of choices, front to back. A choice past
// the end reads as zero, so every input, however short, is a whole case and a
// mutation changes the choices near the bytes it touches.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    size_t Remaining() const { return m_size - m_pos; }
    bool Empty() const { return m_pos >= m_size; }

    uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }
    bool Bool() { return Byte() & 1; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return U16() | (uint32_t{U16()} << 16); }
    // A value in [low, high], taking only as many bytes as the span needs.
    uint32_t Range(uint32_t low, uint32_t high) {
        if (high <= low) return low;
        const uint64_t span = uint64_t{high} - low + 1;
        uint64_t value = 0;
        for (uint64_t reach = 1; reach < span; reach <<= 8) value = (value << 8) | Byte();
        return static_cast<uint32_t>(low + value % span);
    }
    // Up to n bytes; fewer when the input ends first.
    std::vector<uint8_t> Bytes(size_t n) {
        if (n > Remaining()) n = Remaining();
        std::vector<uint8_t> out(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Bytes(Remaining()); }
    std::string Text(size_t n) {
        const std::vector<uint8_t> b = Bytes(n);
        return std::string(b.begin(), b.end());
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Writes choices in the order Input reads them, for seeds made from real messages.
class InputWriter {
public:
    InputWriter& Byte(uint8_t v) { return m_out.push_back(v), *this; }
    InputWriter& Bool(bool v) { return Byte(v ? 1 : 0); }
    InputWriter& U16(uint16_t v) { return Byte(uint8_t(v)).Byte(uint8_t(v >> 8)); }
    InputWriter& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
    // The bytes Range(low, high) reads back as value.
    InputWriter& Range(uint32_t low, uint32_t high, uint32_t value) {
        if (high <= low) return *this;
        const uint64_t span = uint64_t{high} - low + 1;
        int bytes = 0;
        for (uint64_t reach = 1; reach < span; reach <<= 8) ++bytes;
        const uint64_t v = value - low;
        for (int i = bytes - 1; i >= 0; --i) Byte(uint8_t(v >> (8 * i)));
        return *this;
    }
    InputWriter& Bytes(const std::vector<uint8_t>& b) {
        m_out.insert(m_out.end(), b.begin(), b.end());
        return *this;
    }
    InputWriter& Text(const std::string& t) {
        m_out.insert(m_out.end(), t.begin(), t.end());
        return *this;
    }
    const std::vector<uint8_t>& Data() const { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

}  // namespace fuzz
