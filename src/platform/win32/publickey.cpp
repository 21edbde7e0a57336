// RSA-OAEP through CryptoAPI (the system's newer CNG lacks OAEP under Wine), ECDSA P-256
// verification through CNG, the keys decoded by crypt32; the system DLLs are loaded by
// name at the first use. Signing reads a PEM private key, which only OpenSSL's libcrypto
// does: its DLLs beside the program.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <bcrypt.h>
// clang-format on

#include "platform/publickey.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/dynlib.h"
#include "platform/libcrypto.h"
#include "platform/win32/wide.h"

namespace platform::publickey {

namespace {

constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000);
constexpr std::size_t kMaxKeyText = 1 << 20;
// The named curve P-256 (prime256v1) as the DER object identifier in the key's parameters.
constexpr BYTE kP256Curve[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

struct SystemApi {
    DynamicLibrary advapi32;
    DynamicLibrary crypt32;
    DynamicLibrary bcrypt;
    decltype(&::CryptAcquireContextW) CryptAcquireContextW = nullptr;
    decltype(&::CryptReleaseContext) CryptReleaseContext = nullptr;
    decltype(&::CryptEncrypt) CryptEncrypt = nullptr;
    decltype(&::CryptDestroyKey) CryptDestroyKey = nullptr;
    decltype(&::CryptStringToBinaryA) CryptStringToBinaryA = nullptr;
    decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;
    decltype(&::CryptImportPublicKeyInfo) CryptImportPublicKeyInfo = nullptr;
    decltype(&::BCryptOpenAlgorithmProvider) BCryptOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) BCryptCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptImportKeyPair) BCryptImportKeyPair = nullptr;
    decltype(&::BCryptDestroyKey) BCryptDestroyKey = nullptr;
    decltype(&::BCryptVerifySignature) BCryptVerifySignature = nullptr;
};

template <typename F>
void Find(const DynamicLibrary& library, F& function, const char* name, std::string& missing) {
    if (!library.Find(function, name) && missing.empty()) missing = name;
}

std::unique_ptr<SystemApi> LoadSystemApi(std::string& error) {
    auto api = std::make_unique<SystemApi>();
    for (const auto& [library, name] :
         {std::pair{&api->advapi32, "advapi32.dll"}, std::pair{&api->crypt32, "crypt32.dll"},
          std::pair{&api->bcrypt, "bcrypt.dll"}}) {
        if (!library->Load(name)) {
            error = std::string("the system library ") + name + " could not be loaded";
            return nullptr;
        }
    }
    std::string missing;
    SystemApi& a = *api;
    Find(a.advapi32, a.CryptAcquireContextW, "CryptAcquireContextW", missing);
    Find(a.advapi32, a.CryptReleaseContext, "CryptReleaseContext", missing);
    Find(a.advapi32, a.CryptEncrypt, "CryptEncrypt", missing);
    Find(a.advapi32, a.CryptDestroyKey, "CryptDestroyKey", missing);
    Find(a.crypt32, a.CryptStringToBinaryA, "CryptStringToBinaryA", missing);
    Find(a.crypt32, a.CryptDecodeObjectEx, "CryptDecodeObjectEx", missing);
    Find(a.crypt32, a.CryptImportPublicKeyInfo, "CryptImportPublicKeyInfo", missing);
    Find(a.bcrypt, a.BCryptOpenAlgorithmProvider, "BCryptOpenAlgorithmProvider", missing);
    Find(a.bcrypt, a.BCryptCloseAlgorithmProvider, "BCryptCloseAlgorithmProvider", missing);
    Find(a.bcrypt, a.BCryptImportKeyPair, "BCryptImportKeyPair", missing);
    Find(a.bcrypt, a.BCryptDestroyKey, "BCryptDestroyKey", missing);
    Find(a.bcrypt, a.BCryptVerifySignature, "BCryptVerifySignature", missing);
    if (!missing.empty()) {
        error = "the system's cryptography libraries lack " + missing;
        return nullptr;
    }
    return api;
}

// The loaded libraries (kept for the rest of the program), or null with the reason.
const SystemApi* Api(std::string& error) {
    static std::string loadError;
    static const std::unique_ptr<SystemApi> api = LoadSystemApi(loadError);
    if (api == nullptr) error = loadError;
    return api.get();
}

std::string Status(NTSTATUS status) {
    char text[32];
    std::snprintf(text, sizeof text, "status 0x%08lX", static_cast<unsigned long>(status));
    return text;
}

