#include "sim/Memory.h"

#include "sim/FlashBus.h"

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

Memory::Memory() : iram_(kIramSize, 0), sdram_(kSdramSize, 0) {}

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
    if (flash_ && flash_->Contains(addr))
        return {nullptr, flash_->size() - (addr - flash_->base()), kFlash};
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
        if (span.kind == kFlash)
            flash_->PeekBytes(addr, out, len);
        else
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
        if (span.kind == kFlash)
            flash_->PokeBytes(addr, in, len);
        else
            std::memcpy(span.bytes, in, len);
        in += len, addr += static_cast<uint32_t>(len), n -= len;
    }
}

void Memory::BusRead(uint32_t addr, uint8_t* out, size_t n) {
    if (beforeRead) beforeRead(addr, n);
    for (size_t i = 0; i < n; ++i) {
        if (Find(addr + static_cast<uint32_t>(i)).kind == kUnmapped) ++unmappedReads_;
    }
    Peek(addr, out, n);
}

void Memory::BusWrite(uint32_t addr, const uint8_t* in, size_t n) {
    const uint32_t start = addr;
    const size_t total = n;
    bool control = false;
    // An aligned word wholly in flash is one 32-bit access (two cycles on a 16-bit bus).
    if (flash_ && n == 4 && (addr & 3) == 0 && Find(addr).kind == kFlash &&
        flash_->Contains(addr + 3)) {
        const uint32_t word = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                              static_cast<uint32_t>(in[2]) << 16 |
                              static_cast<uint32_t>(in[3]) << 24;
        flash_->BusWrite(addr, word, 32, now_ ? *now_ : 0);
        n = 0;
    }
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
                flash_->BusWrite(addr, *in, 8, now_ ? *now_ : 0);
                break;
            default:
                *span.bytes = *in;
                break;
        }
        ++in, ++addr, --n;
    }
    if (control && onControl) onControl(dcuControl);
    if (afterWrite) afterWrite(start, total);
}

namespace {
namespace fs = std::filesystem;

void LoadImage(const fs::path& path, std::vector<uint8_t>& into) {
    Memory::LoadFile(path.string(), into.data(), into.size());
}

bool SaveImage(const fs::path& path, const std::vector<uint8_t>& from, std::string& error) {
    return Memory::SaveFile(path.string(), from.data(), from.size(), error);
}

std::string FlashName(size_t i) {
    return "flash" + std::to_string(i) + ".bin";
}
}  // namespace

void Memory::LoadFile(const std::string& path, uint8_t* into, size_t n) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return;  // nothing saved yet: keep reset contents
    file.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(n));
    // A short file fills only what it holds; an oversized one is cut to the region.
}

bool Memory::SaveFile(const std::string& path_, const uint8_t* from, size_t n, std::string& error) {
    const fs::path path(path_);
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(from), static_cast<std::streamsize>(n));
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
    if (flash_) {
        // The file holds the window as the target reads it; what it lacks stays as it is.
        std::vector<uint8_t> image(flash_->size());
        flash_->PeekBytes(flash_->base(), image.data(), image.size());
        LoadImage(base / FlashName(0), image);
        flash_->PokeBytes(flash_->base(), image.data(), image.size());
    }
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
    if (flash_) {
        std::vector<uint8_t> image(flash_->size());
        flash_->PeekBytes(flash_->base(), image.data(), image.size());
        if (!SaveImage(base / FlashName(0), image, error)) return false;
    }
    return true;
}

}  // namespace sim
