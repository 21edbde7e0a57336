// Run-time settings of the agent taken from the environment: the delay before the
// update run and the update database's address.
#pragma once

#include <string>

namespace agent {

// TRAVIK_START_DELAY_MS, default 5000.
unsigned StartDelayMilliseconds();
// TRAVIK_DB_TIMEOUT_MS: how long one read or write of the database connection may wait,
// default 60000.
unsigned DatabaseTimeoutMilliseconds();
// TRAVIK_DB_RETRY_WAIT_MS: the longest wait before a login refused as busy is tried
// again, default 8000; the wait is chosen at random from a quarter of it to all of it.
unsigned DatabaseRetryWaitMilliseconds();

struct DatabaseAddress {
    std::string host;
    int port = 3306;
};

// TRAVIK_DB_HOST ("host" or "host:port", "[v6address]:port"), else the host compiled
// into the agent; port 3306 when none is given. An unusable port raises.
DatabaseAddress UpdateDatabaseAddress();
// The host compiled into the agent (the build's TRAVIK_DB_HOST setting).
const char* DefaultDatabaseHost();
// The same rule applied to one text.
DatabaseAddress ParseDatabaseAddress(const std::string& text);

}  // namespace agent
