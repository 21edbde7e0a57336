// Exceptions of the database components: the engine's conversion of native failures and
// the two message forms of EDbError.
#include <gtest/gtest.h>

#include "dbclient/DbEngine.h"
#include "dbclient/DbErrors.h"

using namespace dbclient;

namespace {

TDbEngine MakeEngine() {
    return TDbEngine(false, "", "");
}

}  // namespace

TEST(DbErrors, SessionErrorGivesTheServerNumberAndText) {
    TDbEngine engine = MakeEngine();
    const auto code = engine.Call([] {
        throw EDbNativeException::CreateMsg(nullptr, 1064, "You have an error in your SQL syntax");
    });
    EXPECT_EQ(code, 1001);
    EXPECT_EQ(engine.NativeStatus(), 1064);
    const EDbError e(engine, code);
    EXPECT_EQ(e.Message(), "MySQL Error Code: (1064)\r\nYou have an error in your SQL syntax");
    EXPECT_EQ(e.ErrorCode(), 1001);
    EXPECT_EQ(e.MySQLErrorCode(), 1064);
}

TEST(DbErrors, EngineCodeWithoutTextGivesTheSecondForm) {
    TDbEngine engine = MakeEngine();
    const auto code =
        engine.Call([] { throw EDbNativeException::CreateEngine(DBIERR_INVALIDRECSTRUCT); });
    EXPECT_EQ(code, 10003);
    const EDbError e(engine, code);
    EXPECT_EQ(e.Message(), "DBI Error Code: (10003)\r\n \r\nInvalid record structure.");
    EXPECT_EQ(e.ErrorCode(), 10003);
    EXPECT_EQ(e.MySQLErrorCode(), 0);
}

TEST(DbErrors, SslLoadFailureCarriesItsTextWithTheUnknownErrorLine) {
    // The session has no error of its own when the library is missing.
    TDbEngine engine = MakeEngine();
    const auto code = engine.Call(
        [] { throw EDbNativeException::CreateMsg(nullptr, 0, "Error load SSL Library"); });
    const EDbError e(engine, code);
    EXPECT_EQ(e.Message(), "DBI Error Code: (1001)\r\nError load SSL Library \r\nUnknown error");
}

TEST(DbErrors, OtherExceptionsPassThroughTheEngine) {
    TDbEngine engine = MakeEngine();
    EXPECT_THROW(engine.Call([] { throw platform::Exception("'x' is not a valid integer value"); }),
                 platform::Exception);
    EXPECT_EQ(engine.Call([] {}), 0);
}

TEST(DbErrors, EngineCodeTexts) {
    EXPECT_EQ(EngineErrorText(8705), "At beginning of table.");
    EXPECT_EQ(EngineErrorText(8706), "At end of table.");
    EXPECT_EQ(EngineErrorText(10498),
              "Insufficient table rights for operation. Password required.");
    EXPECT_EQ(EngineErrorText(13062), "Update aborted.");
    EXPECT_EQ(EngineErrorText(1001), "Unknown error");
    EXPECT_EQ(EngineErrorText(4242), "Unknown error");
}

TEST(DbErrors, OtherConstructorsAndClasses) {
    const EDbError server(1146, "Table 'x.y' doesn't exist");
    EXPECT_EQ(server.Message(), "MySQL Error(1146): Table 'x.y' doesn't exist");
    EXPECT_EQ(server.ErrorCode(), 0);
    EXPECT_EQ(server.MySQLErrorCode(), 1146);
    EXPECT_EQ(EDbError("plain").Message(), "plain");

    const ENoResultSet none(2);
    EXPECT_EQ(none.Message(), "Error creating cursor handle (MultiResultsetNo=2)");
    EXPECT_EQ(none.RequestedMultiResultsetNo(), 2);

    // Everything the application sees is shown; only the internal one is silent.
    EXPECT_EQ(
        dynamic_cast<const platform::EAbort*>(static_cast<const platform::Exception*>(&server)),
        nullptr);
    const EDbNativeException internal = EDbNativeException::CreateEngine(DBIERR_EOF);
    EXPECT_NE(dynamic_cast<const platform::EAbort*>(&internal), nullptr);
    EXPECT_TRUE(internal.IsEngineCode());
}

TEST(DbErrors, ComponentNamePrefixesMisuseMessages) {
    try {
        DatabaseError(msg::SDataSetOpen, "qVersao");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "qVersao: Cannot perform this operation on an open dataset");
    }
    try {
        DatabaseError(msg::SDataSetOpen);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot perform this operation on an open dataset");
    }
}

TEST(DbErrors, LaterEngineCodeAfterASessionErrorKeepsTheSessionNumber) {
    // The number is written only by session errors, as the message rule reads it.
    TDbEngine engine = MakeEngine();
    engine.Call([] {
        throw EDbNativeException::CreateMsg(nullptr, 2013,
                                            "Lost connection to MySQL server during query");
    });
    const auto code = engine.Call([] { throw EDbNativeException::CreateEngine(DBIERR_NOCURRREC); });
    // The engine code carries no text, so the second form is used.
    EXPECT_EQ(EDbError(engine, code).Message(),
              "DBI Error Code: (8709)\r\n \r\nNo current record.");
}
