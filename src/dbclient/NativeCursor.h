// The native cursor of a query: runs its statement text over the native connection,
// keeps the whole result in memory, describes its columns as fields (asking the server
// for index metadata and column defaults where needed) and converts rows into records.
// Failures are raised as the internal EDbNativeException.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/DbFieldDesc.h"
#include "dbclient/DbFields.h"
#include "dbclient/MysqlResult.h"
#include "dbclient/NativeConnection.h"

namespace dbclient {

struct TDbIndexDesc {
    std::string Name;
    std::vector<std::string> Fields;
    std::vector<bool> Descending;
    bool Unique = false;
};

// One row of a DESCRIBE answer.
struct TDbDescribeCacheItem {
    std::string TableName;
    std::string FieldName;
    std::string FieldType;
    bool IsNull = false;
    std::string Key;
    std::string Default;
    bool DefaultIsNull = true;
    std::string Extra;
};

enum class TRecordState { tsNoPos, tsPos, tsFirst, tsLast, tsEmpty, tsClosed };
using enum TRecordState;

class TNativeCursor {
  public:
    TNativeCursor(TNativeConnection& connect, std::string sql, int resultsetNo);
    TNativeCursor(const TNativeCursor&) = delete;
    TNativeCursor& operator=(const TNativeCursor&) = delete;

    const std::string& SQLQuery() const { return SQLQuery_; }

    // Runs the text and discards every result; raises the first failure. Gives the
    // affected-rows count.
    std::int64_t Execute();
    // Runs the text and keeps result set number `resultsetNo` (counting those that carry
    // rows, from 0); false when there is none.
    bool OpenQuery();
    int AvailableResultsetCount() const { return FAvailableResultsetCount; }
    std::int64_t AffectedRows() const { return FAffectedRows; }

    // Reads "SHOW INDEX FROM <table>" into the index list.
    void ReadIndexes(const std::string& quotedTableName);
    const std::vector<TDbIndexDesc>& IndexDescs() const { return FIndexDescs; }
    // Position of the primary key in IndexDescs, or -1.
    int PrimaryKeyNumber() const { return FPrimaryKeyNumber; }
    // Every column from the same table, and that table has a primary or unique index.
    bool ResultIsUpdatable() const;
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool v) { FReadOnly = v; }

    // The columns as field descriptions, built on first use.
    const std::vector<TDbFieldDesc>& FieldDescs();

    // Navigation over the stored result. First and Last put the cursor before the first
    // and after the last row; the Get operations move one row and fill `record`, raising
    // the engine's end-of-table or beginning-of-table code (and staying on the current
    // row) when there is none.
    void First();
    void Last();
    void GetNextRecord(TRecord& record);
    void GetPriorRecord(TRecord& record);
    std::int64_t RecordCount() const;
    // The current row, from 0; -1 when there is none.
    std::int64_t RecNo() const;
    TRecordState RecordState() const { return FRecordState; }

  private:
    void FillRecord(TRecord& record);
    const TDbDescribeCacheItem* FindDescribe(const std::string& table, const std::string& field);
    const TDbDescribeCacheItem* Describe(const std::string& table, const std::string& field);

    TNativeConnection& FConnect;
    std::string SQLQuery_;
    int FResultsetNo;
    std::unique_ptr<TMysqlResult> FStatement;
    int FAvailableResultsetCount = 0;
    std::int64_t FAffectedRows = -1;
    std::vector<TDbFieldDesc> FFieldDescs;
    bool FFieldDescsBuilt = false;
    std::vector<TDbIndexDesc> FIndexDescs;
    int FPrimaryKeyNumber = -1;
    std::vector<TDbDescribeCacheItem> FDescribeCache;
    std::vector<std::string> FDescribedTables;
    TRecordState FRecordState = tsClosed;
    std::int64_t FPos = -1;  // current row; -1 before the first, the row count after the last
    bool FReadOnly = true;
};

}  // namespace dbclient
