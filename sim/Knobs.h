// Knobs written once in a table: the parser, its messages ("needs a value" and the others) and
// the help text all come from the same rows. The board and the cable emulators use it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace sim {

template <class Options>
struct Knob {
    const char* name = nullptr;   // nullptr: a heading row of the help text, nothing to parse
    const char* value = nullptr;  // what the value looks like, e.g. "N"; nullptr for a flag
    const char* help = nullptr;
    // Applies the value (empty for a flag); false with `expected` saying what the value
    // should have been ("a whole number from 1").
    bool (*apply)(Options& options, const std::string& value, std::string& expected) = nullptr;
};

// Whole number from 0 to max, decimal or 0x-hexadecimal.
inline bool KnobNumber(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

// One to `digits` hexadecimal digits (at most 16), "0x" before them or not.
inline bool KnobHex(const std::string& text, size_t digits, uint64_t& out) {
    const size_t first =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (text.size() == first || text.size() - first > digits) return false;
    uint64_t v = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

// Sets `field` to the value paired with `text` among `words`; false with `expected` listing
// the words ("a, b or c").
template <class T>
bool KnobChoice(const std::string& text, std::initializer_list<const char*> words,
                std::initializer_list<T> values, T& field, std::string& expected) {
    const T* value = values.begin();
    for (const char* w : words) {
        if (text == w) {
            field = *value;
            return true;
        }
        ++value;
    }
    expected.clear();
    size_t i = 0;
    for (const char* w : words) {
        if (i > 0) expected += i + 1 == words.size() ? " or " : ", ";
        expected += w;
        ++i;
    }
    return false;
}

// Applies the knobs of text[first...] ("knob[=value],..."; none when first is npos) to a copy
// of `out`, checks the whole with `validate` ("" when it is good) and only then stores it. On
// failure `out` is unchanged and `error` names the knob; `what` names the family in messages.
template <class Options, size_t N>
bool ParseKnobs(const Knob<Options> (&table)[N], const char* what, const std::string& text,
                size_t first, Options& out, std::string& error,
                std::string (*validate)(const Options&)) {
    Options o = out;
    const std::string family = std::string(what) + " knob '";
    for (size_t pos = first; pos != std::string::npos;) {
        size_t end = text.find(',', pos);
        const std::string item = text.substr(pos, end == std::string::npos ? end : end - pos);
        pos = end == std::string::npos ? end : end + 1;
        if (item.empty()) {
            error = std::string("empty ") + what + " knob in '" + text + "'";
            return false;
        }
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const Knob<Options>* knob = nullptr;
        for (const Knob<Options>& k : table)
            if (k.name != nullptr && name == k.name) knob = &k;
        if (knob == nullptr) {
            error = "unknown " + family + name + "' (see --help for the list)";
            return false;
        }
        if (knob->value == nullptr && eq != std::string::npos) {
            error = family + name + "' takes no value";
            return false;
        }
        if (knob->value != nullptr && eq == std::string::npos) {
            error = family + name + "' needs a value (" + name + "=...)";
            return false;
        }
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        std::string expected;
        if (!knob->apply(o, value, expected)) {
            error = family + name + "': '" + value + "' is not " + expected;
            return false;
        }
    }
    if (validate != nullptr) {
        error = validate(o);
        if (!error.empty()) return false;
    }
    out = o;
    return true;
}

// The same for a text of knobs alone ("" for none).
template <class Options, size_t N>
bool ParseKnobs(const Knob<Options> (&table)[N], const char* what, const std::string& text,
                Options& out, std::string& error, std::string (*validate)(const Options&)) {
    return ParseKnobs(table, what, text, text.empty() ? std::string::npos : 0, out, error,
                      validate);
}

// One entry of a help text: `left` indented by two, the help from column 27 on (two blanks
// at least after `left`, which tells help2man where the help begins), wrapped at 80 columns.
inline std::string HelpEntry(const std::string& left, const std::string& help) {
    constexpr size_t kColumn = 27;
    constexpr size_t kWidth = 80;
    std::string text = "  " + left + " ";
    if (text.size() < kColumn - 1) text.resize(kColumn - 1, ' ');
    size_t lineStart = 0;
    for (size_t pos = 0; pos < help.size();) {
        size_t end = help.find(' ', pos);
        if (end == std::string::npos) end = help.size();
        if (end > pos) {
            if (text.size() - lineStart + 1 + (end - pos) > kWidth &&
                text.size() > lineStart + kColumn) {
                text += '\n';
                lineStart = text.size();
                text.append(kColumn - 1, ' ');
            }
            text += ' ';
            text.append(help, pos, end - pos);
        }
        pos = end + 1;
    }
    return text + "\n";
}

// The table's help: one entry per knob, heading rows as they stand.
template <class Options, size_t N>
std::string KnobsHelp(const Knob<Options> (&table)[N]) {
    std::string text;
    for (const Knob<Options>& k : table) {
        if (k.name == nullptr)
            text += std::string(k.help) + "\n";
        else
            text += HelpEntry(std::string(k.name) + (k.value ? std::string("=") + k.value : ""),
                              k.help);
    }
    return text;
}

}  // namespace sim
