// The process-wide objects, defined in one unit so static construction runs theApp, g_link,
// g_settings in that order and destruction the reverse: the settings are saved, then the
// link closes a second time (harmlessly), then the application goes.
#include "config/Settings.h"
#include "link/TargetLink.h"
#include "ui/MainApp.h"

// Included before g_settings so the standard streams exist when its constructor warns.
#include <iostream>

CMainApp theApp;
CTargetLink g_link;
CSettings g_settings;
uint32_t g_currentDut = 0;
