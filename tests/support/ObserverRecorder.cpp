#include "support/ObserverRecorder.h"

namespace test {

std::vector<std::string> ObserverRecorder::Matching(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) out.push_back(call);
    }
    return out;
}

}  // namespace test
