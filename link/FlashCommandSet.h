// The eleven flash command and status words the FLASH page prepares for a chip's algorithm,
// bus width and data-line wiring, handed to the trap handler as they are.
#pragma once

#include <cstddef>
#include <cstdint>

struct FlashCommandSet {
    static constexpr size_t kWords = 11;
    // 0-1 unlock, 2 identify, 3-4 reset around identification, 5-10 program and erase.
    uint32_t m_words[kWords] = {};

    uint32_t& operator[](size_t i) { return m_words[i]; }
    const uint32_t& operator[](size_t i) const { return m_words[i]; }
};
