#include "flash/TrapImage.h"

#include <cstdio>

bool CheckTrapImageSize(uint64_t bytes) {
    return bytes <= kMaxTrapImage;
}

bool BuildTrapImage(const std::vector<std::string>& paths, std::vector<uint8_t>& image,
                    std::string& error) {
    image.clear();
    for (const std::string& path : paths) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) {
            error = "Cannot read the trap handler " + path;
            return false;
        }
        uint8_t chunk[4096];
        size_t n = 0;
        bool tooLarge = false;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            if (!CheckTrapImageSize(image.size() + n)) {
                tooLarge = true;
                break;
            }
            image.insert(image.end(), chunk, chunk + n);
        }
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (tooLarge) {
            error = "Trap handler too large: " + path + " (more than " +
                    std::to_string(kMaxTrapImage) + " bytes in all)";
            return false;
        }
        if (failed) {
            error = "Cannot read the trap handler " + path;
            return false;
        }
    }
    if (image.empty()) {
        error = "Empty trap handler " + (paths.empty() ? std::string() : paths.back());
        return false;
    }
    image.resize((image.size() + 3) & ~size_t{3}, 0x20);
    if (!CheckTrapImageSize(image.size())) {
        error = "Trap handler too large: " + std::to_string(image.size()) + " bytes (at most " +
                std::to_string(kMaxTrapImage) + ")";
        return false;
    }
    return true;
}
