// The query component: runs SQL text over a connection, with ExecSQL for statements
// whose rows are not wanted and Open for a result read as records.
//
// The text sent is the SQL lines joined by CR LF, with comments removed (ProcessComments)
// and ":name" parameter markers replaced by their values (ParamCheck). A query that must
// send its text exactly as written switches both off: SetParamCheck(false) and
// SetProcessComments({}) - or SetRawText(true), which does the same.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbclient/DbDataSet.h"
#include "dbclient/DbParams.h"
#include "dbclient/DbSqlText.h"
#include "dbclient/DbStrings.h"

namespace dbclient {

enum class TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };
using enum TUpdateMode;

class TDbQuery : public TDbDataSet {
  public:
    explicit TDbQuery(std::string name = {});
    ~TDbQuery() override;

    // The statement lines; every change closes the query and re-reads the text.
    TStringList& SQL() { return FSQL; }
    const TStringList& SQL() const { return FSQL; }
    // The text as sent: comments removed, markers replaced by "?".
    const std::string& Text() const { return FText; }

    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool v);
    TQueryProcessComments ProcessComments() const { return FProcessComments; }
    void SetProcessComments(TQueryProcessComments v);
    // True when the text goes to the server exactly as written (no parameter scanning,
    // no comment removal).
    bool RawText() const { return !FParamCheck && FProcessComments.Empty(); }
    void SetRawText(bool v);

    TParams& Params() { return FParams; }
    const TParams& Params() const { return FParams; }
    int ParamCount() const { return FParams.Count(); }
    TParam& ParamByName(std::string_view name) const { return FParams.ParamByName(name); }

    // Asks for an updatable result on Open; no effect on ExecSQL.
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool v) { FRequestLive = v; }
    bool UniDirectional() const { return FUniDirectional; }
    void SetUniDirectional(bool v) { FUniDirectional = v; }
    TUpdateMode UpdateMode() const { return FUpdateMode; }
    void SetUpdateMode(TUpdateMode v) { FUpdateMode = v; }
    // Which result set of a text with several statements Open keeps (from 0).
    int MultiResultsetNo() const { return FMultiResultsetNo; }
    void SetMultiResultsetNo(int v) { FMultiResultsetNo = v; }
    bool Local() const { return false; }
    // Affected-row count of the last execution; -1 before any.
    std::int64_t RowsAffected() const { return FRowsAffected; }

    bool Prepared() const { return FPrepared; }
    void SetPrepared(bool v);
    void Prepare() { SetPrepared(true); }
    void UnPrepare() { SetPrepared(false); }

    // Runs the text and keeps no rows. Exactly one statement text reaches the server.
    void ExecSQL();

  protected:
    std::unique_ptr<TNativeCursor> OpenCursor() override;
    void CursorClosed(TNativeCursor& cursor) override;
    void LeavingDatabase() override { FPrepared = false; }

  private:
    void SQLChanged();
    // The text with the current parameter values in place of its markers; "No SQL
    // statement available" for a text of less than two characters.
    std::string StatementText() const;

    TStringList FSQL;
    bool FPrepared = false;
    TParams FParams;
    TParsedSql FParsed;
    std::string FText;
    std::int64_t FRowsAffected = -1;
    bool FUniDirectional = false;
    bool FRequestLive = false;
    bool FParamCheck = true;
    TQueryProcessComments FProcessComments{qpcMinusMinus, qpcSlashAsterisk};
    TUpdateMode FUpdateMode = upWhereAll;
    int FMultiResultsetNo = 0;
};

}  // namespace dbclient
