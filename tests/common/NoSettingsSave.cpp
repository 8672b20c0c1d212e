// Test programs never write a settings file into the build tree at exit.
#include "config/Settings.h"

namespace {
const bool kSavingDisabled = [] {
    CSettings::DisableSaving();
    return true;
}();
}  // namespace
