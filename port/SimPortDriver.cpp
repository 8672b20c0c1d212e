#include "port/SimPortDriver.h"

namespace port {

std::vector<std::string> AtGroups(const std::string& args) {
    std::vector<std::string> groups;
    for (size_t pos = args.find('@'); pos != std::string::npos;) {
        const size_t next = args.find('@', pos + 1);
        groups.push_back(args.substr(pos + 1, next == std::string::npos ? next : next - pos - 1));
        pos = next;
    }
    return groups;
}

SimPortDriver::SimPortDriver(const sim::Options& options, ResourceLock folderLock)
    : folderLock_(std::move(folderLock)), board_(std::make_unique<sim::Board>(options)) {}

SimPortDriver::~SimPortDriver() = default;

std::unique_ptr<IPortDevice> SimPortDriver::OpenDevice() {
    return std::make_unique<SimPortDevice>(*board_);
}

}  // namespace port
