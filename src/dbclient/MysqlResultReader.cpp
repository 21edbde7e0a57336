// The session's reading of an answer to a statement: the result header (OK packet,
// request for a local file, or column count), the column descriptions, and the rows of a
// stored or used result.
#include <algorithm>
#include <new>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"

namespace dbclient {

std::unique_ptr<TMysqlResult> TMysqlClient::read_result(bool StoreResult, bool& ExecutedOk) {
    if (read_result_header() != 0) return nullptr;
    fnet.SetError(0, {});
    std::unique_ptr<TMysqlResult> result;
    if (StoreResult) {
        result = store_result_set();
        fnet.net_pack();
    } else {
        result = use_result_set();
    }
    ExecutedOk = LastErrorNo() == 0;
    return result;
}

int TMysqlClient::read_result_header() {
    const long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) {
        // An error ends a chain of results.
        fserver_status &= ~static_cast<std::int32_t>(SERVER_MORE_RESULTS_EXISTS);
        return -1;
    }
    return parse_result_header(length);
}

void TMysqlClient::apply_ok_packet(ByteSpan packet) {
    const TMysqlOkPacket ok = ParseOkPacket(packet, fserver_capabilities, fclient_flag);
    faffected_rows = ok.affected_rows;
    finsert_id = ok.insert_id;
    if (ok.has_status) {
        fserver_status = ok.server_status;
        FWarningCount = 0;
    }
    if (ok.has_warnings) FWarningCount = ok.warning_count;
    finfo = ok.info;
}

int TMysqlClient::parse_result_header(long length) {
    free_field_defs();
    ByteSpan packet = answer(length);
    PacketReader reader(packet);
    std::int64_t n = reader.read_length_coded();
    while (n == NULL_LENGTH) {
        // The server asks for a local file; the rest of the packet is its name.
        const std::string fileName(reader.rest());
        const bool sent = FLocalInfile ? send_local_file(fileName) : refuse_local_file();
        const unsigned errnum = LastErrorNo();
        const std::string error = LastError();
        const long next = fnet.net_safe_read(fclient_flag);
        if (next < 0) {
            // A lost connection says more than the file's own failure; a server error
            // about an empty transfer says less.
            fserver_status &= ~static_cast<std::int32_t>(SERVER_MORE_RESULTS_EXISTS);
            if (!sent && Connected()) fnet.SetError(errnum, error);
            return -1;
        }
        if (!sent) {
            const ByteSpan reply = answer(next);
            if (!reply.empty() && reply[0] == 0)
                apply_ok_packet(reply);  // keeps the chain of further results readable
            else
                fnet.net_close();  // not the answer to an ended transfer: out of step
            fnet.SetError(errnum, error);
            return -1;
        }
        packet = answer(next);
        reader = PacketReader(packet);
        n = reader.read_length_coded();
    }
    if (!reader.ok()) {
        malformed_answer();
        return -1;
    }
    if (n == 0) {
        apply_ok_packet(packet);
        return 0;
    }
    if (n > INT32_MAX) {
        malformed_answer();
        return -1;
    }
    if (!(fserver_status & SERVER_STATUS_AUTOCOMMIT)) fserver_status |= SERVER_STATUS_IN_TRANS;
    fextra_info = reader.at_end() ? 0 : reader.read_length_coded64();
    if (!unpack_field_defs(static_cast<std::uint32_t>(n))) return -1;
    fstatus = MYSQL_STATUS_GET_RESULT;
    ffield_count = static_cast<std::int32_t>(n);
    return 0;
}

template <typename RowHandler>
int TMysqlClient::read_result_rows(std::size_t count, RowHandler&& row) {
    for (;;) {
        const long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return -1;
        const ByteSpan packet = answer(length);
        if (IsEndPacket(packet)) {
            if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
            return 0;
        }
        if (!SplitRow(packet, count, frow_values)) {
            malformed_answer();
            return -1;
        }
        row(std::span<const std::optional<std::string_view>>(frow_values));
    }
}

void TMysqlClient::take_end_packet(ByteSpan packet) {
    const TMysqlEndPacket end = ParseEndPacket(packet);
    FWarningCount = end.warning_count;
    fserver_status = end.server_status;
}

bool TMysqlClient::unpack_field_defs(std::uint32_t count) {
    const bool protocol41 = (fclient_flag & CLIENT_RESERVED) != 0;
    const bool longFlags = (fserver_capabilities & CLIENT_LONG_FLAG) != 0;
    std::vector<TMysql_FieldDef> defs;
    bool tooMany = false;
    const int rc = read_result_rows(
        protocol41 ? 7 : 5, [&](std::span<const std::optional<std::string_view>> values) {
            if (defs.size() >= count) {
                tooMany = true;
                return;
            }
            defs.push_back(UnpackFieldDef(values, protocol41, longFlags));
        });
    if (rc != 0) return false;
    if (tooMany || defs.size() != count) {
        // The descriptions do not match the announced column count.
        malformed_answer();
        return false;
    }
    ffields = std::move(defs);
    return true;
}

