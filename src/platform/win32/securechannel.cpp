// Schannel through SSPI, loaded by name at the first use like Winsock: the security
// functions from secur32.dll, the certificate chain engine from crypt32.dll. The server's
// certificate is checked after the handshake by the chain engine against the Windows
// certificate store (so corporate roots count), with revocation checked as the engine
// does for the chain below the root (a revocation server out of reach, or not answering
// within the session's time-out, does not fail the check), and by the SSL policy for the
// host name; doing it here names the cause of a refusal. A renegotiation is checked again
// in full, as the first handshake.
#define SECURITY_WIN32
// The newer credential form (SCH_CREDENTIALS) as well as the older one.
#define SCHANNEL_USE_BLACKLISTS
// The chain engine's URL retrieval time-out.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
// The Windows headers depend on their order.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#include <wincrypt.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
// clang-format on

#include "platform/securechannel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/dynlib.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

struct Sspi {
    DynamicLibrary secur32;
    DynamicLibrary crypt32;
    PSecurityFunctionTableW sspi = nullptr;
    decltype(&::CertGetCertificateChain) CertGetCertificateChain = nullptr;
    decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy = nullptr;
    decltype(&::CertFreeCertificateChain) CertFreeCertificateChain = nullptr;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
    decltype(&::CertFindExtension) CertFindExtension = nullptr;
    decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;
};

std::unique_ptr<Sspi> LoadSspi() {
    auto api = std::make_unique<Sspi>();
    INIT_SECURITY_INTERFACE_W init = nullptr;
    if (!api->secur32.Load("secur32.dll") || !api->secur32.Find(init, SECURITY_ENTRYPOINT_ANSIW) ||
        !api->crypt32.Load("crypt32.dll") ||
        !api->crypt32.Find(api->CertGetCertificateChain, "CertGetCertificateChain") ||
        !api->crypt32.Find(api->CertVerifyCertificateChainPolicy,
                           "CertVerifyCertificateChainPolicy") ||
        !api->crypt32.Find(api->CertFreeCertificateChain, "CertFreeCertificateChain") ||
        !api->crypt32.Find(api->CertFreeCertificateContext, "CertFreeCertificateContext") ||
        !api->crypt32.Find(api->CertFindExtension, "CertFindExtension") ||
        !api->crypt32.Find(api->CryptDecodeObjectEx, "CryptDecodeObjectEx"))
        return nullptr;
    api->sspi = init();
    if (api->sspi == nullptr) return nullptr;
    return api;
}

// Null when the system lacks the libraries.
const Sspi* Api() {
    static const std::unique_ptr<Sspi> api = LoadSspi();
    return api.get();
}

// The protocols a session may speak.
constexpr DWORD kProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_MANUAL_CRED_VALIDATION;
// The SSL policy's flag for a revocation status that could not be learnt.
constexpr DWORD kIgnoreRevocationUnknown = 0x00000080;
// The content type of an alert record.
constexpr char kAlertRecord = 21;
// The first receive unit; it grows for a handshake message larger than it.
constexpr std::size_t kInputSize = 65536 + 1024;
constexpr std::size_t kMaxInputSize = 1 << 20;