std::string LastError() {
    return win32::SystemErrorText(::GetLastError());
}

// Runs `release` when the scope ends: the system's handles are freed on every path.
template <typename F>
class Releaser {
  public:
    explicit Releaser(F release) : release_(std::move(release)) {}
    ~Releaser() { release_(); }
    Releaser(const Releaser&) = delete;
    Releaser& operator=(const Releaser&) = delete;

  private:
    F release_;
};

const BYTE* Bytes(std::string_view s) {
    return reinterpret_cast<const BYTE*>(s.data());
}

// A structure crypt32 decoded into memory it allocated.
struct LocalDeleter {
    void operator()(void* p) const { ::LocalFree(p); }
};
using DecodedKeyInfo = std::unique_ptr<CERT_PUBLIC_KEY_INFO, LocalDeleter>;

DecodedKeyInfo DecodeKeyInfo(const SystemApi& api, std::string_view der) {
    void* decoded = nullptr;
    DWORD size = 0;
    if (!api.CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, Bytes(der),
                                 static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                                 &decoded, &size))
        return nullptr;
    return DecodedKeyInfo(static_cast<CERT_PUBLIC_KEY_INFO*>(decoded));
}

// The DER bytes of the first PEM block of `pem`.
std::optional<std::string> PemToDer(const SystemApi& api, std::string_view pem) {
    DWORD size = 0;
    if (pem.empty() || pem.size() > kMaxKeyText ||
        !api.CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return std::nullopt;
    std::string der(size, '\0');
    if (!api.CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                                  CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()),
                                  &size, nullptr, nullptr))
        return std::nullopt;
    der.resize(size);
    return der;
}

// r and s of a DER ECDSA signature (SEQUENCE of two INTEGERs) as the 64 bytes r‖s, each
// big-endian and left-padded to 32 bytes; nothing when it is not strict DER of two
// non-negative integers of at most 32 bytes.
std::optional<std::array<UCHAR, 64>> SignatureToRs(std::string_view der) {
    const BYTE* p = Bytes(der);
    const std::size_t n = der.size();
    if (n < 2 || p[0] != 0x30 || p[1] >= 0x80 || p[1] != n - 2) return std::nullopt;
    std::array<UCHAR, 64> rs{};
    std::size_t at = 2;
    for (std::size_t i = 0; i < 2; ++i) {
        if (at + 2 > n || p[at] != 0x02) return std::nullopt;
        std::size_t length = p[at + 1];
        at += 2;
        if (length == 0 || length >= 0x80 || at + length > n) return std::nullopt;
        const BYTE* value = p + at;
        at += length;
        if ((value[0] & 0x80) != 0) return std::nullopt;  // negative
        if (value[0] == 0 && length > 1) {
            if ((value[1] & 0x80) == 0) return std::nullopt;  // a needless leading zero
            ++value;
            --length;
        }
        if (length > 32) return std::nullopt;
        std::memcpy(rs.data() + 32 * i + 32 - length, value, length);
    }
    if (at != n) return std::nullopt;
    return rs;
}

}  // namespace

