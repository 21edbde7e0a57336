// The https client of the Windows agent for the tests run from the POSIX host: trusts a
// test CA the way an administrator would, and fetches a URL with the agent's HTTP client
// (over the system's TLS). Each command prints what it did and exits 0, or 1 on failure.
//
//   travik-https trust CERT.der    adds the certificate to the current user's Root store
//   travik-https get URL FILE [MS] GET; prints the layer and the status, the body goes to
//                                  FILE; on failure prints "error CODE TEXT"; MS: the
//                                  client's time-out
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "download/HttpClient.h"

namespace {

int Trust(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    const bool added = root != nullptr && !der.empty() &&
                       CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                        reinterpret_cast<const BYTE*>(der.data()),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    if (root != nullptr) CertCloseStore(root, 0);
    if (!added) {
        std::printf("error %lu\n", static_cast<unsigned long>(error));
        return 1;
    }
    std::printf("trusted\n");
    return 0;
}

int Get(const char* url, const char* path, const char* timeoutMs) {
    download::THTTPClient http;
    if (timeoutMs != nullptr) http.SetTimeout(static_cast<std::uint32_t>(std::atoi(timeoutMs)));
    const bool ok = http.HTTPMethod("GET", url);
    std::printf("%s\n", http.Sock().SSL().LibVersion().c_str());
    if (!ok) {
        std::printf("error %d %s\n", http.Sock().LastError(), http.Sock().LastErrorDesc().c_str());
        return 1;
    }
    std::ofstream(path, std::ios::binary) << http.Document().Bytes();
    std::printf("status %d\n", http.ResultCode());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "trust" && argc == 3) return Trust(argv[2]);
    if (command == "get" && (argc == 4 || argc == 5))
        return Get(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    std::fprintf(stderr, "usage: travik-https trust CERT.der | get URL FILE [MS]\n");
    return 2;
}
