// A profile file (Windows INI) held in memory: read key by key, written key by key,
// and stored back whole so that every line nobody wrote stays byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace config {

// Reads the way GetPrivateProfileIntA does: optional sign, then "0x"/"0X" for hexadecimal,
// else decimal; digits are taken up to the first other character and wrap modulo 2^32.
// So "12abc" gives 12, "0x" and "abc" give 0, "-1" gives 0xFFFFFFFF.
uint32_t ParseProfileInt(std::string_view text);

class IniFile {
  public:
    IniFile() = default;

    // Replaces the content with `text`. Both CRLF and LF lines are read.
    void Parse(std::string_view text);
    // Reads the file; false (content empty) when it cannot be opened.
    bool Load(const std::string& path);

    // The value of `key` in `section` (both case-insensitive, first occurrence wins), with blanks
    // around it and one pair of enclosing quotes dropped, or `def` when the key is absent.
    // The result is cut to bufSize - 1 characters; `truncated` tells whether that happened.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t bufSize, bool* truncated = nullptr) const;
    // An absent key or an empty value gives `def`.
    uint32_t GetInt(std::string_view section, std::string_view key, uint32_t def) const;
    bool HasKey(std::string_view section, std::string_view key) const;

    // "key=value" with `value` exactly as given (callers add the leading blank). An existing
    // key keeps its line and everything up to its '='; a new one goes after the last non-blank
    // line of its section; a new section goes at the end. New lines use the file's line ending.
    // A value is cut at its first line break.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    std::string Text() const;

    // Writes Text() to a temporary file beside `path`, flushes it and renames it over `path`.
    // On failure the old file is left as it was and `error` says why.
    bool SaveAtomic(const std::string& path, std::string& error) const;

  private:
    struct Line {
        std::string text;
        std::string eol;  // "\r\n", "\n", or "" for a last line without one
    };
    struct Section {
        std::size_t header;                                 // index of the "[name]" line
        std::size_t end;                                    // one past its last line
        std::unordered_map<std::string, std::size_t> keys;  // lower-case key -> line
    };

    void Reindex();
    const std::string* FindValueText(std::string_view section, std::string_view key) const;
    std::string NewLineEnding() const;

    std::vector<Line> m_lines;
    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_sectionIndex;  // lower-case name -> section
};

}  // namespace config
