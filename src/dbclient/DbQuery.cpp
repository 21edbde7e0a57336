#include "dbclient/DbQuery.h"

#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"

namespace dbclient {

TDbQuery::TDbQuery(std::string name) : TDbDataSet(std::move(name)) {
    FSQL.OnChange = [this] { SQLChanged(); };
}

TDbQuery::~TDbQuery() {
    try {
        Close();
        UnPrepare();
    } catch (...) {
        // Freeing must not fail.
    }
}

void TDbQuery::SetParamCheck(bool v) {
    if (v == FParamCheck) return;
    FParamCheck = v;
    SQLChanged();
}

void TDbQuery::SetProcessComments(TQueryProcessComments v) {
    if (v == FProcessComments) return;
    FProcessComments = v;
    SQLChanged();
}

void TDbQuery::SetRawText(bool v) {
    if (v) {
        FParamCheck = false;
        FProcessComments = {};
    } else {
        FParamCheck = true;
        FProcessComments = {qpcMinusMinus, qpcSlashAsterisk};
    }
    SQLChanged();
}

void TDbQuery::SQLChanged() {
    // Each line followed by CR LF, the last one too: that is the statement sent.
    std::string text = StripSqlComments(FSQL.Text(), FProcessComments);
    Close();
    UnPrepare();
    if (FParamCheck) {
        FParsed = ParseSqlParams(text);
        FParams.Rebuild(FParsed.Names());
    } else {
        FParsed = TParsedSql{std::move(text), {}};
    }
    FText = FParsed.text;
}

std::string TDbQuery::StatementText() const {
    // Too short to be a statement: counted without the line break that ends the text.
    const std::size_t length = FText.ends_with("\r\n") ? FText.size() - 2 : FText.size();
    if (length < 2) DatabaseError(msg::SEmptySQLStatement, Name());
    return FParsed.markers.empty() ? FText : SubstituteParams(FParsed, FParams);
}

void TDbQuery::SetPrepared(bool v) {
    if (v == FPrepared) return;
    if (v) {
        CheckDatabase();
        THold hold(*this, TDBFlag::dbfPrepared);
        if (FSQL.Empty()) DatabaseError(msg::SEmptySQLStatement, Name());
        FRowsAffected = -1;
        StatementText();
        hold.Keep();
        FPrepared = true;
    } else {
        FPrepared = false;
        SetDBFlag(TDBFlag::dbfPrepared, false);
    }
}

void TDbQuery::ExecSQL() {
    if (Active()) DatabaseError(msg::SDataSetOpen, Name());
    CheckDatabase();
    THold hold(*this, TDBFlag::dbfExecute);
    if (FSQL.Empty()) DatabaseError(msg::SEmptySQLStatement, Name());
    FRowsAffected = -1;
    TNativeCursor* cursor = nullptr;
    std::unique_ptr<TNativeCursor> owned;
    const std::string text = StatementText();
    Run([&](TNativeConnection& c) {
        owned = std::make_unique<TNativeCursor>(c, text, FMultiResultsetNo);
        cursor = owned.get();
        // The executed statement holds no result: read-only whatever RequestLive says.
        cursor->SetReadOnly(true);
        cursor->Execute();
    });
    FRowsAffected = cursor->AffectedRows();
}

std::unique_ptr<TNativeCursor> TDbQuery::OpenCursor() {
    if (FSQL.Empty()) DatabaseError(msg::SEmptySQLStatement, Name());
    FRowsAffected = -1;
    const std::string text = StatementText();
    std::unique_ptr<TNativeCursor> cursor;
    bool hasResult = false;
    Run([&](TNativeConnection& c) {
        cursor = std::make_unique<TNativeCursor>(c, text, FMultiResultsetNo);
        hasResult = cursor->OpenQuery();
    });
    if (!hasResult) throw ENoResultSet(FMultiResultsetNo);
    if (const auto table = FindSelectTable(FText)) {
        Run([&](TNativeConnection& c) {
            cursor->ReadIndexes(QuoteTableName(*table, c.ServerVersion()));
        });
    }
    cursor->SetReadOnly(!(FRequestLive && cursor->ResultIsUpdatable()));
    return cursor;
}

void TDbQuery::CursorClosed(TNativeCursor& cursor) {
    FRowsAffected = cursor.AffectedRows();
}

}  // namespace dbclient
