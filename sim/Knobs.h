// Knobs written once in a table: the parser, the "needs a value" message and the help text all
// come from the same rows. Used by the cable emulators ("name=value,flag,...").
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace sim {

template <class Options>
struct Knob {
    const char* name;
    const char* value;  // what the value looks like, e.g. "N"; nullptr for a flag
    const char* help;
    // Applies the value (empty for a flag); false with `error` naming what was expected.
    bool (*apply)(Options& options, const std::string& value, std::string& error);
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

// Parses "knob[=value],..." into `out`; on failure `out` is unchanged and `error` says why.
template <class Options, size_t N>
bool ParseKnobs(const Knob<Options> (&table)[N], const char* what, const std::string& text,
                Options& out, std::string& error) {
    Options o = out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(pos, comma - pos);
        pos = comma + 1;
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const Knob<Options>* knob = nullptr;
        for (const Knob<Options>& k : table)
            if (name == k.name) knob = &k;
        if (knob == nullptr) {
            error = std::string("unknown ") + what + " knob '" + name + "'";
            return false;
        }
        if ((knob->value != nullptr) != (eq != std::string::npos)) {
            error = std::string(what) + " knob '" + name + "' " +
                    (knob->value ? std::string("needs a value (") + name + "=" + knob->value + ")"
                                 : std::string("takes no value"));
            return false;
        }
        std::string detail;
        if (!knob->apply(o, eq == std::string::npos ? std::string() : item.substr(eq + 1),
                         detail)) {
            error = std::string(what) + " knob '" + item + "': expected " + detail;
            return false;
        }
    }
    out = o;
    return true;
}

// One line per knob, for --help.
template <class Options, size_t N>
std::string KnobsHelp(const Knob<Options> (&table)[N]) {
    std::string text;
    for (const Knob<Options>& k : table) {
        std::string left = std::string("  ") + k.name + (k.value ? std::string("=") + k.value : "");
        if (left.size() < 24) left.resize(24, ' ');
        text += left + " " + k.help + "\n";
    }
    return text;
}

}  // namespace sim
