#include "dbclient/DbDataSet.h"

#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"

namespace dbclient {

TDbDataSet::TDbDataSet(std::string name) : FName(std::move(name)) {}

TDbDataSet::~TDbDataSet() {
    // The derived part is gone already: close here without its hooks.
    try {
        DoClose();
    } catch (...) {
        // Freeing must not fail.
    }
    if (FDatabase != nullptr) FDatabase->DetachDataSet(*this);
}

void TDbDataSet::SetDatabase(TDbConnection* database) {
    if (database == FDatabase) return;
    Close();
    if (FDatabase != nullptr) {
        LeavingDatabase();
        for (TDBFlag f : {TDBFlag::dbfOpened, TDBFlag::dbfPrepared, TDBFlag::dbfExecute})
            SetDBFlag(f, false);
        FDatabase->DetachDataSet(*this);
    }
    FDatabase = database;
    if (FDatabase != nullptr) FDatabase->AttachDataSet(*this);
}

void TDbDataSet::DatabaseGone() {
    LeavingDatabase();
    FCursor.reset();
    FFields.Clear();
    FRecord.clear();
    FActive = false;
    FDBFlags = {};
    FDatabase = nullptr;
}

void TDbDataSet::CheckDatabase() const {
    if (FDatabase == nullptr) throw EDatabaseError(FormatMsg(msg::SDatabaseNotSet, FName));
}

void TDbDataSet::CheckActive() const {
    if (!FActive) DatabaseError(msg::SDataSetClosed, FName);
}

TDbEngine& TDbDataSet::Engine() const {
    CheckDatabase();
    if (FDatabase->Engine() == nullptr) DatabaseError(msg::SEngineNotInitialized, FName);
    return *FDatabase->Engine();
}

void TDbDataSet::Run(const std::function<void(TNativeConnection&)>& operation) const {
    TDbEngine& engine = Engine();
    const std::uint16_t code = engine.Call([&] {
        TNativeConnection* handle = FDatabase->Handle();
        if (handle == nullptr) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
        operation(*handle);
    });
    Check(engine, code);
}

void TDbDataSet::SetDBFlag(TDBFlag flag, bool value) {
    if (value) {
        if (FDBFlags.Contains(flag)) return;
        CheckDatabase();
        if (FDBFlags.Empty()) FDatabase->Acquire();
        FDBFlags.Include(flag);
    } else {
        if (!FDBFlags.Contains(flag)) return;
        FDBFlags.Exclude(flag);
        if (FDBFlags.Empty() && FDatabase != nullptr) FDatabase->Release();
    }
}

TDbDataSet::THold::THold(TDbDataSet& dataSet, TDBFlag flag) : FDataSet(dataSet), FFlag(flag) {
    FDataSet.SetDBFlag(flag, true);
}

TDbDataSet::THold::~THold() {
    if (FKept) return;
    try {
        FDataSet.SetDBFlag(FFlag, false);
    } catch (...) {
        // Releasing may close the connection; a failure there must not replace the
        // exception that is already on its way.
    }
}

void TDbDataSet::SetActive(bool value) {
    if (value == FActive) return;
    if (value) {
        if (BeforeOpen) BeforeOpen(*this);
        DoOpen();
        if (AfterOpen) AfterOpen(*this);
    } else {
        if (BeforeClose) BeforeClose(*this);
        DoClose();
        if (AfterClose) AfterClose(*this);
    }
}

void TDbDataSet::DoOpen() {
    CheckDatabase();
    THold hold(*this, TDBFlag::dbfOpened);
    std::unique_ptr<TNativeCursor> cursor = OpenCursor();
    FCursor = std::move(cursor);
    try {
        CreateFields();
        FActive = true;
        First();
    } catch (...) {
        FActive = false;
        FFields.Clear();
        FRecord.clear();
        FCursor.reset();
        throw;
    }
    hold.Keep();
}

void TDbDataSet::DoClose() {
    if (!FActive && !FCursor) return;
    FActive = false;
    FFields.Clear();
    FRecord.clear();
    FEof = FBof = true;
    if (FCursor) {
        std::unique_ptr<TNativeCursor> cursor = std::move(FCursor);
        CursorClosed(*cursor);
    }
    SetDBFlag(TDBFlag::dbfOpened, false);
}

void TDbDataSet::CreateFields() {
    FFields.Clear();
    const std::vector<TDbFieldDesc>* descs = nullptr;
    Run([&](TNativeConnection&) { descs = &FCursor->FieldDescs(); });
    for (std::size_t i = 0; i < descs->size(); ++i) {
        const TDbFieldDesc& d = (*descs)[i];
        auto field = std::make_unique<TField>(d.Name, d.FieldType, d.Size, static_cast<int>(i));
        field->SetRequired(d.Required);
        field->SetOrigin(d.Origin());
        field->Bind(&FRecord);
        FFields.Add(std::move(field));
    }
}

bool TDbDataSet::Fetch(bool forward) {
    TRecord record;
    TDbEngine& engine = Engine();
    const std::uint16_t code = engine.Call([&] {
        if (forward)
            FCursor->GetNextRecord(record);
        else
            FCursor->GetPriorRecord(record);
    });
    if (code == DBIERR_EOF || code == DBIERR_BOF) return false;
    Check(engine, code);
    FRecord = std::move(record);
    return true;
}

void TDbDataSet::First() {
    CheckActive();
    FCursor->First();
    const bool found = Fetch(true);
    FBof = true;
    FEof = !found;
    if (!found) FRecord.clear();
}

void TDbDataSet::Last() {
    CheckActive();
    FCursor->Last();
    const bool found = Fetch(false);
    FEof = true;
    FBof = !found;
    if (!found) FRecord.clear();
}

void TDbDataSet::Next() {
    CheckActive();
    if (FEof) return;
    if (Fetch(true)) {
        FBof = false;
    } else {
        FEof = true;
    }
}

void TDbDataSet::Prior() {
    CheckActive();
    if (FBof) return;
    if (Fetch(false)) {
        FEof = false;
    } else {
        FBof = true;
    }
}

std::int64_t TDbDataSet::RecNo() const {
    if (!FActive || !FCursor) return 0;
    return FCursor->RecNo() + 1;
}

std::int64_t TDbDataSet::RecordCount() const {
    CheckActive();
    std::int64_t count = -1;
    if (Engine().Call([&] { count = FCursor->RecordCount(); }) != DBIERR_NONE) return -1;
    return count;
}

bool TDbDataSet::CanModify() const {
    return FActive && FCursor && !FCursor->ReadOnly();
}

TField& TDbDataSet::FieldByName(std::string_view name) const {
    TField* field = FindField(name);
    if (field == nullptr) DatabaseError(FormatMsg(msg::SFieldNotFound, name), FName);
    return *field;
}

}  // namespace dbclient
