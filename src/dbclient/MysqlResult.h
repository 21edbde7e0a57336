// A result set of one statement: stored (every row read into memory at once, navigable
// both ways, sortable) or used (rows read one at a time from the session).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/MysqlFieldDef.h"
#include "dbclient/MysqlRow.h"
#include "dbclient/MysqlRowStore.h"

namespace dbclient {

class TMysqlClient;

enum TResultType { rtUsed = 0, rtStored = 1 };

class TMysqlResult {
  public:
    // A result without rows yet. A stored result keeps no reference to the session.
    TMysqlResult(TMysqlClient* aMysql, TResultType aType);
    // A used result still reading drains the session's pending rows first.
    ~TMysqlResult();
    TMysqlResult(const TMysqlResult&) = delete;
    TMysqlResult& operator=(const TMysqlResult&) = delete;

    // Navigation. A stored result starts on its first row (RecNo 0); a used result
    // has read its first row. Used results move forward only.
    void Next();
    void Prior();
    void First();
    void Last();
    std::int64_t RecNo() const { return fRecNo; }
    // Stored results: moves to row k (0-based); out-of-range values are ignored.
    void SetRecNo(std::int64_t k);
    bool Eof() const { return fEOF; }
    bool Bof() const { return fBOF; }

    // Current value as zero-terminated text; null for NULL, an index out of range or
    // no current row.
    const char* FieldValue(int aIndex) const;
    // Byte count of the current value once lengths have been read, else the NULL length.
    std::uint32_t FieldLenght(int aIndex) const;
    const TMysql_FieldDef* FieldDef(int aIndex) const;
    // Index of the first column named aName (ASCII case ignored unless CaseSensitive);
    // -1 when none or aName is empty.
    int FieldIndexByName(std::string_view aName, bool CaseSensitive = false) const;
    const TMysql_FieldDef* FieldDefByName(std::string_view aName, bool CaseSensitive = false) const;
    const char* FieldValueByName(std::string_view aName, bool CaseSensitive = false) const;

    // Fills Lengths() for the current row.
    void FetchLengths();
    bool HasLengths() const { return flengthsread; }
    // true: fetches the lengths unless they are already read.
    void SetHasLengths(bool value);

    // The rows ended with an error (a used result cut short).
    bool HadErrors() const { return fLastRow < 0; }
    bool LastRowRead() const { return fLastRow != 0; }

    int FieldsCount() const { return ffieldscount; }
    std::int64_t RowsCount() const { return frowscount; }
    TResultType ResultType() const { return fType; }
    const std::vector<TMysql_FieldDef>& FieldsDefs() const { return ffields; }
    const std::vector<std::uint32_t>& Lengths() const { return flengths; }
    // Values of the current row, or null.
    const TMysql_Row* CurrentRow() const { return fcurrent_row; }

    // Stored results with more than one row: sorts by the given columns, a column with
    // a true descending flag in reverse. NULL sorts before any value. The cursor keeps
    // its position (and shows the row now there).
    void SortBy(const std::vector<int>& columns, const std::vector<bool>& descending = {});
    // Stored results: number of the first row whose columns equal the given texts
    // (ASCII case ignored unless CaseSensitive; with PartialKey a value need only begin
    // with its text); -1 when none. NULL matches no text.
    std::int64_t findrows(const std::vector<int>& columns, const std::vector<std::string>& values,
                          bool CaseSensitive = true, bool PartialKey = false) const;

  private:
    friend class TMysqlClient;

    void MoveTo(std::size_t index);
    void UsedNext();
    void UsedLast();
    // A used result that reached its end (or an error) hands the session back.
    void Detach();

    std::int32_t ffieldscount = 0;
    std::int64_t frowscount = 0;
    std::vector<TMysql_FieldDef> ffields;
    TMysqlClient* fhandle = nullptr;  // used results only, while reading
    TResultType fType;
    std::vector<std::uint32_t> flengths;
    TMysql_Row frow;                         // used result: the current row
    std::vector<std::uint32_t> frow_buffer;  // used result: where the current row is kept
    TMysql_RowStore fstore;                  // stored result: memory of the rows
    std::vector<TMysql_Row> fdata;           // stored result: the rows in arrival order
    std::size_t fdata_cursor = 0;            // stored result: index of the current row
    std::int64_t fRecNo = -1;
    const TMysql_Row* fcurrent_row = nullptr;
    bool fEOF = false;
    bool fBOF = true;
    bool flengthsread = false;
    std::int32_t fLastRow = 0;
    std::uint32_t fnull_length = 0;  // the session's NullLength when the result was made
};

}  // namespace dbclient
