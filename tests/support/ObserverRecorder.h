// An observer that logs every call, in order, as "Name(args)" lines.
#pragma once

#include <string>
#include <vector>

#include "link/LinkObserver.h"

namespace test {

class ObserverRecorder final : public ILinkObserver {
  public:
    std::vector<std::string> calls;

    void Clear() { calls.clear(); }
    // The calls whose line starts with prefix, e.g. "ShowStatus(".
    std::vector<std::string> Matching(const std::string& prefix) const;

    void ShowStatus(std::string text) override { Log("ShowStatus", text); }
    void ShowAddress(std::string text) override { Log("ShowAddress", text); }
    void SetProgress(uint32_t count) override { Log("SetProgress", std::to_string(count)); }
    void StartProgress(uint32_t total) override { Log("StartProgress", std::to_string(total)); }
    void ShowMessage(std::string text, std::string caption) override {
        Log("ShowMessage", text + "|" + caption);
    }

  private:
    void Log(const char* name, const std::string& args) {
        calls.push_back(std::string(name) + "(" + args + ")");
    }
};

}  // namespace test
