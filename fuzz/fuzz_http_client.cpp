// The HTTP client against a hostile server: the fuzz input, after a first byte that
// chooses the request (method, protocol version, a range, a second request on the same
// client), is what the server sends, one piece per connection.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "download/HttpClient.h"
#include "download/NetUtil.h"

using namespace download;

namespace {

enum Choice : std::uint8_t {
    kHead = 1,
    kProtocol11 = 2,
    kRange = 4,
    kNoKeepAlive = 8,
    kTwoRequests = 16,
};

// What the answer's header says about its body.
struct Framing {
    int lengths = 0;
    std::optional<std::int64_t> length;
    bool chunked = false;
};

Framing FramingOf(const std::vector<std::string>& headers) {
    Framing f;
    for (std::size_t i = 1; i < headers.size(); ++i) {
        const std::string upper = UpperCase(headers[i]);
        if (StartsWith(upper, "CONTENT-LENGTH:")) {
            ++f.lengths;
            f.length = ParseDecimal(Trim(TextAfter(headers[i], ":")));
        } else if (StartsWith(upper, "TRANSFER-ENCODING:") &&
                   TextAfter(upper, ":").find("CHUNKED") != std::string::npos) {
            f.chunked = true;
        }
    }
    return f;
}

void Request(THTTPClient& client, std::uint8_t choice, const std::string& url,
             const std::vector<std::string>& answers) {
    const bool head = choice & kHead;
    client.Clear();
    if (choice & kRange) client.SetRangeStart(10);
    const bool done = client.HTTPMethod(head ? "HEAD" : "GET", url);
    const std::string& document = client.Document().Bytes();
    std::size_t served = 0;
    for (const auto& a : answers) served = std::max(served, a.size());
    // The body comes from what a server sent: no byte is made up ("\r\n" ends a text that
    // had no status line).
    FUZZ_CHECK(document.size() <= served + 1);
    const auto& headers = client.Headers();
    // Code 0: lines without a status line after all, read as the body of an old answer.
    if (!done || headers.empty() || !StartsWith(UpperCase(headers[0]), "HTTP/") ||
        client.ResultCode() == 0)
        return;
    FUZZ_CHECK(client.ResultCode() >= 0);
    const Framing f = FramingOf(headers);
    if (head || f.chunked || client.ResultCode() == 204 || client.ResultCode() == 304) {
        if (head) FUZZ_CHECK(document.empty());
        return;
    }
    if (f.lengths == 1 && f.length) {
        // A counted body is a piece of one answer, complete only at its announced length.
        bool inOne = false;
        for (const auto& a : answers) inOne |= a.find(document) != std::string::npos;
        FUZZ_CHECK(inOne);
        if (client.BodyComplete())
            FUZZ_CHECK(static_cast<std::int64_t>(document.size()) == *f.length);
        FUZZ_CHECK(static_cast<std::int64_t>(document.size()) <= *f.length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzsupport::TAnswerServer server;
    if (size == 0) return 0;
    const std::uint8_t choice = data[0];
    const std::vector<std::string> answers = fuzzsupport::SplitAnswers(
        std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    server.Serve(answers);
    {
        THTTPClient client;
        client.SetTimeout(2000);
        client.SetProtocol(choice & kProtocol11 ? "1.1" : "1.0");
        client.SetKeepAlive(!(choice & kNoKeepAlive));
        Request(client, choice, server.Url("/pacote.zip"), answers);
        if (choice & kTwoRequests) Request(client, choice, server.Url("/outro?x=1"), answers);
    }
    server.Finish();
    return 0;
}
