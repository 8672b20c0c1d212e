#include "sim/Memory.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sim {

namespace {
enum Kind { kUnmapped, kPlain, kFlash, kDcu };

bool InRange(uint32_t addr, uint32_t base, size_t size) {
    return addr >= base && static_cast<uint64_t>(addr) - base < size;
}

uint8_t PatternByte(uint32_t addr) {
    return static_cast<uint8_t>(Memory::kUnmappedPattern >> (8 * (addr & 3)));
}

uint8_t WordByte(uint32_t word, uint32_t addr) {
    return static_cast<uint8_t>(word >> (8 * (addr & 3)));
}

void SetWordByte(uint32_t& word, uint32_t addr, uint8_t value) {
    const unsigned shift = 8 * (addr & 3);
    word = (word & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
}

bool IsDcuWord(uint32_t addr) {
    return addr >= Memory::kDcuControl && addr < Memory::kDcuControl + 4;
}
}  // namespace

Memory::Memory() : iram_(kIramSize, 0), sdram_(kSdramSize, 0) {
    FlashWindow window;
    window.base = kFlashBase;
    window.data.assign(kFlashSize, 0xFF);  // erased
    flash_.push_back(std::move(window));
}

Memory::Span Memory::Find(uint32_t addr) const {
    auto* self = const_cast<Memory*>(this);
    if (InRange(addr, kSdramBase, sdram_.size()))
        return {self->sdram_.data() + (addr - kSdramBase), sdram_.size() - (addr - kSdramBase),
                kPlain};
    if (InRange(addr, kIramBase, iram_.size()))
        return {self->iram_.data() + (addr - kIramBase), iram_.size() - (addr - kIramBase), kPlain};
    if (InRange(addr, kDcuBase, kDcuSize))
        return {self->dcu_ + (addr - kDcuBase), kDcuSize - (addr - kDcuBase), kDcu};
    if (InRange(addr, kEmiBase, kEmiSize))
        return {self->emi_ + (addr - kEmiBase), kEmiSize - (addr - kEmiBase), kPlain};
    for (auto& window : self->flash_) {
        if (InRange(addr, window.base, window.data.size()))
            return {window.data.data() + (addr - window.base),
                    window.data.size() - (addr - window.base), kFlash};
    }
    return {nullptr, 1, kUnmapped};
}

void Memory::Peek(uint32_t addr, uint8_t* out, size_t n) const {
    while (n > 0) {
        const Span span = Find(addr);
        if (span.kind == kDcu || span.kind == kUnmapped) {
            *out = span.kind == kUnmapped ? PatternByte(addr)
                   : IsDcuWord(addr)      ? WordByte(dcuStatus, addr)
                                          : *span.bytes;
            ++out, ++addr, --n;
            continue;
        }
        const size_t len = span.len < n ? span.len : n;
        std::memcpy(out, span.bytes, len);
        out += len, addr += static_cast<uint32_t>(len), n -= len;
    }
}

void Memory::Poke(uint32_t addr, const uint8_t* in, size_t n) {
    while (n > 0) {
        const Span span = Find(addr);
        if (span.kind == kDcu || span.kind == kUnmapped) {
            if (span.kind == kDcu) {
                if (IsDcuWord(addr))
                    SetWordByte(dcuStatus, addr, *in);  // lets tests set what the CPU reports
                else
                    *span.bytes = *in;
            }
            ++in, ++addr, --n;
            continue;
        }
        const size_t len = span.len < n ? span.len : n;
        std::memcpy(span.bytes, in, len);
        in += len, addr += static_cast<uint32_t>(len), n -= len;
    }
}

void Memory::BusRead(uint32_t addr, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (Find(addr + static_cast<uint32_t>(i)).kind == kUnmapped) ++unmappedReads_;
    }
    Peek(addr, out, n);
}

void Memory::BusWrite(uint32_t addr, const uint8_t* in, size_t n) {
    bool control = false;
    while (n > 0) {
        const Span span = Find(addr);
        switch (span.kind) {
            case kUnmapped:
                ++unmappedWrites_;
                break;
            case kDcu:
                if (IsDcuWord(addr)) {
                    SetWordByte(dcuControl, addr, *in);
                    control = true;
                } else {
                    *span.bytes = *in;
                }
                break;
            case kFlash:
                for (auto& window : flash_) {
                    if (InRange(addr, window.base, window.data.size()) && window.onBusWrite)
                        window.onBusWrite(addr - window.base, in, 1);
                }
                break;
            default:
                *span.bytes = *in;
                break;
        }
        ++in, ++addr, --n;
    }
    if (control && onControl) onControl(dcuControl);
}

namespace {
namespace fs = std::filesystem;

void LoadImage(const fs::path& path, std::vector<uint8_t>& into) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return;  // nothing saved yet: keep reset contents
    file.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    // A short file fills only what it holds; an oversized one is cut to the region.
}

bool SaveImage(const fs::path& path, const std::vector<uint8_t>& from, std::string& error) {
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(from.data()),
                   static_cast<std::streamsize>(from.size()));
        file.close();
        if (!file) {
            error = "cannot write " + tmp.string();
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);  // replace in one step, so a crash never leaves half an image
    if (ec) {
        error = "cannot replace " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

std::string FlashName(size_t i) {
    return "flash" + std::to_string(i) + ".bin";
}
}  // namespace

bool Memory::Load(const std::string& dir, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        if (fs::exists(dir, ec)) {
            error = dir + " exists and is not a directory";
            return false;
        }
        return true;  // created on save
    }
    const fs::path base(dir);
    LoadImage(base / "iram.bin", iram_);
    LoadImage(base / "sdram.bin", sdram_);
    for (size_t i = 0; i < flash_.size(); ++i) LoadImage(base / FlashName(i), flash_[i].data);
    return true;
}

bool Memory::Save(const std::string& dir, std::string& error) const {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        error = "cannot create directory " + dir;
        return false;
    }
    const fs::path base(dir);
    if (!SaveImage(base / "iram.bin", iram_, error)) return false;
    if (!SaveImage(base / "sdram.bin", sdram_, error)) return false;
    for (size_t i = 0; i < flash_.size(); ++i) {
        if (!SaveImage(base / FlashName(i), flash_[i].data, error)) return false;
    }
    return true;
}

}  // namespace sim
