// Helpers shared by the client-session tests: log in to a test server and run
// statements whose answers the tests check.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"

namespace clienttest {

// The capability flags the connection component passes (compression, multi-results).
inline constexpr std::uint32_t kComponentFlags = 0x30020;

struct Login {
    std::string user = testsupport::MariaDbServer::kAdminUser;
    std::string password = testsupport::MariaDbServer::kAdminPassword;
    std::string db;
    bool compress = true;
    std::uint32_t maxPacket = 16777216;
    std::optional<std::uint32_t> flags;  // default: what the component passes
};

inline std::unique_ptr<dbclient::TMysqlClient> Connect(int port, const Login& login = {}) {
    auto client = std::make_unique<dbclient::TMysqlClient>();
    client->SetCompress(login.compress);
    client->SetMaxAllowedPackedSize(login.maxPacket);
    client->SetMultiResults(true);
    const std::uint32_t flags = login.flags.value_or(login.compress ? kComponentFlags : 0x30000u);
    const bool ok = client->connect("127.0.0.1", login.user, login.password, login.db,
                                    static_cast<std::uint32_t>(port), "", true, flags);
    EXPECT_TRUE(ok) << client->LastErrorNo() << " " << client->LastError();
    if (!ok) return nullptr;
    return client;
}

// The first value of the first row of a statement's stored result.
inline std::optional<std::string> Scalar(dbclient::TMysqlClient& client, const std::string& sql) {
    bool ok = false;
    auto result = client.query(sql, true, ok);
    EXPECT_TRUE(ok) << sql.substr(0, 200) << ": " << client.LastErrorNo() << " "
                    << client.LastError();
    if (!result || !result->FieldValue(0)) return std::nullopt;
    return std::string(result->FieldValue(0));
}

inline void Exec(dbclient::TMysqlClient& client, const std::string& sql) {
    bool ok = false;
    auto result = client.query(sql, true, ok);
    ASSERT_TRUE(ok) << sql.substr(0, 200) << ": " << client.LastErrorNo() << " "
                    << client.LastError();
}

}  // namespace clienttest
