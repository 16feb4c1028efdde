// A program's command-line options as one table: the parser and the usage lines come from it.
#pragma once

#include <string>
#include <vector>

template <class Args>
struct OptionSpec {
    const char* name;
    const char* argument;  // nullptr: a switch
    const char* help;
    // Takes the value into `args`; returns an error line, or "" when the value is good.
    std::string (*apply)(Args& args, const std::string& value);
};

// An option's whole number from `min` to `max`: digits only, ten at most, summed in 64 bits,
// since `long` has only 32 on Windows, where 4294972297 would wrap to 5001.
inline bool ParseNumber(const std::string& text, long min, long max, long* out) {
    if (text.empty() || text.size() > 10) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < min || v > max) return false;
    *out = static_cast<long>(v);
    return true;
}

// Two options that contradict each other: given together, neither can be taken.
struct OptionConflict {
    const char* first;
    const char* second;
};

// Reads "--name VALUE", "--name=VALUE" and switches from `words` (without the program
// name) into `args`; an option given twice takes its last value. False with a one-line
// `error` at the first bad word, or naming both options of a conflict given together.
template <class Args, size_t N>
bool ParseOptions(const OptionSpec<Args> (&table)[N], const std::vector<std::string>& words,
                  Args* args, std::string* error,
                  const std::vector<OptionConflict>& conflicts = {}) {
    std::vector<std::string> given;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i], value;
        const size_t eq = word.find('=');
        const bool inlineValue = word.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = word.substr(eq + 1);
            word.resize(eq);
        }
        const OptionSpec<Args>* spec = nullptr;
        for (const OptionSpec<Args>& o : table)
            if (word == o.name) spec = &o;
        if (spec == nullptr) {
            *error = word.compare(0, 1, "-") == 0 ? "unknown option '" + word + "'"
                                                  : "unexpected argument '" + word + "'";
            return false;
        }
        if (spec->argument != nullptr && !inlineValue) {
            if (i + 1 >= words.size()) {
                *error = word + " needs " + spec->argument;
                return false;
            }
            value = words[++i];
        } else if (spec->argument == nullptr && inlineValue) {
            *error = word + " takes no value";
            return false;
        }
        *error = spec->apply(*args, value);
        if (!error->empty()) return false;
        given.push_back(spec->name);
    }
    const auto wasGiven = [&given](const char* name) {
        for (const std::string& g : given)
            if (g == name) return true;
        return false;
    };
    for (const OptionConflict& c : conflicts) {
        if (wasGiven(c.first) && wasGiven(c.second)) {
            *error = std::string(c.first) + " and " + c.second + " cannot be given together";
            return false;
        }
    }
    return true;
}

// The line that follows a usage error's own: the whole usage would bury it.
inline std::string UsageHint(const char* program) {
    return std::string("try '") + program + " --help' for the options\n";
}

// One line per option: name and argument in a column of `width`, then the help.
template <class Args, size_t N>
std::string OptionLines(const OptionSpec<Args> (&table)[N], size_t width) {
    std::string text;
    for (const OptionSpec<Args>& o : table) {
        std::string left =
            std::string("  ") + o.name + (o.argument ? std::string(" ") + o.argument : "");
        if (left.size() < width)
            left.resize(width, ' ');
        else
            left += "  ";
        text += left + o.help + "\n";
    }
    return text;
}
