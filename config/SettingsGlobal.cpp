// The process-wide settings object and the index of the profile in use.
#include "config/Settings.h"

// Included before g_settings so the standard streams exist when its constructor warns.
#include <iostream>

CSettings g_settings;
uint32_t g_currentDut = 0;
