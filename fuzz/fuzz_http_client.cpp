// The HTTP client against a hostile server: the fuzz input, after a first byte that
// chooses the request (method, protocol version, a range, a second request on the same
// client, through a proxy in the proxy form or through a CONNECT tunnel), is what the
// server sends, one piece per connection. As a proxy the server's first answer is its
// answer to the request or to CONNECT.
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
    kProxyForm = 32,  // an http URL through the server as a proxy
    kTunnel = 64,     // an https URL through the server's tunnel
};

// After a refusal by the proxy: the text names the status and the proxy, and holds no
// control character (it is shown to a person); nothing of the answer became a body.
void CheckProxyRefusal(THTTPClient& client, const std::string& what, int port) {
    auto& sock = client.Sock();
    if (sock.LastError() != 10061) return;
    const std::string& text = sock.LastErrorDesc();
    FUZZ_CHECK(StartsWith(text, "Proxy refused the " + what + ": "));
    FUZZ_CHECK(text.ends_with(" (127.0.0.1:" + std::to_string(port) + ")"));
    for (const char c : text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);
    if (what == "tunnel") FUZZ_CHECK(client.Document().Bytes().empty());
}

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
        if (choice & (kProxyForm | kTunnel)) {
            client.SetProxyHost("127.0.0.1");
            client.SetProxyPort(std::to_string(server.Port()));
            client.Sock().SetHTTPTunnelTimeout(2000);
        }
        if (choice & kTunnel) {
            // Only a 2xx status line opens the tunnel; anything else fails the request.
            client.Clear();
            const bool done = client.HTTPMethod("GET", "https://files.example/pacote.zip");
            const std::string& first = answers.front();
            const bool opens = StartsWith(first, "HTTP/") && first.find(' ') != std::string::npos &&
                               first[first.find(' ') + 1] == '2';
            if (!opens) FUZZ_CHECK(!done && client.ResultCode() == 500);
            CheckProxyRefusal(client, "tunnel", server.Port());
        } else {
            const std::string base = choice & kProxyForm ? "http://files.example" : server.Url("");
            Request(client, choice, base + "/pacote.zip", answers);
            if (choice & kProxyForm) CheckProxyRefusal(client, "request", server.Port());
            if (choice & kTwoRequests) Request(client, choice, base + "/outro?x=1", answers);
        }
    }
    server.Finish();
    return 0;
}
