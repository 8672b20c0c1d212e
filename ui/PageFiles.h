// The files the pages read and write, and how they report a file they cannot use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ILinkObserver;

// The file name alone, as a page's File field shows it.
std::string FileNameOf(const std::string& path);

enum class FileFault { None, CannotOpen, CannotRead, CannotCreate, CannotWrite, NoMemory };

// Reads at most `limit` bytes from the start of a file; `length`, when given, gets the
// file's whole length.
FileFault ReadFileHead(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                       uint64_t* length = nullptr);

// "Cannot open <path>" and the like in the status field, `mark` in the result field.
void ShowFileFault(ILinkObserver& observer, FileFault fault, const std::string& path,
                   const char* mark);