std::string Hex(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

// The cause of a failed handshake or record, in words.
std::string StatusCause(SECURITY_STATUS status) {
    const auto code = static_cast<unsigned long>(status);
    std::string cause;
    switch (status) {
        case SEC_E_ALGORITHM_MISMATCH:
        case SEC_E_UNSUPPORTED_FUNCTION:
            cause = "no protocol version or cipher in common (TLS 1.2 or newer is required)";
            break;
        case SEC_E_UNTRUSTED_ROOT:
            cause = "unknown certificate authority";
            break;
        case SEC_E_CERT_EXPIRED:
            cause = "certificate expired";
            break;
        case SEC_E_WRONG_PRINCIPAL:
            cause = "host name mismatch";
            break;
        case SEC_E_ILLEGAL_MESSAGE:
            cause = "the server sent an alert or an invalid message";
            break;
        default:
            cause = win32::SystemErrorText(code);
    }
    return cause + " (" + Hex(code) + ")";
}

// The cause of a refused certificate, in words.
std::string CertificateCause(DWORD error) {
    switch (error) {
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
            return "unknown certificate authority";
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return "certificate expired or not yet valid";
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return "host name mismatch";
        case static_cast<DWORD>(CRYPT_E_REVOKED):
            return "certificate revoked";
        case static_cast<DWORD>(CERT_E_WRONG_USAGE):
            return "certificate not meant for a server";
        default:
            return win32::SystemErrorText(error) + " (" + Hex(error) + ")";
    }
}

// The address of an IP literal in network byte order (4 or 16 bytes); empty for a name.
std::string AddressBytes(const std::string& host) {
    if (host.find(':') != std::string::npos) {
        net::SocketAddress resolved;
        if (net::ResolveAddress(host, "0", net::AddressFamily::IPv6, false, resolved) != 0)
            return std::string();
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(resolved.storage);
        return std::string(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
    }
    std::string bytes;
    unsigned value = 0;
    int digits = 0;
    for (const char c : host + ".") {
        if (c >= '0' && c <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(c - '0');
            ++digits;
            continue;
        }
        if (c != '.' || digits == 0 || value > 255) return std::string();
        bytes += static_cast<char>(value);
        value = 0;
        digits = 0;
    }
    return bytes.size() == 4 ? bytes : std::string();
}

// Which way a certificate of the chain is out of its validity period.
std::string TimeCause(const CERT_CHAIN_CONTEXT& chain) {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
    for (DWORD i = 0; i < simple.cElement; ++i) {
        const CERT_CHAIN_ELEMENT& element = *simple.rgpElement[i];
        if ((element.TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID) == 0) continue;
        if (::CompareFileTime(&now, &element.pCertContext->pCertInfo->NotBefore) < 0)
            return "certificate not yet valid";
        return "certificate expired";
    }
    return "certificate expired or not yet valid";
}

// The cause of a refusal in the trust status of a chain; empty when the chain may pass.
std::string ChainCause(const CERT_CHAIN_CONTEXT& chain) {
    const DWORD status = chain.TrustStatus.dwErrorStatus;
    if ((status & (CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_EXPLICIT_DISTRUST)) != 0)
        return "certificate revoked";
    if ((status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0) return "certificate signature invalid";
    // An issuer that could not be found: an unknown authority, or an intermediate
    // certificate that the server does not send.
    if ((status & CERT_TRUST_IS_PARTIAL_CHAIN) != 0)
        return "unknown certificate authority or missing intermediate certificate";
    if ((status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_CYCLIC)) != 0)
        return "unknown certificate authority";
    if ((status & CERT_TRUST_IS_NOT_TIME_VALID) != 0) return TimeCause(chain);
    if ((status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0)
        return "certificate not meant for a server";
    return std::string();
}

}  // namespace

struct SecureChannel::Session {
    const Sspi* api = nullptr;
    net::socket_t socket = net::kInvalidSocket;
    std::string host;
    std::wstring wideHost;
    int timeout = 0;
    CredHandle credentials{};
    bool haveCredentials = false;
    CtxtHandle context{};
    bool haveContext = false;
    SecPkgContext_StreamSizes sizes{};
    // Received bytes not yet decrypted, and decrypted bytes not yet returned.
    std::vector<char> input = std::vector<char>(kInputSize);
    std::size_t inputUsed = 0;
    std::vector<char> plain;
    std::size_t plainRead = 0;
    std::vector<char> record;
    bool open = false;
    bool closed = false;  // the server's close notify arrived
    bool broken = false;  // a step failed: no orderly end
    int error = 0;
    std::string text;

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { Release(); }

    bool Fail(int code, const std::string& cause) {
        error = code;
        text = cause;
        return false;
    }

    void Release() {
        if (haveContext) api->sspi->DeleteSecurityContext(&context);
        if (haveCredentials) api->sspi->FreeCredentialsHandle(&credentials);
        haveContext = haveCredentials = false;
        open = false;
    }

    std::size_t Available() const { return plain.size() - plainRead; }

    bool AcquireCredentials() {
        // The newer form lets the system use TLS 1.3; systems that do not know it take
        // the older one, limited to TLS 1.2.
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols = ~kProtocols;
        SCH_CREDENTIALS current{};
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        current.cTlsParameters = 1;
        current.pTlsParameters = &parameters;
        TimeStamp expiry{};
        auto acquire = [&](void* data) {
            return api->sspi->AcquireCredentialsHandleW(
                nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, data,
                nullptr, nullptr, &credentials, &expiry);
        };
        SECURITY_STATUS status = acquire(&current);
        if (status != SEC_E_OK) {
            SCHANNEL_CRED older{};
            older.dwVersion = SCHANNEL_CRED_VERSION;
            older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
            older.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
            status = acquire(&older);
        }
        if (status != SEC_E_OK) return Fail(-1, "TLS context failed: " + StatusCause(status));
        haveCredentials = true;
        return true;
    }

    bool SendAll(const char* data, std::size_t size, const std::string& what) {
        while (size > 0) {
            const long n = net::Send(socket, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            const int code = net::LastError();
            if (n < 0 && code != WSAEWOULDBLOCK)
                return Fail(code, "TLS " + what + " failed: connection lost");
            const int r = net::WaitWritable(socket, timeout);
            if (r == 0) return Fail(WSAETIMEDOUT, "TLS " + what + " timed out");
            if (r < 0) return Fail(net::LastError(), "TLS " + what + " failed");
        }
        return true;
    }

    // Reads what the socket has into the input: 1, 0 at the end of the connection, -1 on
    // failure.
    int Receive(const std::string& what) {
        if (inputUsed == input.size()) {
            if (input.size() >= kMaxInputSize) {
                Fail(-1, "TLS " + what + " failed: message too large");
                return -1;
            }
            input.resize(input.size() * 2);
        }
        for (;;) {
            const long n = net::Recv(socket, input.data() + inputUsed, input.size() - inputUsed);
            if (n > 0) {
                inputUsed += static_cast<std::size_t>(n);
                return 1;
            }
            if (n == 0) return 0;
            const int code = net::LastError();
            if (code != WSAEWOULDBLOCK) {
                Fail(code, "TLS " + what + " failed: connection lost");
                return -1;
            }
            const int r = net::WaitReadable(socket, timeout);
            if (r == 0) {
                Fail(WSAETIMEDOUT, "TLS " + what + " timed out");
                return -1;
            }
            if (r < 0) {
                Fail(net::LastError(), "TLS " + what + " failed");
                return -1;
            }
        }
    }

    // Keeps the `extra` last bytes of the input (not yet processed), drops the rest.
    void KeepLast(std::size_t extra) {
        if (extra > 0 && extra <= inputUsed)
            std::memmove(input.data(), input.data() + (inputUsed - extra), extra);
        inputUsed = extra <= inputUsed ? extra : 0;
    }

    // Sends a token of the security package and frees it; false when the send failed.
    bool SendToken(SecBuffer& token, const std::string& what) {
        if (token.pvBuffer == nullptr) return true;
        const bool sent = token.cbBuffer == 0 ||
                          SendAll(static_cast<const char*>(token.pvBuffer), token.cbBuffer, what);
        api->sspi->FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
        return sent;
    }

    // The handshake, from its start or, for a renegotiation or a message after the
    // handshake, from the bytes in the input.
    bool Handshake(bool first) {
        ULONG attributes = 0;
        TimeStamp expiry{};
        bool read = false;
        if (first) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            const SECURITY_STATUS status = api->sspi->InitializeSecurityContextW(
                &credentials, nullptr, wideHost.data(), kContextRequest, 0, 0, nullptr, 0, &context,
                &outDesc, &attributes, &expiry);
            if (status != SEC_I_CONTINUE_NEEDED) {
                SendToken(out, "handshake");
                return Fail(-1, "TLS handshake failed: " + StatusCause(status));
            }
            haveContext = true;
            if (!SendToken(out, "handshake")) return false;
            read = true;
        }
        for (int withoutCredentials = 0;;) {
            if (read) {
                const int r = Receive("handshake");
                if (r == 0) return Fail(-1, "TLS handshake failed: connection closed");
                if (r < 0) return false;
            }
            SecBuffer in[2] = {
                {static_cast<unsigned long>(inputUsed), SECBUFFER_TOKEN, input.data()},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            const SECURITY_STATUS status = api->sspi->InitializeSecurityContextW(
                &credentials, &context, wideHost.data(), kContextRequest, 0, 0, &inDesc, 0, nullptr,
                &outDesc, &attributes, &expiry);
            const bool answered = out.cbBuffer > 0;
            // A failure may come with an alert for the server: it goes out too.
            if (!SendToken(out, "handshake") && !FAILED(status)) return false;
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                // Before TLS 1.3 a renegotiation asks the client to speak first. A security
                // package with nothing to say then cannot renegotiate (Wine's cannot): the
                // session ends now rather than both sides waiting for each other.
                if (!first && !read && !answered && inputUsed == 0 && !Tls13())
                    return Fail(-1,
                                "TLS handshake failed: the server asked to renegotiate the "
                                "session, which the system's TLS cannot do");
                read = true;
                continue;
            }
            if (status == SEC_I_INCOMPLETE_CREDENTIALS && ++withoutCredentials < 3) {
                // The server asks for a client certificate; there is none to give.
                read = false;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
                return Fail(-1, "TLS handshake failed: " + StatusCause(status));
            KeepLast(in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0);
            if (status == SEC_E_OK) return true;
            read = inputUsed == 0;
        }
    }

    bool Tls13() {
        SecPkgContext_ConnectionInfo info{};
        return api->sspi->QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) ==
                   SEC_E_OK &&
               (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
    }

    // After a handshake (the first one, or a renegotiation): the protocol version, the
    // record sizes and the server's certificate.
    bool Established() {
        SecPkgContext_ConnectionInfo info{};
        if (api->sspi->QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) ==
                SEC_E_OK &&
            (info.dwProtocol & kOldProtocols) != 0)
            return Fail(-1, "TLS handshake failed: protocol version below TLS 1.2");
        const SECURITY_STATUS sized =
            api->sspi->QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (sized != SEC_E_OK) return Fail(-1, "TLS session failed: " + StatusCause(sized));
        return Verify();
    }

    bool Reject(const std::string& cause) {
        return Fail(-1, "TLS certificate rejected: " + cause + " (" + host + ")");
    }

    // The certificate must chain to a trusted root for server authentication and name
    // the host: a name through the SSL policy, an address literal by the certificate's
    // IP addresses (not every system's policy matches those; Wine's does not).
    bool Verify() {
        PCCERT_CONTEXT certificate = nullptr;
        if (api->sspi->QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                               &certificate) != SEC_E_OK ||
            certificate == nullptr)
            return Reject("the server sent none");
        const bool verified = VerifyCertificate(certificate);
        api->CertFreeCertificateContext(certificate);
        return verified;
    }

    bool VerifyCertificate(PCCERT_CONTEXT certificate) {
        char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
        LPSTR usages[] = {serverAuth};
        CERT_CHAIN_PARA chainPara{};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        // Fetching revocation lists is bounded like every other wait of the session, in
        // all; a server that does not answer in time leaves the status unknown.
        DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
        if (timeout > 0) {
            chainPara.dwUrlRetrievalTimeout = static_cast<DWORD>(timeout);
            flags |= CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
        }
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (!api->CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                          &chainPara, flags, nullptr, &chain) ||
            chain == nullptr)
            return Reject(CertificateCause(::GetLastError()));
        // The chain's own verdict first (some SSL policies overlook an incomplete chain);
        // a revocation status that could not be learnt (no revocation server named, or
        // none reached) is not a refusal, and must not hide the checks after it.
        const std::string chainCause = ChainCause(*chain);
        const std::string address = AddressBytes(host);
        HTTPSPolicyCallbackData https{};
        https.cbStruct = sizeof https;
        https.dwAuthType = AUTHTYPE_SERVER;
        https.fdwChecks = kIgnoreRevocationUnknown;
        https.pwszServerName = address.empty() ? wideHost.data() : nullptr;
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        const bool checked =
            api->CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        const DWORD error = checked ? status.dwError : ::GetLastError();
        api->CertFreeCertificateChain(chain);
        if (!chainCause.empty()) return Reject(chainCause);
        if (error != 0) return Reject(CertificateCause(error));
        if (!address.empty() && !NamesAddress(certificate, address))
            return Reject("IP address mismatch");
        return true;
    }

    // Whether the certificate's alternative names hold the address.
    bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) const {
        const CERT_INFO& info = *certificate->pCertInfo;
        const PCERT_EXTENSION extension =
            api->CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
        if (extension == nullptr) return false;
        CERT_ALT_NAME_INFO* names = nullptr;
        DWORD size = 0;
        if (!api->CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME,
                                      extension->Value.pbData, extension->Value.cbData,
                                      CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size) ||
            names == nullptr)
            return false;
        bool found = false;
        for (DWORD i = 0; i < names->cAltEntry; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
            found =
                found || (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                          entry.IPAddress.cbData == address.size() &&
                          std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0);
        }
        ::LocalFree(names);
        return found;
    }

    enum class Decoded { Data, More, Closed, Failed };

    // Decrypts the first record of the input.
    Decoded DecryptOne() {
        if (inputUsed == 0) return Decoded::More;
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(inputUsed), SECBUFFER_DATA, input.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        // The record's content type, readable before TLS 1.3 (decryption works in place).
        const bool alert = input[0] == kAlertRecord;
        const SECURITY_STATUS status = api->sspi->DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return Decoded::More;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            broken = true;
            Fail(-1, "TLS receive failed: " + StatusCause(status));
            return Decoded::Failed;
        }
        std::size_t extra = 0;
        bool data = false;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                data = true;
                if (plainRead == plain.size()) {
                    plain.clear();
                    plainRead = 0;
                }
                const auto* bytes = static_cast<const char*>(b.pvBuffer);
                plain.insert(plain.end(), bytes, bytes + b.cbBuffer);
            }
            if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
        }
        KeepLast(extra);
        // The close notice; some implementations (Wine's) report it as an authenticated
        // alert record without data rather than as the end of the context. A fatal
        // alert is a failure of its own.
        if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && !data)) {
            closed = true;
            return Decoded::Closed;
        }
        // A renegotiation, or a message after a TLS 1.3 handshake (a session ticket):
        // the security package takes it through the handshake call. The server may have
        // changed its certificate or protocol version: it is checked again in full.
        if (status == SEC_I_RENEGOTIATE && !(Handshake(false) && Established())) {
            broken = true;
            return Decoded::Failed;
        }
        return Decoded::Data;
    }

    void Shutdown() {
        if (!open || broken || !haveContext) return;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        if (api->sspi->ApplyControlToken(&context, &controlDesc) != SEC_E_OK) return;
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        ULONG attributes = 0;
        TimeStamp expiry{};
        api->sspi->InitializeSecurityContextW(&credentials, &context, wideHost.data(),
                                              kContextRequest, 0, 0, nullptr, 0, nullptr, &outDesc,
                                              &attributes, &expiry);
        SendToken(out, "shutdown");
    }
};

