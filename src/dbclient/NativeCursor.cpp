#include "dbclient/NativeCursor.h"

#include "dbclient/DbStrings.h"

namespace dbclient {

namespace {

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

}  // namespace

TNativeCursor::TNativeCursor(TNativeConnection& connect, std::string sql, int resultsetNo)
    : FConnect(connect), SQLQuery_(std::move(sql)), FResultsetNo(resultsetNo) {}

std::int64_t TNativeCursor::Execute() {
    FAffectedRows = FConnect.ExecuteDirect(SQLQuery_);
    return FAffectedRows;
}

bool TNativeCursor::OpenQuery() {
    FStatement.reset();
    FFieldDescs.clear();
    FFieldDescsBuilt = false;
    TMysqlClient& session = FConnect.Client();
    int number = 0;
    const auto keep = [&](std::unique_ptr<TMysqlResult> result) {
        if (!result) return;
        if (number == FResultsetNo) {
            FStatement = std::move(result);
            FAffectedRows = session.AffectedRows();
        }
        ++number;
    };
    bool ok = false;
    keep(session.query(SQLQuery_, true, ok));
    unsigned errorNo = ok ? 0 : session.LastErrorNo();
    std::string errorText = ok ? std::string() : session.LastError();
    while (ok && session.moreResults()) {
        bool nextOk = false;
        keep(session.nextResult(true, nextOk));
        if (!nextOk) {
            ok = false;
            errorNo = session.LastErrorNo();
            errorText = session.LastError();
        }
    }
    FAvailableResultsetCount = number;
    if (!ok) {
        FStatement.reset();
        throw EDbNativeException::CreateMsg(&FConnect, static_cast<int>(errorNo), errorText);
    }
    FRecordState = FStatement ? tsFirst : tsClosed;
    FPos = -1;
    return FStatement != nullptr;
}

void TNativeCursor::ReadIndexes(const std::string& quotedTableName) {
    FIndexDescs.clear();
    FPrimaryKeyNumber = -1;
    std::unique_ptr<TMysqlResult> rows = FConnect.QueryStored("SHOW INDEX FROM " + quotedTableName);
    for (std::int64_t r = 0; r < rows->RowsCount(); ++r) {
        rows->SetRecNo(r);
        const char* nonUnique = rows->FieldValue(1);
        const char* keyName = rows->FieldValue(2);
        const char* columnName = rows->FieldValue(4);
        if (keyName == nullptr || columnName == nullptr) continue;  // a row that cannot be read
        TDbIndexDesc* index = nullptr;
        for (auto& existing : FIndexDescs)
            if (existing.Name == keyName) index = &existing;
        if (index == nullptr) {
            FIndexDescs.push_back({keyName, {}, {}, Text(nonUnique) == "0"});
            index = &FIndexDescs.back();
        }
        index->Fields.emplace_back(columnName);
        index->Descending.push_back(Text(rows->FieldValue(5)) != "A");
    }
    for (std::size_t i = 0; i < FIndexDescs.size(); ++i) {
        if (FIndexDescs[i].Unique && StartsText("PRIMARY", FIndexDescs[i].Name)) {
            FPrimaryKeyNumber = static_cast<int>(i);
            break;
        }
    }
}

bool TNativeCursor::ResultIsUpdatable() const {
    if (!FStatement || FStatement->FieldsCount() == 0) return false;
    const std::string& table = FStatement->FieldDef(0)->Table;
    for (int i = 0; i < FStatement->FieldsCount(); ++i) {
        const std::string& t = FStatement->FieldDef(i)->Table;
        if (t.empty() || !SameText(t, table)) return false;
    }
    for (const auto& index : FIndexDescs)
        if (index.Unique) return true;
    return false;
}

const TDbDescribeCacheItem* TNativeCursor::FindDescribe(const std::string& table,
                                                        const std::string& field) {
    for (const auto& item : FDescribeCache)
        if (item.TableName == table && SameText(item.FieldName, field)) return &item;
    return nullptr;
}

const TDbDescribeCacheItem* TNativeCursor::Describe(const std::string& table,
                                                    const std::string& field) {
    if (const auto* item = FindDescribe(table, field)) return item;
    for (const auto& t : FDescribedTables)
        if (t == table) return nullptr;
    FDescribedTables.push_back(table);
    try {
        std::unique_ptr<TMysqlResult> rows = FConnect.QueryStored("DESCRIBE " + table);
        for (std::int64_t r = 0; r < rows->RowsCount(); ++r) {
            rows->SetRecNo(r);
            TDbDescribeCacheItem item;
            item.TableName = table;
            item.FieldName = Text(rows->FieldValue(0));
            item.FieldType = Text(rows->FieldValue(1));
            item.IsNull = SameText(Text(rows->FieldValue(2)), "YES");
            item.Key = Text(rows->FieldValue(3));
            item.DefaultIsNull = rows->FieldValue(4) == nullptr;
            item.Default = Text(rows->FieldValue(4));
            item.Extra = Text(rows->FieldValue(5));
            FDescribeCache.push_back(std::move(item));
        }
    } catch (const EDbNativeException&) {
        // Without an answer the table's columns have no known defaults or value lists.
    }
    return FindDescribe(table, field);
}

const std::vector<TDbFieldDesc>& TNativeCursor::FieldDescs() {
    if (FFieldDescsBuilt || !FStatement) return FFieldDescs;
    const bool utf8 = FConnect.DBCharSet() == ccUTF8;
    std::vector<std::string> names;
    for (int i = 0; i < FStatement->FieldsCount(); ++i) {
        const TMysql_FieldDef& column = *FStatement->FieldDef(i);
        const bool describable = !column.org_table.empty();
        std::vector<std::string> enumValues;
        if ((column.FieldType == FIELD_TYPE_ENUM || column.FieldType == FIELD_TYPE_SET) &&
            describable) {
            if (const auto* item = Describe(column.org_table, column.org_name))
                enumValues = ParseEnumValues(item->FieldType);
        }
        TDbFieldDesc desc = MapColumn(column, enumValues, utf8);
        if ((column.Flags & (NOT_NULL_FLAG | PRI_KEY_FLAG | UNIQUE_KEY_FLAG)) &&
            desc.FieldType != ftAutoInc) {
            bool defaultKnown = false;
            if ((column.Flags & NOT_NULL_FLAG) && !(column.Flags & AUTO_INCREMENT_FLAG) &&
                describable) {
                const auto* item = Describe(column.org_table, column.org_name);
                defaultKnown = item != nullptr && !item->DefaultIsNull;
            }
            desc.Required = !defaultKnown;
        }
        // A name already taken gets "_1", "_2", ...
        std::string name = desc.Name;
        const auto taken = [&](const std::string& n) {
            for (const auto& used : names)
                if (SameText(used, n)) return true;
            return false;
        };
        for (int k = 1; taken(name); ++k) name = desc.Name + "_" + std::to_string(k);
        desc.Name = name;
        names.push_back(name);
        FFieldDescs.push_back(std::move(desc));
    }
    FFieldDescsBuilt = true;
    return FFieldDescs;
}

void TNativeCursor::FillRecord(TRecord& record) {
    const auto& descs = FieldDescs();
    const TMysql_Row* row = FStatement->CurrentRow();
    if (row == nullptr) throw EDbNativeException::CreateEngine(DBIERR_NOCURRREC);
    const bool zeroDateAsNull = FConnect.DatasetOptions().Contains(dsoZeroDateAsNull);
    record.assign(descs.size(), TFieldValue());
    for (std::size_t i = 0; i < descs.size(); ++i) {
        const auto value = row->view(i);
        record[i] = value ? ConvertValue(descs[i], value->data(), value->size(), zeroDateAsNull)
                          : TFieldValue();
    }
}

void TNativeCursor::First() {
    FPos = -1;
    FRecordState = tsFirst;
}

void TNativeCursor::Last() {
    FPos = RecordCount();
    FRecordState = tsLast;
}

void TNativeCursor::GetNextRecord(TRecord& record) {
    if (!FStatement) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
    if (FPos + 1 >= FStatement->RowsCount()) {
        // The current row stays where it is.
        FRecordState = tsLast;
        throw EDbNativeException::CreateEngine(DBIERR_EOF);
    }
    FStatement->SetRecNo(++FPos);
    FillRecord(record);
    FRecordState = tsPos;
}

void TNativeCursor::GetPriorRecord(TRecord& record) {
    if (!FStatement) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
    if (FPos - 1 < 0) {
        FRecordState = tsFirst;
        throw EDbNativeException::CreateEngine(DBIERR_BOF);
    }
    FStatement->SetRecNo(--FPos);
    FillRecord(record);
    FRecordState = tsPos;
}

std::int64_t TNativeCursor::RecordCount() const {
    if (!FStatement) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
    return FStatement->RowsCount();
}

std::int64_t TNativeCursor::RecNo() const {
    return FStatement && FPos >= 0 && FPos < FStatement->RowsCount() ? FPos : -1;
}

}  // namespace dbclient
