// A report table: columns aligned for a person at a terminal, or comma-separated values
// with a header line, quoted as RFC 4180 says, for a spreadsheet or a script.
#pragma once

#include <string>
#include <vector>

namespace admin {

class TextTable {
  public:
    explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool Empty() const { return rows_.empty(); }
    std::size_t Size() const { return rows_.size(); }

    // The header and the rows, each column as wide as its widest text (in characters),
    // separated by two spaces, with a line of dashes under the header.
    std::string Aligned() const;
    // One line per row (the platform's line end); a field holding a comma, a quote or a line break
    // is quoted, its quotes doubled.
    std::string Csv() const;

  private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace admin
