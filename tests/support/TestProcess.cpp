#include "support/TestProcess.h"

#include <cstdlib>
#include <string>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "ui/AppState.h"

namespace test {

namespace {
std::filesystem::path g_scratch;
}

TestProcess::TestProcess() {
    CSettings::DisableSaving();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tapwright-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    g_scratch = pattern;
    SetLogTarget((g_scratch / "log.txt").string(), false);
    g_link.SetTraceFile((g_scratch / "trace.txt").string());
}

TestProcess::~TestProcess() {
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
}

const std::filesystem::path& ScratchDir() {
    return g_scratch;
}

}  // namespace test
