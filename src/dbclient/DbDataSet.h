// The dataset of the database components: a result held by a native cursor, read as
// records with fields, navigated First/Next/Prior/Last, attached to a connection that
// it holds open while it needs it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dbclient/DbFields.h"
#include "dbclient/DbSet.h"
#include "dbclient/NativeCursor.h"

namespace dbclient {

class TDbConnection;
class TDbEngine;

class TDbDataSet {
  public:
    using TDataSetNotifyEvent = std::function<void(TDbDataSet& DataSet)>;

    explicit TDbDataSet(std::string name = {});
    virtual ~TDbDataSet();
    TDbDataSet(const TDbDataSet&) = delete;
    TDbDataSet& operator=(const TDbDataSet&) = delete;

    const std::string& Name() const { return FName; }
    void SetName(std::string v) { FName = std::move(v); }

    // The connection; setting it closes the dataset and moves it to the new connection.
    TDbConnection* Database() const { return FDatabase; }
    void SetDatabase(TDbConnection* database);

    bool Active() const { return FActive; }
    void SetActive(bool value);
    // Runs the statement and reads its result; nothing when already open.
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    TFields& Fields() { return FFields; }
    int FieldCount() const { return FFields.Count(); }
    TField* FindField(std::string_view name) const { return FFields.FindField(name); }
    // "Field '%s' not found" when there is none.
    TField& FieldByName(std::string_view name) const;

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }
    bool IsEmpty() const { return FActive && FEof && FBof; }
    // Number of the current record, from 1; 0 when there is none.
    std::int64_t RecNo() const;
    // Rows of the result; -1 when the engine cannot tell.
    std::int64_t RecordCount() const;
    // The result may be updated (a live result); read-only otherwise.
    bool CanModify() const;

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;

  protected:
    // Why the dataset holds its connection open.
    enum class TDBFlag { dbfOpened, dbfPrepared, dbfExecute };
    using TDBFlags = TSet<TDBFlag>;

    // Runs the statement and gives the cursor over its result (the connection is held).
    virtual std::unique_ptr<TNativeCursor> OpenCursor() = 0;
    // Called after the cursor is freed by Close.
    virtual void CursorClosed(TNativeCursor& cursor) { (void)cursor; }
    // Called when the dataset leaves its connection (its holds are dropped after it).
    virtual void LeavingDatabase() {}

    // Holds or releases the connection for one reason; the first reason connects.
    void SetDBFlag(TDBFlag flag, bool value);
    bool HasDBFlag(TDBFlag flag) const { return FDBFlags.Contains(flag); }
    // Releases a hold when it goes out of scope, unless kept.
    class THold {
      public:
        THold(TDbDataSet& dataSet, TDBFlag flag);
        ~THold();
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;
        void Keep() { FKept = true; }

      private:
        TDbDataSet& FDataSet;
        TDBFlag FFlag;
        bool FKept = false;
    };

    // "(%s) property Database is not set!".
    void CheckDatabase() const;
    void CheckActive() const;
    TDbEngine& Engine() const;
    // Runs a native operation on the open connection, raising EDbError for a failure.
    void Run(const std::function<void(TNativeConnection&)>& operation) const;
    TNativeCursor* Cursor() const { return FCursor.get(); }

  private:
    friend class TDbConnection;
    // The connection is being freed.
    void DatabaseGone();
    void DoOpen();
    void DoClose();
    void CreateFields();
    // Fetches one record forwards or backwards; false at the end or the beginning.
    bool Fetch(bool forward);

    std::string FName;
    TDbConnection* FDatabase = nullptr;
    TDBFlags FDBFlags;
    bool FActive = false;
    std::unique_ptr<TNativeCursor> FCursor;
    TFields FFields;
    TRecord FRecord;
    bool FEof = true;
    bool FBof = true;
};

}  // namespace dbclient
