// The one link instance shared by the main window, the pages and the CLI.
#include "link/TargetLink.h"

CTargetLink g_link;
