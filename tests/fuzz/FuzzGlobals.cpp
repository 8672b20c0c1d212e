// The one global the settings code reads, without the rest of the program around it.
#include <cstdint>

uint32_t g_currentDut = 0;
