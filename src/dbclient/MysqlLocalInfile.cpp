// A local file that the server asks for in the answer to a statement (LOAD DATA LOCAL
// INFILE): sent in packets when the session allows it, else refused.
#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "platform/exception.h"
#include "platform/fs.h"

namespace dbclient {

namespace {

// Largest packet of a local file sent to the server.
constexpr std::size_t kLocalFileChunk = 61440;
// Numbers that accompany the texts of a local file that cannot be opened or read.
constexpr unsigned kFileNotFoundErrno = 29;
constexpr unsigned kFileReadErrno = 2;

}  // namespace

bool TMysqlClient::refuse_local_file() {
    // The empty packet ends the transfer; nothing of the file is read or sent.
    if (fnet.my_net_write({}) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    fnet.SetError(CR_LOAD_DATA_LOCAL_INFILE_REJECTED, "LOAD DATA LOCAL INFILE request refused");
    return false;
}

bool TMysqlClient::send_local_file(const std::string& fileName) {
    bool ok = true;
    unsigned errnum = 0;
    std::string error;
    try {
        platform::fs::FileStream file(fileName, platform::fs::OpenMode::Read,
                                      platform::fs::ShareMode::DenyWrite);
        std::string chunk(kLocalFileChunk, '\0');
        for (;;) {
            std::size_t got = 0;
            try {
                got = file.Read(chunk.data(), chunk.size());
            } catch (const platform::EFileSystemError& e) {
                errnum = kFileReadErrno;
                error = FormatErrorText(kFileReadErrorFormat,
                                        {fileName, static_cast<long long>(e.OsError())});
                ok = false;
                break;
            }
            if (got == 0) break;
            if (fnet.my_net_write(std::string_view(chunk.data(), got)) != 0) {
                fnet.SetClientError(CR_SERVER_LOST);
                return false;
            }
        }
    } catch (const platform::EFileSystemError& e) {
        errnum = kFileNotFoundErrno;
        error =
            FormatErrorText(kFileNotFoundFormat, {fileName, static_cast<long long>(e.OsError())});
        ok = false;
    }
    // The empty packet ends the transfer, also after a failure.
    if (fnet.my_net_write({}) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    if (!ok) fnet.SetError(errnum, error);
    return ok;
}

}  // namespace dbclient