void TMysqlClient::free_field_defs() {
    ffields.clear();
    ffield_count = 0;
}

std::unique_ptr<TMysqlResult> TMysqlClient::store_result_set() {
    if (ffields.empty()) return nullptr;
    if (fstatus != MYSQL_STATUS_GET_RESULT) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return nullptr;
    }
    std::unique_ptr<TMysqlResult> result;
    bool outOfMemory = false;
    try {
        result = std::make_unique<TMysqlResult>(this, rtStored);
        result->ffields = std::move(ffields);
        result->flengths.assign(result->ffields.size(), static_cast<std::uint32_t>(FNullLength));
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const std::size_t count = static_cast<std::size_t>(ffield_count);
    free_field_defs();
    fstatus = MYSQL_STATUS_READY;
    // Rows are read to their end even when memory ran out, so the session stays in step.
    const int rc =
        read_result_rows(count, [&](std::span<const std::optional<std::string_view>> values) {
            if (outOfMemory) return;
            try {
                result->fdata.push_back(result->fstore.Add(values));
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                result.reset();
                return;
            }
            for (std::size_t i = 0; i < count; ++i)
                if (values[i])
                    result->ffields[i].Max_Length =
                        std::max(result->ffields[i].Max_Length,
                                 static_cast<std::uint32_t>(values[i]->size()));
        });
    if (rc != 0) return nullptr;
    if (outOfMemory) {
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return nullptr;
    }
    result->ffieldscount = static_cast<std::int32_t>(count);
    result->frowscount = static_cast<std::int64_t>(result->fdata.size());
    result->fLastRow = 1;
    if (result->fdata.empty()) {
        result->fEOF = true;
        result->fRecNo = -1;
    } else {
        result->MoveTo(0);
    }
    faffected_rows = result->frowscount;
    return result;
}

std::unique_ptr<TMysqlResult> TMysqlClient::use_result_set() {
    if (ffields.empty()) return nullptr;
    if (fstatus != MYSQL_STATUS_GET_RESULT) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return nullptr;
    }
    std::unique_ptr<TMysqlResult> result;
    try {
        result = std::make_unique<TMysqlResult>(this, rtUsed);
        result->ffields = std::move(ffields);
        result->ffieldscount = ffield_count;
        result->flengths.assign(result->ffields.size(), static_cast<std::uint32_t>(FNullLength));
    } catch (const std::bad_alloc&) {
        // The rows cannot be taken; leave the session in step by dropping them.
        fstatus = MYSQL_STATUS_READY;
        read_result_rows(static_cast<std::size_t>(ffield_count), [](auto) {});
        free_field_defs();
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return nullptr;
    }
    free_field_defs();
    fstatus = MYSQL_STATUS_USE_RESULT;
    fusedresult = result.get();
    result->Next();
    result->fBOF = true;
    return result;
}

int TMysqlClient::read_next_row(std::size_t count, std::vector<std::uint32_t>& buffer,
                                TMysql_Row& row, std::vector<std::uint32_t>& lengths) {
    auto lock = Guard();
    const long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) return -1;
    const ByteSpan packet = answer(length);
    if (IsEndPacket(packet)) {
        if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
        return 1;
    }
    if (!SplitRow(packet, count, frow_values)) {
        malformed_answer();
        return -1;
    }
    try {
        buffer.resize(TMysql_Row::EncodedWords(frow_values));
        TMysql_Row::Encode(frow_values, buffer.data());
        row = TMysql_Row(buffer.data());
    } catch (const std::bad_alloc&) {
        row = TMysql_Row();
        read_result_rows(count, [](auto) {});
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return -1;
    }
    lengths.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        lengths[i] = row.is_null(i) ? static_cast<std::uint32_t>(FNullLength) : row.length(i);
    return 0;
}

void TMysqlClient::skip_used_rows() {
    auto lock = Guard();
    for (;;) {
        const long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return;
        const ByteSpan packet = answer(length);
        if (IsEndPacket(packet)) {
            if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
            return;
        }
    }
}

void TMysqlClient::release_used_result(TMysqlResult* result, std::int64_t rows) {
    auto lock = Guard();
    if (fusedresult != result) return;
    fusedresult = nullptr;
    fstatus = MYSQL_STATUS_READY;
    fnet.net_pack();
    faffected_rows = rows;
}

}  // namespace dbclient
