#include "config/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace config {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// "[name]" gives name; anything else is not a section header.
bool SectionName(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// "key=value" gives key; comments and lines without '=' are not keys.
bool KeyName(std::string_view line, std::string_view& key) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(line.substr(0, eq));
    return !key.empty();
}

}  // namespace

uint32_t ParseProfileInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<uint32_t>(c - 'A' + 10);
        else
            break;
        value = value * base + d;
    }
    return negative ? 0u - value : value;
}

void IniFile::Parse(std::string_view text) {
    m_lines.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        Line line;
        if (nl == std::string_view::npos) {
            line.text = std::string(text.substr(pos));
            pos = text.size();
        } else {
            std::size_t end = nl;
            if (end > pos && text[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = std::string(text.substr(pos, end - pos));
            pos = nl + 1;
        }
        m_lines.push_back(std::move(line));
    }
    Reindex();
}

bool IniFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Parse({});
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    Parse(content.str());
    return true;
}

void IniFile::Reindex() {
    m_sections.clear();
    m_sectionIndex.clear();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        std::string_view name;
        if (SectionName(m_lines[i].text, name)) {
            if (!m_sections.empty()) m_sections.back().end = i;
            m_sections.push_back(Section{i, m_lines.size(), {}});
            m_sectionIndex.emplace(Lower(name), m_sections.size() - 1);
            continue;
        }
        std::string_view key;
        if (!m_sections.empty() && KeyName(m_lines[i].text, key))
            m_sections.back().keys.emplace(Lower(key), i);
    }
}

const std::string* IniFile::FindValueText(std::string_view section, std::string_view key) const {
    auto s = m_sectionIndex.find(Lower(section));
    if (s == m_sectionIndex.end()) return nullptr;
    const Section& sec = m_sections[s->second];
    auto k = sec.keys.find(Lower(key));
    if (k == sec.keys.end()) return nullptr;
    return &m_lines[k->second].text;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                               std::size_t bufSize, bool* truncated) const {
    std::string_view value = def;
    if (const std::string* line = FindValueText(section, key)) {
        value = Trim(std::string_view(*line).substr(line->find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
    }
    std::size_t limit = bufSize == 0 ? 0 : bufSize - 1;
    if (truncated) *truncated = value.size() > limit;
    if (value.size() > limit) value = value.substr(0, limit);
    return std::string(value);
}

uint32_t IniFile::GetInt(std::string_view section, std::string_view key, uint32_t def) const {
    std::string text = GetString(section, key, "", 4096);
    return text.empty() ? def : ParseProfileInt(text);
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    return FindValueText(section, key) != nullptr;
}

std::string IniFile::NewLineEnding() const {
    for (const Line& line : m_lines)
        if (!line.eol.empty()) return line.eol;
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // A line break inside a value would start a line of its own on the next read.
    value = value.substr(0, value.find_first_of("\r\n"));
    auto s = m_sectionIndex.find(Lower(section));
    if (s != m_sectionIndex.end()) {
        const Section& sec = m_sections[s->second];
        auto k = sec.keys.find(Lower(key));
        if (k != sec.keys.end()) {
            std::string& text = m_lines[k->second].text;
            std::string updated = text.substr(0, text.find('=') + 1).append(value);
            if (updated != text) text = std::move(updated);
            return;
        }
        std::size_t at = sec.header;
        for (std::size_t i = sec.end; i > sec.header + 1; --i)
            if (!Trim(m_lines[i - 1].text).empty()) {
                at = i - 1;
                break;
            }
        std::string eol = NewLineEnding();
        if (m_lines[at].eol.empty()) m_lines[at].eol = eol;
        std::string text = std::string(key).append("=").append(value);
        const std::size_t q = at + 1;
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(q),
                       Line{std::move(text), eol});
        // Shift the index past the new line instead of rebuilding it.
        const std::size_t target = s->second;
        for (Section& other : m_sections) {
            if (other.header >= q) ++other.header;
            if (other.end >= q) ++other.end;
            for (auto& entry : other.keys)
                if (entry.second >= q) ++entry.second;
        }
        m_sections[target].keys.emplace(Lower(key), q);
        return;
    } else {
        std::string eol = NewLineEnding();
        if (!m_lines.empty() && m_lines.back().eol.empty()) m_lines.back().eol = eol;
        std::string header;
        header.reserve(section.size() + 2);
        header.push_back('[');
        header.append(section);
        header.push_back(']');
        m_lines.push_back(Line{std::move(header), eol});
        m_lines.push_back(Line{std::string(key).append("=").append(value), eol});
    }
    Reindex();
}

std::string IniFile::Text() const {
    std::string out;
    for (const Line& line : m_lines) out.append(line.text).append(line.eol);
    return out;
}

bool IniFile::SaveAtomic(const std::string& path, std::string& error) const {
    const std::string temp = path + ".tmp";
    const std::string text = Text();
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    int err = 0;
    auto fail = [&err] { err = err ? err : (errno ? errno : EIO); };
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) fail();
    if (std::fflush(f) != 0) fail();
#ifndef _WIN32
    // The rename must not reach the disk before the data does.
    if (err == 0 && ::fsync(fileno(f)) != 0) fail();
#endif
    if (std::fclose(f) != 0) fail();
    if (err != 0) {
        error = "cannot write " + temp + ": " + std::strerror(err);
        std::remove(temp.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace config
