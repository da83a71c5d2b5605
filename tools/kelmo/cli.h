// Command-line plumbing of the kelmo tool: errors with exit codes, the option
// parser every subcommand uses, and number parsing with messages that name
// the option and the offending text.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelmo::cli {

// Exit codes of every subcommand (documented in `kelmo --help`).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;    // an input is missing or unusable, no face, a write failed
inline constexpr int kExitUsage = 2;      // bad command line: unknown option, bad value, missing argument
inline constexpr int kExitSomeSkipped = 3;  // batch: some photos were skipped, the others are done

// An error that ends the subcommand: its message is printed after
// "kelmo <command>: " and the process exits with `exitCode`.
class CliError : public std::runtime_error {
public:
    CliError(int exitCode, const std::string &message) : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// A bad command line (exit code 2; the message is followed by a hint to --help).
CliError usageError(const std::string &message);
// Any other failure (exit code 1).
CliError failure(const std::string &message);

struct OptionSpec {
    std::string name;        // long name without dashes: "points" for --points
    char shortName = 0;      // 'o' for -o, 0 for none
    bool takesValue = false;
    bool repeatable = false;  // may be given several times (--morph)
};

// The parsed command line of one subcommand.
class ParsedArgs {
public:
    bool helpRequested = false;
    std::vector<std::string> positional;

    bool has(const std::string &name) const { return values_.count(name) != 0; }
    // The value of an option given once; nullopt when absent.
    std::optional<std::string> value(const std::string &name) const;
    // Every value of a repeatable option, in command-line order.
    std::vector<std::string> all(const std::string &name) const;

    void add(const std::string &name, const std::string &value) { values_[name].push_back(value); }

private:
    std::map<std::string, std::vector<std::string>> values_;
};

// Parses `args` (the words after the subcommand's name). "--name value",
// "--name=value" and "-o value" are accepted; a value may start with '-'
// ("--yaw -30"). "--" ends the options. "-h" or "--help" anywhere sets
// helpRequested and stops. Throws a usage error for an unknown option, a
// missing value, a value given to a flag, or an option repeated that is not
// repeatable.
ParsedArgs parseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs);

// Requires exactly `minCount` to `maxCount` positional arguments, naming what
// they are in the message ("expected one PHOTO").
void requirePositionals(const ParsedArgs &args, std::size_t minCount, std::size_t maxCount,
                        const std::string &what);

// Numbers of option values. `what` names the option in messages ("--yaw").
// Finite decimal numbers only (no hex, no "inf"/"nan"), whole text consumed.
double parseNumber(const std::string &text, const std::string &what);
double parseNumberInRange(const std::string &text, const std::string &what, double low, double high);
// A decimal integer in [low, high].
long parseInteger(const std::string &text, const std::string &what, long low, long high);

struct Size2 {
    int width = 0;
    int height = 0;
};
// "WxH" (or "W" for a square), each side 1 to maxSide.
Size2 parseSize(const std::string &text, const std::string &what, int maxSide);

// Text of a tavoimage or libkelmo status, for messages.
std::string statusText(int status);

}  // namespace kelmo::cli
