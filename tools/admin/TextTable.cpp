#include "admin/TextTable.h"

#include <algorithm>

namespace admin {

namespace {

// Characters of a UTF-8 text: the bytes that do not continue a character.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string CsvField(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string TextTable::Aligned() const {
    std::vector<std::size_t> widths(header_.size(), 0);
    const auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], Width(row[i]));
    };
    measure(header_);
    for (const auto& row : rows_) measure(row);
    const auto line = [&](const std::vector<std::string>& row) {
        std::string text;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? row[i] : std::string();
            text += cell;
            if (i + 1 < widths.size()) text += std::string(widths[i] - Width(cell) + 2, ' ');
        }
        return text + "\n";
    };
    std::string text = line(header_);
    std::vector<std::string> dashes;
    for (const std::size_t w : widths) dashes.emplace_back(w, '-');
    text += line(dashes);
    for (const auto& row : rows_) text += line(row);
    return text;
}

std::string TextTable::Csv() const {
    const auto line = [](const std::vector<std::string>& row) {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i) text += (i > 0 ? "," : "") + CsvField(row[i]);
        return text + "\n";
    };
    std::string text = line(header_);
    for (const auto& row : rows_) text += line(row);
    return text;
}

}  // namespace admin