SecureChannel::SecureChannel() : session_(std::make_unique<Session>()) {}
SecureChannel::~SecureChannel() = default;

bool SecureChannel::Available() {
    return Api() != nullptr;
}

std::string SecureChannel::Name() {
    return "Schannel";
}

bool SecureChannel::Connect(net::socket_t socket, const std::string& host, int timeoutMs) {
    session_ = std::make_unique<Session>();
    Session& s = *session_;
    s.api = Api();
    if (s.api == nullptr) return s.Fail(-1, "TLS library not available (secur32.dll, crypt32.dll)");
    if (host.empty()) return s.Fail(-1, "TLS session failed: no server name to verify");
    s.socket = socket;
    s.host = host;
    s.wideHost = win32::Widen(host);
    s.timeout = timeoutMs;
    if (!s.AcquireCredentials()) return false;
    // Every wait below is bounded, so the socket must not block.
    if (net::SetNonBlocking(socket, true) != 0)
        return s.Fail(net::LastError(), "TLS session failed: socket mode");
    if (!s.Handshake(true) || !s.Established()) {
        s.Release();
        return false;
    }
    s.open = true;
    return true;
}

bool SecureChannel::Send(const void* data, std::size_t size, int timeoutMs) {
    Session& s = *session_;
    if (!s.open || s.broken) return s.Fail(-1, "TLS session not open");
    s.error = 0;
    s.text.clear();
    s.timeout = timeoutMs;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t chunk = std::min<std::size_t>(size, s.sizes.cbMaximumMessage);
        const std::size_t header = s.sizes.cbHeader;
        s.record.resize(header + chunk + s.sizes.cbTrailer);
        std::memcpy(s.record.data() + header, bytes, chunk);
        SecBuffer buffers[4] = {
            {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, s.record.data()},
            {static_cast<unsigned long>(chunk), SECBUFFER_DATA, s.record.data() + header},
            {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, s.record.data() + header + chunk},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = s.api->sspi->EncryptMessage(&s.context, 0, &desc, 0);
        if (status != SEC_E_OK) {
            s.broken = true;
            return s.Fail(-1, "TLS send failed: " + StatusCause(status));
        }
        const std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (!s.SendAll(s.record.data(), total, "send")) {
            s.broken = true;
            return false;
        }
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

long SecureChannel::Recv(void* data, std::size_t size, int timeoutMs) {
    Session& s = *session_;
    if (!s.open) return s.Fail(-1, "TLS session not open") ? 0 : -1;
    // A failure found while looking for waiting data stays the answer.
    if (s.broken) return -1;
    s.error = 0;
    s.text.clear();
    s.timeout = timeoutMs;
    for (;;) {
        if (const std::size_t available = s.Available(); available > 0) {
            const std::size_t n = std::min(available, size);
            std::memcpy(data, s.plain.data() + s.plainRead, n);
            s.plainRead += n;
            return static_cast<long>(n);
        }
        if (s.closed) return 0;
        const Session::Decoded decoded = s.DecryptOne();
        if (decoded == Session::Decoded::Failed) return -1;
        if (decoded != Session::Decoded::More) continue;
        const int r = s.Receive("receive");
        if (r <= 0) {
            s.broken = true;
            if (r == 0) s.Fail(-1, "TLS receive failed: connection closed without close notify");
            return -1;
        }
    }
}

std::size_t SecureChannel::Pending() {
    Session& s = *session_;
    if (!s.open) return 0;
    // Whole records already received are decrypted now; a failure found on the way is
    // reported as one byte waiting, so that the next receive returns it.
    while (s.Available() == 0 && !s.closed && !s.broken) {
        const Session::Decoded decoded = s.DecryptOne();
        if (decoded == Session::Decoded::More || decoded == Session::Decoded::Closed) break;
    }
    return s.broken ? 1 : s.Available();
}

void SecureChannel::Close() {
    session_->Shutdown();
    session_ = std::make_unique<Session>();
}

int SecureChannel::LastError() const {
    return session_->error;
}

const std::string& SecureChannel::LastErrorText() const {
    return session_->text;
}

}  // namespace platform
