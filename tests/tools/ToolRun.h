// Running the administrators' tools against the test MariaDB as its administrator, the
// password given the one way they take it: TRAVIK_ADMIN_PASSWORD.
#pragma once

#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace tooltest {

// `setsid` takes the tool away from any terminal the tests run on, so no password is
// ever asked there.
inline testsupport::Process::Options ToolOptions(const std::string& binary, int dbPort,
                                                 const std::vector<std::string>& args,
                                                 bool withPassword = true) {
    testsupport::Process::Options o;
    o.argv = {"setsid",
              "-w",
              binary,
              "--db",
              "127.0.0.1:" + std::to_string(dbPort),
              "--user",
              testsupport::MariaDbServer::kAdminUser};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    if (withPassword)
        o.env = {{"TRAVIK_ADMIN_PASSWORD", testsupport::MariaDbServer::kAdminPassword}};
    else
        o.unsetEnv = {"TRAVIK_ADMIN_PASSWORD"};
    return o;
}

inline testsupport::ProcessResult Publish(int dbPort, const std::vector<std::string>& args,
                                          bool withPassword = true) {
    return testsupport::Run(ToolOptions(TRAVIK_PUBLISH_BINARY, dbPort, args, withPassword));
}

}  // namespace tooltest
