// The SQL text of a query on its way to the server: comment removal, parameter markers
// and their substitution, the first table of a SELECT, and the statements that change
// the connection's character set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/DbParams.h"
#include "dbclient/DbSet.h"

namespace dbclient {

enum class TQueryProcessComment { qpcMinusMinus, qpcSharp, qpcSlashAsterisk };
using enum TQueryProcessComment;
using TQueryProcessComments = TSet<TQueryProcessComment>;

// Removes comments from the text: with qpcSlashAsterisk the first "/*" (unless followed
// by "!") through the next "*/"; with qpcMinusMinus, in each line, everything from the
// first "-- "; with qpcSharp the same from the first "#". Quotes are not looked at, so a
// "-- " inside a quoted value cuts that line too.
std::string StripSqlComments(std::string text, TQueryProcessComments process);

// A text with its ":name" parameter markers replaced by "?".
struct TParsedSql {
    struct Marker {
        std::size_t offset;  // of the "?" in `text`
        std::string name;
    };
    std::string text;
    std::vector<Marker> markers;
    std::vector<std::string> Names() const;
};

// Finds ":name" markers outside literals quoted with ', " or `; "::" is no marker.
TParsedSql ParseSqlParams(std::string_view text);

// Puts each parameter's value, as an SQL literal, in place of its marker; "No value for
// parameter '%s'" for a parameter that was never given one.
std::string SubstituteParams(const TParsedSql& parsed, const TParams& params);

// The first table after FROM of a SELECT (database and table when qualified), without its
// quotes; nothing for other statements, derived tables and DUAL.
std::optional<std::vector<std::string>> FindSelectTable(std::string_view text);

// The table name for "SHOW INDEX FROM %s": each part in backquotes, or as it is for a
// server older than 3.23.7.
std::string QuoteTableName(const std::vector<std::string>& parts, int serverVersion);

// True for "SET NAMES ..." and "SET character_set_client/results/connection ...".
bool IsCharsetStatement(std::string_view text);

}  // namespace dbclient
