// travik-sql against a real MariaDB: a text on standard input with several statements,
// and a SELECT that begins with a comment.
#include <gtest/gtest.h>

#include "ToolRun.h"

namespace {

class Sql : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { db_ = std::make_unique<testsupport::MariaDbServer>(); }
    static void TearDownTestSuite() { db_.reset(); }
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Sql, EveryResultOfATextOnStandardInput) {
    const testsupport::TempDir dir("travik-sql");
    testsupport::WriteFile(dir / "texto.sql",
                           "CREATE DATABASE ferramenta;\nUSE ferramenta;\nCREATE TABLE t (a "
                           "INT);\nINSERT INTO t VALUES (1), (2);\n"
                           "SELECT a, 'ç' AS b FROM t ORDER BY a;\nSELECT NULL AS vazio;\n");
    auto options = tooltest::ToolOptions(TRAVIK_SQL_BINARY, db_->port(), {"--database", "mysql"});
    std::string command;
    for (const auto& arg : options.argv) command += "'" + arg + "' ";
    options.argv = {"sh", "-c", command + "< '" + (dir / "texto.sql") + "'"};
    const auto r = testsupport::Run(options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "1 row(s) affected\n0 row(s) affected\n0 row(s) affected\n2 row(s) "
              "affected\na\tb\n1\tç\n2\tç\nvazio\n\n");
}

TEST_F(Sql, ASelectAfterACommentPrintsItsRows) {
    const auto r = testsupport::Run(tooltest::ToolOptions(
        TRAVIK_SQL_BINARY, db_->port(),
        {"--database", "mysql", "-- quantos usuários\n/* e qual */ SELECT 6 AS seis"}));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "seis\n6\n");
}

}  // namespace
