// One test process on its own: the settings file is never written, and the operation log and
// the link's trace go into a scratch folder of this process, so that test programs (and the
// processes ctest starts for each test) run side by side.
#pragma once

#include <filesystem>

namespace test {

class TestProcess {
  public:
    TestProcess();
    ~TestProcess();
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;
};

// The scratch folder of this process; it goes when the process ends.
const std::filesystem::path& ScratchDir();

}  // namespace test
