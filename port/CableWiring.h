// The passive JTAG cable on the parallel port: which register bit drives which line. The link
// and every backend that decodes port writes use these names; nothing else spells them out.
//
//   register  bit  DB-25 pin  line
//   data      D0   2          TMS
//   data      D1   3          TCK
//   data      D2   4          TDI
//   data      D3   5          nTRST  (low holds the TAP in reset)
//   data      D4   6          nRESET (low holds the target in reset)
//   data      D5-7 7-9        not connected, always 0
//   status    S4   13 Select  TDO    (not inverted)
#pragma once

#include <cstdint>

namespace port::cable {

// Register offsets from the port's base address (the control register is not wired).
constexpr uint16_t kDataRegister = 0;
constexpr uint16_t kStatusRegister = 1;
constexpr uint16_t kControlRegister = 2;

// Data register bits.
constexpr uint8_t kTms = 0x01;
constexpr uint8_t kTck = 0x02;
constexpr uint8_t kTdi = 0x04;
constexpr uint8_t kNTrst = 0x08;
constexpr uint8_t kNReset = 0x10;

// Status register bit.
constexpr uint8_t kTdo = 0x10;

}  // namespace port::cable
