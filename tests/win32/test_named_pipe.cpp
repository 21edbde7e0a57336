// The database transport over a Windows named pipe, against a scripted server on a pipe
// of this process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/MysqlMessages.h"

using namespace dbclient;
namespace mysql = testsupport::mysql;

namespace {

std::string PipeName() {
    return "travik-test-" + std::to_string(GetCurrentProcessId());
}

// Greets, takes the login packet, answers OK and then each statement with OK.
void ServeOnePipeClient(HANDLE pipe, std::string& login) {
    ConnectNamedPipe(pipe, nullptr);
    auto send = [&](const std::string& bytes) {
        DWORD n = 0;
        WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    };
    auto receive = [&]() {
        char header[4];
        DWORD n = 0;
        if (!ReadFile(pipe, header, 4, &n, nullptr) || n != 4) return std::string();
        const std::size_t length = static_cast<unsigned char>(header[0]) |
                                   static_cast<unsigned char>(header[1]) << 8 |
                                   static_cast<unsigned char>(header[2]) << 16;
        std::string payload(length, '\0');
        if (length > 0) ReadFile(pipe, payload.data(), static_cast<DWORD>(length), &n, nullptr);
        return payload;
    };
    send(mysql::Packet(0, mysql::Greeting()));
    login = receive();
    send(mysql::Packet(2, mysql::Ok()));
    while (!receive().empty()) send(mysql::Packet(1, mysql::Ok()));
    DisconnectNamedPipe(pipe);
}

}  // namespace

TEST(NamedPipe, LogsInAndRunsAStatementThroughThePipe) {
    const std::wstring path = L"\\\\.\\pipe\\" + std::wstring(PipeName().begin(), PipeName().end());
    HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                   65536, 65536, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::string login;
    std::thread server(ServeOnePipeClient, pipe, std::ref(login));

    TMysqlClient client;
    client.SetUseNamedPipe(true);
    client.SetConnectTimeout(5);
    const bool ok = client.connect(".", "agent", "", "", 0, PipeName(), false, 0);
    EXPECT_TRUE(ok) << client.LastErrorNo() << " " << client.LastError();
    bool executed = false;
    if (ok) client.query("DO 1", true, executed);
    EXPECT_TRUE(executed) << client.LastErrorNo() << " " << client.LastError();
    client.close();
    server.join();
    CloseHandle(pipe);
    EXPECT_NE(login.find("agent"), std::string::npos);
}

TEST(NamedPipe, AMissingPipeFailsWith2017NamingHostAndPipe) {
    TMysqlClient client;
    client.SetUseNamedPipe(true);
    client.SetConnectTimeout(1);
    EXPECT_FALSE(client.connect(".", "agent", "", "", 0, "", false, 0));
    EXPECT_EQ(client.LastErrorNo(), CR_NAMEDPIPEOPEN_ERROR);
    // The default pipe name, and the system's "file not found".
    EXPECT_EQ(client.LastError(), "Can't open named pipe to host: .  pipe: MySQL (2)");
}
