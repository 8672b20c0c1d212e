#include "port/SimPortDriver.h"

namespace port {

SimPortDriver::SimPortDriver(const sim::Options& options, ResourceLock folderLock)
    : folderLock_(std::move(folderLock)), board_(std::make_unique<sim::Board>(options)) {}

SimPortDriver::~SimPortDriver() = default;

std::unique_ptr<IPortDevice> SimPortDriver::OpenDevice() {
    return std::make_unique<SimPortDevice>(*board_);
}

}  // namespace port
