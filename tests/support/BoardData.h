// Test data shared by the host and board tests: a byte pattern that differs from one 256-byte
// message to the next, and a look at the virtual board's memory past the wire.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/Board.h"

namespace test {

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

// Words as they sit in the board's memory, least significant byte first.
inline std::vector<uint8_t> LittleEndian(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(w >> (8 * b)));
    return out;
}

inline std::vector<uint8_t> Backdoor(const sim::Board& board, uint32_t address, size_t n) {
    std::vector<uint8_t> out(n);
    board.ReadBytes(address, out.data(), n);
    return out;
}

}  // namespace test
