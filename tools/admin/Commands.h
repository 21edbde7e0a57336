// The commands of travik-publish. Each checks its own options (UsageError), then works
// on the session's database; a refused or failed operation raises platform::Exception
// with what to do. Each gives the tool's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/AdminSession.h"
#include "admin/CommandLine.h"
#include "platform/console.h"

namespace admin {

// The options every command takes: the administrator's connection.
inline const std::vector<std::string> kConnectionOptions = {"db", "user"};

int Publish(const CommandLine& line, AdminSession& session);
int List(const CommandLine& line, AdminSession& session);
int Verify(const CommandLine& line, AdminSession& session);
int Withdraw(const CommandLine& line, AdminSession& session);
int Fleet(const CommandLine& line, AdminSession& session);

// Report lines on standard output; warnings ("Aviso: ...") on standard error.
inline void Print(const std::string& text) {
    platform::console::Write(platform::console::Stream::Output, text);
}
inline void Warn(const std::string& text) {
    platform::console::Write(platform::console::Stream::Error, "Aviso: " + text + "\n");
}

// Options naming a system or a client: whole numbers that fit the table's INT column.
inline constexpr std::int64_t kMaxCode = 2147483647;

}  // namespace admin
