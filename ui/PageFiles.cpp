#include "ui/PageFiles.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "link/LinkObserver.h"

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileFault ReadFileHead(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                       uint64_t* length) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return FileFault::CannotOpen;
    const long long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return FileFault::CannotOpen;
    }
    if (length != nullptr) *length = static_cast<uint64_t>(size);
    // Only the bytes that will be used are held.
    const size_t n = static_cast<size_t>(std::min(static_cast<uint64_t>(size), limit));
    FileFault fault = FileFault::None;
    try {
        out.assign(n, 0);
        if (std::fread(out.data(), 1, n, f) != n) fault = FileFault::CannotRead;
    } catch (const std::bad_alloc&) {
        fault = FileFault::NoMemory;
    }
    std::fclose(f);
    return fault;
}

void ShowFileFault(ILinkObserver& observer, FileFault fault, const std::string& path,
                   const char* mark) {
    const char* what = fault == FileFault::CannotOpen     ? "Cannot open"
                       : fault == FileFault::CannotCreate ? "Cannot create"
                       : fault == FileFault::CannotWrite  ? "Cannot write"
                                                          : "Cannot read";
    observer.ShowStatus(std::string(what) + " " + path);
    observer.ShowAddress(mark);
}