std::optional<std::string> RsaOaepEncrypt(std::string_view pem, std::string_view message,
                                          std::string& error) {
    const SystemApi* api = Api(error);
    if (api == nullptr) return std::nullopt;
    const std::optional<std::string> der = PemToDer(*api, pem);
    if (!der) {
        error = "the RSA public key could not be read (no PEM text)";
        return std::nullopt;
    }
    // A PKCS#1 key is the bit string of a SubjectPublicKeyInfo: wrapped as one, both
    // forms are imported the same way.
    CERT_PUBLIC_KEY_INFO pkcs1{};
    DecodedKeyInfo decoded;
    const CERT_PUBLIC_KEY_INFO* info = &pkcs1;
    if (pem.find("-----BEGIN RSA PUBLIC KEY-----") != std::string_view::npos) {
        pkcs1.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
        pkcs1.PublicKey.cbData = static_cast<DWORD>(der->size());
        pkcs1.PublicKey.pbData = const_cast<BYTE*>(Bytes(*der));
    } else {
        decoded = DecodeKeyInfo(*api, *der);
        if (decoded == nullptr) {
            error = "the RSA public key could not be read: " + LastError();
            return std::nullopt;
        }
        info = decoded.get();
    }
    if (info->Algorithm.pszObjId == nullptr ||
        std::strcmp(info->Algorithm.pszObjId, szOID_RSA_RSA) != 0) {
        error = "the public key is not an RSA key";
        return std::nullopt;
    }

    HCRYPTPROV provider = 0;
    if (!api->CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                                   CRYPT_VERIFYCONTEXT)) {
        error = "the system's RSA provider could not be opened: " + LastError();
        return std::nullopt;
    }
    const Releaser providerGuard([&] { api->CryptReleaseContext(provider, 0); });
    HCRYPTKEY key = 0;
    if (!api->CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                       const_cast<CERT_PUBLIC_KEY_INFO*>(info), &key)) {
        error = "the RSA public key could not be read: " + LastError();
        return std::nullopt;
    }
    const Releaser keyGuard([&] { api->CryptDestroyKey(key); });

    DWORD needed = static_cast<DWORD>(message.size());
    if (!api->CryptEncrypt(key, 0, TRUE, CRYPT_OAEP, nullptr, &needed, 0)) {
        error = "RSA-OAEP encryption failed: " + LastError();
        return std::nullopt;
    }
    std::string cipher(std::max<std::size_t>(needed, message.size()), '\0');
    std::copy(message.begin(), message.end(), cipher.begin());
    DWORD length = static_cast<DWORD>(message.size());
    if (!api->CryptEncrypt(key, 0, TRUE, CRYPT_OAEP, reinterpret_cast<BYTE*>(cipher.data()),
                           &length, static_cast<DWORD>(cipher.size()))) {
        error = "RSA-OAEP encryption failed: " + LastError();
        return std::nullopt;
    }
    cipher.resize(length);
    // CryptoAPI gives the number least significant byte first.
    std::reverse(cipher.begin(), cipher.end());
    return cipher;
}

Verdict VerifyEcdsaP256(std::string_view spkiDer, const Sha256Digest& digest,
                        std::string_view derSignature, std::string& error) {
    const SystemApi* api = Api(error);
    if (api == nullptr) return Verdict::Unavailable;
    const DecodedKeyInfo info = DecodeKeyInfo(*api, spkiDer);
    if (info == nullptr) {
        error = "the public key could not be read: " + LastError();
        return Verdict::Unavailable;
    }
    const CRYPT_ALGORITHM_IDENTIFIER& algorithm = info->Algorithm;
    const CRYPT_BIT_BLOB& point = info->PublicKey;
    // Only the uncompressed point form 0x04 || X || Y.
    if (algorithm.pszObjId == nullptr ||
        std::strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        algorithm.Parameters.cbData != sizeof kP256Curve ||
        std::memcmp(algorithm.Parameters.pbData, kP256Curve, sizeof kP256Curve) != 0 ||
        point.cbData != 65 || point.cUnusedBits != 0 || point.pbData[0] != 0x04) {
        error = "the public key is not an ECDSA P-256 key";
        return Verdict::Unavailable;
    }

    BCRYPT_ALG_HANDLE provider = nullptr;
    NTSTATUS status =
        api->BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = "the system's ECDSA P-256 provider could not be opened (" + Status(status) + ")";
        return Verdict::Unavailable;
    }
    const Releaser providerGuard([&] { api->BCryptCloseAlgorithmProvider(provider, 0); });
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.pbData + 1, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    status = api->BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                      static_cast<ULONG>(blob.size()), 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = "the system refused the ECDSA P-256 public key (" + Status(status) + ")";
        return Verdict::Unavailable;
    }
    const Releaser keyGuard([&] { api->BCryptDestroyKey(key); });

    // A signature that is not even well-formed is not the key's signature.
    std::optional<std::array<UCHAR, 64>> rs = SignatureToRs(derSignature);
    if (!rs) return Verdict::Invalid;
    status = api->BCryptVerifySignature(key, nullptr, const_cast<UCHAR*>(digest.data()),
                                        static_cast<ULONG>(digest.size()), rs->data(),
                                        static_cast<ULONG>(rs->size()), 0);
    if (BCRYPT_SUCCESS(status)) return Verdict::Valid;
    if (status == kStatusInvalidSignature) return Verdict::Invalid;
    error = "ECDSA verification failed (" + Status(status) + ")";
    return Verdict::Unavailable;
}

std::optional<std::string> SignEcdsaP256(std::string_view privateKeyPem, const Sha256Digest& digest,
                                         std::string& error) {
    return libcrypto::SignEcdsaP256(privateKeyPem, digest, error);
}

}  // namespace platform::publickey
