#include "FakePosixOs.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

namespace port::test {

namespace {

const char* RequestName(unsigned long request) {
    switch (request) {
        case PPCLAIM:
            return "PPCLAIM";
        case PPRELEASE:
            return "PPRELEASE";
        case PPSETMODE:
            return "PPSETMODE";
        case PPWDATA:
            return "PPWDATA";
        case PPRDATA:
            return "PPRDATA";
        case PPRSTATUS:
            return "PPRSTATUS";
        case PPWCONTROL:
            return "PPWCONTROL";
        case PPRCONTROL:
            return "PPRCONTROL";
        default:
            return "?";
    }
}

}  // namespace

int FakePosixOs::Ioctl(int fd, unsigned long request, void* arg) {
    log.push_back(std::string("ioctl ") + RequestName(request) + " " + fdPaths[fd]);
    if (!openFds.count(fd)) {
        errno = EBADF;
        return -1;
    }
    auto e = ioctlErrors.find(request);
    if (e != ioctlErrors.end()) {
        errno = e->second;
        return -1;
    }
    int value = -1;
    auto* byte = static_cast<unsigned char*>(arg);
    if (request == PPSETMODE) value = *static_cast<int*>(arg);
    if (request == PPWDATA) value = dataValue = *byte;
    if (request == PPWCONTROL) value = controlValue = *byte;
    if (request == PPRDATA) value = *byte = dataValue;
    if (request == PPRSTATUS) value = *byte = statusValue;
    if (request == PPRCONTROL) value = *byte = controlValue;
    ioctls.push_back({fd, request, value});
    return 0;
}

}  // namespace port::test
