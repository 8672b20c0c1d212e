// The pages' hexadecimal fields: what an operator types becomes the address or size used.
#include <gtest/gtest.h>

#include <string>

#include "ui/AppState.h"

namespace {

TEST(HexField, TypedTextGivesTheValueOrSaturates) {
    const std::pair<const char*, uint32_t> cases[] = {{"7FF00000", 0x7FF00000},
                                                      {"c0000000", 0xC0000000},
                                                      {"10zz", 0x10},
                                                      {"", 0},
                                                      {"xyz", 0},
                                                      {"FFFFFFFF", 0xFFFFFFFF},
                                                      {"100000000", 0xFFFFFFFF},
                                                      {"123456789ABCDEF01", 0xFFFFFFFF}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseHexField(text), value) << text;
}

}  // namespace
