#include "admin/CommandLine.h"

#include <algorithm>
#include <charconv>

namespace admin {

namespace {

// "--name": letters, digits and dashes after the two dashes. Anything else is a word, so
// an SQL text that begins with a "-- " comment is not taken for an option.
bool LooksLikeOption(const std::string& text) {
    if (text.size() < 3 || !text.starts_with("--")) return false;
    return std::all_of(text.begin() + 2, text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-';
    });
}

}  // namespace

CommandLine::CommandLine(const std::vector<std::string>& args,
                         const std::vector<OptionSpec>& specs) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(0, arg.find('='));
        if (optionsEnded || !LooksLikeOption(name)) {
            words_.push_back(arg);
            continue;
        }
        name.erase(0, 2);
        std::optional<std::string> value;
        if (name.size() + 2 < arg.size()) value = arg.substr(name.size() + 3);
        const auto spec = std::find_if(specs.begin(), specs.end(),
                                       [&](const OptionSpec& s) { return s.name == name; });
        if (spec == specs.end()) throw UsageError("opção desconhecida: --" + name);
        if (spec->takesValue && !value) {
            if (i + 1 >= args.size()) throw UsageError("falta o valor de --" + name);
            value = args[++i];
        }
        if (!spec->takesValue && value) throw UsageError("--" + name + " não leva valor");
        if (options_.contains(name)) throw UsageError("--" + name + " foi dada duas vezes");
        options_[name] = value.value_or("");
    }
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
    const auto found = options_.find(name);
    if (found == options_.end()) return std::nullopt;
    return found->second;
}

std::string CommandLine::Required(const std::string& name) const {
    const auto value = Value(name);
    if (!value || value->empty()) throw UsageError("falta --" + name);
    return *value;
}

std::optional<std::int64_t> CommandLine::Number(const std::string& name, std::int64_t max) const {
    const auto text = Value(name);
    if (!text) return std::nullopt;
    std::int64_t number = -1;
    const char* end = text->data() + text->size();
    const auto result = std::from_chars(text->data(), end, number);
    if (text->empty() || result.ec != std::errc() || result.ptr != end || number < 0 ||
        number > max)
        throw UsageError("--" + name + " deve ser um número inteiro de 0 a " + std::to_string(max) +
                         ": \"" + *text + "\"");
    return number;
}

void CommandLine::AllowOnly(const std::vector<std::string>& allowed,
                            const std::string& command) const {
    for (const auto& [name, value] : options_)
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            throw UsageError("--" + name + " não se aplica ao comando " + command);
}

}  // namespace admin
