// The command line of the administrators' tools: "--name value" or "--name=value"
// options, in any order and before or after the command, and the plain words ("--" alone
// ends the options: every argument after it is a word).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace admin {

// A command line that cannot be used: the tool prints it with its usage and exits with 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string name;  // without the leading "--"
    bool takesValue = true;
};

class CommandLine {
  public:
    // Raises UsageError for an unknown option, an option without its value, or one given
    // twice.
    CommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

    const std::vector<std::string>& Words() const { return words_; }
    bool Has(const std::string& name) const { return options_.contains(name); }
    std::optional<std::string> Value(const std::string& name) const;
    // The option's value, raising UsageError when it is missing.
    std::string Required(const std::string& name) const;
    // A whole number from 0 to `max`, or nothing when the option is absent; UsageError
    // for any other text.
    std::optional<std::int64_t> Number(const std::string& name, std::int64_t max) const;
    // Raises UsageError when an option other than `allowed` was given: one that belongs
    // to another command.
    void AllowOnly(const std::vector<std::string>& allowed, const std::string& command) const;

  private:
    std::vector<std::string> words_;
    std::map<std::string, std::string> options_;
};

}  // namespace admin
