// Command-line plumbing (see cli.h).
#include "tools/kelmo/cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "kelmo.h"

namespace kelmo::cli {

CliError usageError(const std::string &message) { return CliError(kExitUsage, message); }
CliError failure(const std::string &message) { return CliError(kExitFailure, message); }

std::optional<std::string> ParsedArgs::value(const std::string &name) const {
    const auto it = values_.find(name);
    if (it == values_.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
}

std::vector<std::string> ParsedArgs::all(const std::string &name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

namespace {
const OptionSpec *findLong(const std::vector<OptionSpec> &specs, const std::string &name) {
    for (const OptionSpec &s : specs)
        if (s.name == name) return &s;
    return nullptr;
}
const OptionSpec *findShort(const std::vector<OptionSpec> &specs, char name) {
    for (const OptionSpec &s : specs)
        if (s.shortName != 0 && s.shortName == name) return &s;
    return nullptr;
}
}  // namespace

ParsedArgs parseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h" || word == "--help") {
            parsed.helpRequested = true;
            return parsed;
        }
        const OptionSpec *option = nullptr;
        std::string shown = word;
        std::optional<std::string> inlineValue;
        if (word.rfind("--", 0) == 0) {
            std::string name = word.substr(2);
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name = name.substr(0, eq);
                shown = "--" + name;
            }
            option = findLong(specs, name);
        } else if (word.size() == 2) {
            option = findShort(specs, word[1]);
        } else if (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.') {
            // "-5" where a positional is expected: a negative number, not an option.
            parsed.positional.push_back(word);
            continue;
        }
        if (option == nullptr) throw usageError("unknown option '" + shown + "'");
        if (!option->repeatable && parsed.has(option->name))
            throw usageError("option --" + option->name + " is given more than once");
        if (!option->takesValue) {
            if (inlineValue) throw usageError("option --" + option->name + " takes no value");
            parsed.add(option->name, "");
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) throw usageError("option " + shown + " needs a value");
            inlineValue = args[++i];
        }
        parsed.add(option->name, *inlineValue);
    }
    return parsed;
}

void requirePositionals(const ParsedArgs &args, std::size_t minCount, std::size_t maxCount,
                        const std::string &what) {
    const std::size_t n = args.positional.size();
    if (n < minCount) throw usageError("missing argument: expected " + what);
    if (n > maxCount)
        throw usageError("unexpected argument '" + args.positional[maxCount] + "': expected " + what);
}

double parseNumber(const std::string &text, const std::string &what) {
    // strtod would also accept "inf", "nan" and hexadecimal; only plain decimal
    // numbers are meant.
    bool plain = !text.empty();
    for (char c : text)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' ||
              c == 'E'))
            plain = false;
    if (plain) {
        errno = 0;
        char *end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end == text.c_str() + text.size() && errno == 0 && std::isfinite(v)) return v;
    }
    throw usageError(what + " expects a number, not '" + text + "'");
}

double parseNumberInRange(const std::string &text, const std::string &what, double low, double high) {
    const double v = parseNumber(text, what);
    if (v < low || v > high) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        throw usageError(what + " must lie in " + range + ", not '" + text + "'");
    }
    return v;
}

long parseInteger(const std::string &text, const std::string &what, long low, long high) {
    bool digits = !text.empty();
    for (std::size_t k = 0; k < text.size(); ++k)
        if (!(std::isdigit(static_cast<unsigned char>(text[k])) || (k == 0 && (text[k] == '-' || text[k] == '+'))))
            digits = false;
    if (digits && text.size() < 12) {
        const long v = std::strtol(text.c_str(), nullptr, 10);
        if (v >= low && v <= high) return v;
        throw usageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    }
    throw usageError(what + " expects a whole number, not '" + text + "'");
}

Size2 parseSize(const std::string &text, const std::string &what, int maxSide) {
    const std::size_t x = text.find_first_of("xX");
    Size2 size;
    try {
        if (x == std::string::npos) {
            size.width = size.height = static_cast<int>(parseInteger(text, what, 1, maxSide));
        } else {
            size.width = static_cast<int>(parseInteger(text.substr(0, x), what, 1, maxSide));
            size.height = static_cast<int>(parseInteger(text.substr(x + 1), what, 1, maxSide));
        }
    } catch (const CliError &) {
        throw usageError(what + " expects WIDTHxHEIGHT with sides from 1 to " + std::to_string(maxSide) +
                         ", not '" + text + "'");
    }
    return size;
}

std::string statusText(int status) {
    switch (status) {
    case TAVOIMG_ERR_HANDLE: return "invalid image handle";
    case TAVOIMG_ERR_NULL: return "null pointer";
    case TAVOIMG_ERR_ARGUMENT: return "an argument is out of range";
    case TAVOIMG_ERR_OPEN: return "the file cannot be opened";
    case TAVOIMG_ERR_FORMAT: return "not a PNG, JPEG or BMP file the imaging library reads";
    case TAVOIMG_ERR_CORRUPT: return "the file is truncated or corrupt";
    case TAVOIMG_ERR_MEMORY: return "the image is larger than the imaging library's limits";
    case TAVOIMG_ERR_WRITE: return "the file cannot be written";
    case TAVO_ERR_GENERAL: return "the library refused the call (status -1)";
    case TAVO_ERR_NO_TEXTURE: return "the region has no texture (status -2)";
    case TAVO_ERR_INVALID_HANDLE: return "invalid model handle (status -4)";
    case TAVO_ERR_ALPHA_GRID: return "alpha.grd cannot be opened (status -10)";
    case TAVO_ERR_LIST7: return "list7.txt cannot be opened or is malformed (status -13)";
    default: return "status " + std::to_string(status);
    }
}

}  // namespace kelmo::cli
