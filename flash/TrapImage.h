// Building trap-handler images from their files: the main window's general handler and the
// pages' general + device handler pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Handlers run from the target's on-chip RAM; nothing larger is a handler.
constexpr uint64_t kMaxTrapImage = 64u * 1024u;

// True when an image of `bytes` (after padding) may be downloaded.
bool CheckTrapImageSize(uint64_t bytes);

// Reads the files one after another into one image, padded with blanks (0x20) to a multiple
// of 4 bytes. False with a status text naming the file (or the size) when a file cannot be
// read or the image would exceed kMaxTrapImage; nothing is read past that limit.
bool BuildTrapImage(const std::vector<std::string>& paths, std::vector<uint8_t>& image,
                    std::string& error);
