// The library's headers are not needed: its objects are opaque here, the entry points
// are declared by their C signatures (OpenSSL 3), and the few constants carry its ABI
// values.
#include "platform/libcrypto.h"

#include <cstddef>
#include <memory>
#include <mutex>

#include "platform/dynlib.h"

namespace platform::libcrypto {

namespace {

using publickey::Verdict;

struct Bio;
struct EvpPkey;
struct EvpPkeyCtx;
struct Rsa;
struct Engine;
using PasswordCallback = int (*)(char* buffer, int size, int writing, void* data);

constexpr int EVP_PKEY_RSA = 6;
constexpr int EVP_PKEY_EC = 408;
constexpr int RSA_PKCS1_OAEP_PADDING = 4;
constexpr std::size_t kMaxKeyText = 1 << 20;

struct Api {
    DynamicLibrary library;
    Bio* (*BIO_new_mem_buf)(const void* buffer, int length) = nullptr;
    int (*BIO_free)(Bio* bio) = nullptr;
    EvpPkey* (*PEM_read_bio_PUBKEY)(Bio* bio, EvpPkey** key, PasswordCallback cb,
                                    void* data) = nullptr;
    Rsa* (*PEM_read_bio_RSAPublicKey)(Bio* bio, Rsa** key, PasswordCallback cb,
                                      void* data) = nullptr;
    EvpPkey* (*PEM_read_bio_PrivateKey)(Bio* bio, EvpPkey** key, PasswordCallback cb,
                                        void* data) = nullptr;
    EvpPkey* (*d2i_PUBKEY)(EvpPkey** key, const unsigned char** in, long length) = nullptr;
    void (*RSA_free)(Rsa* rsa) = nullptr;
    EvpPkey* (*EVP_PKEY_new)() = nullptr;
    int (*EVP_PKEY_set1_RSA)(EvpPkey* key, Rsa* rsa) = nullptr;
    void (*EVP_PKEY_free)(EvpPkey* key) = nullptr;
    int (*EVP_PKEY_get_base_id)(const EvpPkey* key) = nullptr;
    int (*EVP_PKEY_get_group_name)(const EvpPkey* key, char* name, std::size_t size,
                                   std::size_t* length) = nullptr;
    EvpPkeyCtx* (*EVP_PKEY_CTX_new)(EvpPkey* key, Engine* engine) = nullptr;
    void (*EVP_PKEY_CTX_free)(EvpPkeyCtx* ctx) = nullptr;
    int (*EVP_PKEY_encrypt_init)(EvpPkeyCtx* ctx) = nullptr;
    int (*EVP_PKEY_CTX_set_rsa_padding)(EvpPkeyCtx* ctx, int padding) = nullptr;
    int (*EVP_PKEY_encrypt)(EvpPkeyCtx* ctx, unsigned char* out, std::size_t* outLength,
                            const unsigned char* in, std::size_t inLength) = nullptr;
    int (*EVP_PKEY_verify_init)(EvpPkeyCtx* ctx) = nullptr;
    int (*EVP_PKEY_verify)(EvpPkeyCtx* ctx, const unsigned char* signature,
                           std::size_t signatureLength, const unsigned char* digest,
                           std::size_t digestLength) = nullptr;
    int (*EVP_PKEY_sign_init)(EvpPkeyCtx* ctx) = nullptr;
    int (*EVP_PKEY_sign)(EvpPkeyCtx* ctx, unsigned char* signature, std::size_t* signatureLength,
                         const unsigned char* digest, std::size_t digestLength) = nullptr;
    unsigned long (*ERR_get_error)() = nullptr;
    void (*ERR_error_string_n)(unsigned long code, char* buffer, std::size_t size) = nullptr;
    void (*ERR_clear_error)() = nullptr;
};

template <typename Fn>
bool Resolve(const DynamicLibrary& library, const char* name, Fn& fn, std::string& missing) {
    if (library.Find(fn, name)) return true;
    if (missing.empty()) missing = name;
    return false;
}

std::unique_ptr<Api> LoadApi(std::string& error) {
    auto api = std::make_unique<Api>();
    const std::string name = CryptoLibraryName();
    if (!api->library.LoadShipped(name)) {
#if defined(_WIN32)
        error = "the OpenSSL library " + name + " could not be loaded: put the OpenSSL 3 DLLs (" +
                name + " and the ones it needs) beside the program";
#else
        error = "OpenSSL's library " + name + " could not be loaded: install OpenSSL 3";
#endif
        return nullptr;
    }
    std::string missing;
    const DynamicLibrary& l = api->library;
    Api& a = *api;
    Resolve(l, "BIO_new_mem_buf", a.BIO_new_mem_buf, missing);
    Resolve(l, "BIO_free", a.BIO_free, missing);
    Resolve(l, "PEM_read_bio_PUBKEY", a.PEM_read_bio_PUBKEY, missing);
    Resolve(l, "PEM_read_bio_RSAPublicKey", a.PEM_read_bio_RSAPublicKey, missing);
    Resolve(l, "PEM_read_bio_PrivateKey", a.PEM_read_bio_PrivateKey, missing);
    Resolve(l, "d2i_PUBKEY", a.d2i_PUBKEY, missing);
    Resolve(l, "RSA_free", a.RSA_free, missing);
    Resolve(l, "EVP_PKEY_new", a.EVP_PKEY_new, missing);
    Resolve(l, "EVP_PKEY_set1_RSA", a.EVP_PKEY_set1_RSA, missing);
    Resolve(l, "EVP_PKEY_free", a.EVP_PKEY_free, missing);
    Resolve(l, "EVP_PKEY_get_base_id", a.EVP_PKEY_get_base_id, missing);
    Resolve(l, "EVP_PKEY_get_group_name", a.EVP_PKEY_get_group_name, missing);
    Resolve(l, "EVP_PKEY_CTX_new", a.EVP_PKEY_CTX_new, missing);
    Resolve(l, "EVP_PKEY_CTX_free", a.EVP_PKEY_CTX_free, missing);
    Resolve(l, "EVP_PKEY_encrypt_init", a.EVP_PKEY_encrypt_init, missing);
    Resolve(l, "EVP_PKEY_CTX_set_rsa_padding", a.EVP_PKEY_CTX_set_rsa_padding, missing);
    Resolve(l, "EVP_PKEY_encrypt", a.EVP_PKEY_encrypt, missing);
    Resolve(l, "EVP_PKEY_verify_init", a.EVP_PKEY_verify_init, missing);
    Resolve(l, "EVP_PKEY_verify", a.EVP_PKEY_verify, missing);
    Resolve(l, "EVP_PKEY_sign_init", a.EVP_PKEY_sign_init, missing);
    Resolve(l, "EVP_PKEY_sign", a.EVP_PKEY_sign, missing);
    Resolve(l, "ERR_get_error", a.ERR_get_error, missing);
    Resolve(l, "ERR_error_string_n", a.ERR_error_string_n, missing);
    Resolve(l, "ERR_clear_error", a.ERR_clear_error, missing);
    if (!missing.empty()) {
        error = "OpenSSL's library " + name + " lacks " + missing + ": OpenSSL 3 is needed";
        return nullptr;
    }
    return api;
}

// The loaded library (kept for the rest of the program), or null with the reason.
const Api* Load(std::string& error) {
    static std::mutex mutex;
    static std::unique_ptr<Api> api;
    std::lock_guard lock(mutex);
    if (api == nullptr) api = LoadApi(error);
    if (api != nullptr) api->ERR_clear_error();
    return api.get();
}

// The library's text for the latest error it queued (the queue is emptied), or "".
std::string LibraryError(const Api& api) {
    unsigned long last = 0;
    for (unsigned long code; (code = api.ERR_get_error()) != 0;) last = code;
    if (last == 0) return "";
    char text[256] = {};
    api.ERR_error_string_n(last, text, sizeof text);
    return text;
}

std::string WithCause(const Api& api, std::string what) {
    const std::string cause = LibraryError(api);
    return cause.empty() ? what : what + " (" + cause + ")";
}

// Keys are never protected by a passphrase here: no prompt, the read fails instead.
int NoPassword(char*, int, int, void*) {
    return -1;
}

struct KeyDeleter {
    const Api* api;
    void operator()(EvpPkey* key) const { api->EVP_PKEY_free(key); }
};
struct CtxDeleter {
    const Api* api;
    void operator()(EvpPkeyCtx* ctx) const { api->EVP_PKEY_CTX_free(ctx); }
};
struct BioDeleter {
    const Api* api;
    void operator()(Bio* bio) const { api->BIO_free(bio); }
};
using Key = std::unique_ptr<EvpPkey, KeyDeleter>;
using Ctx = std::unique_ptr<EvpPkeyCtx, CtxDeleter>;
using MemoryBio = std::unique_ptr<Bio, BioDeleter>;

MemoryBio OpenText(const Api& api, std::string_view text) {
    // A key is a few kilobytes; a negative length would make the library measure a C string.
    if (text.size() > kMaxKeyText) return MemoryBio(nullptr, {&api});
    return MemoryBio(api.BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), {&api});
}

Key ReadRsaPublicKey(const Api& api, std::string_view pem, std::string& error) {
    const MemoryBio bio = OpenText(api, pem);
    Key key(nullptr, {&api});
    if (bio != nullptr && pem.find("-----BEGIN RSA PUBLIC KEY-----") != std::string_view::npos) {
        Rsa* rsa = api.PEM_read_bio_RSAPublicKey(bio.get(), nullptr, NoPassword, nullptr);
        if (rsa != nullptr) {
            key.reset(api.EVP_PKEY_new());
            if (key != nullptr && api.EVP_PKEY_set1_RSA(key.get(), rsa) != 1) key.reset();
            api.RSA_free(rsa);
        }
    } else if (bio != nullptr) {
        key.reset(api.PEM_read_bio_PUBKEY(bio.get(), nullptr, NoPassword, nullptr));
    }
    if (key == nullptr) {
        error = WithCause(api, "the RSA public key could not be read");
    } else if (api.EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        error = "the public key is not an RSA key";
        key.reset();
    }
    return key;
}

bool IsP256(const Api& api, const EvpPkey* key) {
    if (api.EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
    char group[64] = {};
    std::size_t length = 0;
    return api.EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
           std::string_view(group, length) == "prime256v1";
}

const unsigned char* Bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

std::optional<std::string> RsaOaepEncrypt(std::string_view pem, std::string_view message,
                                          std::string& error) {
    const Api* api = Load(error);
    if (api == nullptr) return std::nullopt;
    const Key key = ReadRsaPublicKey(*api, pem, error);
    if (key == nullptr) return std::nullopt;
    const Ctx ctx(api->EVP_PKEY_CTX_new(key.get(), nullptr), {api});
    std::size_t length = 0;
    // OAEP's default digests are SHA-1 for the label and for MGF1.
    if (ctx == nullptr || api->EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        api->EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
        api->EVP_PKEY_encrypt(ctx.get(), nullptr, &length, Bytes(message), message.size()) != 1) {
        error = WithCause(*api, "RSA-OAEP encryption failed");
        return std::nullopt;
    }
    std::string cipher(length, '\0');
    if (api->EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(cipher.data()), &length,
                              Bytes(message), message.size()) != 1) {
        error = WithCause(*api, "RSA-OAEP encryption failed");
        return std::nullopt;
    }
    cipher.resize(length);
    return cipher;
}

Verdict VerifyEcdsaP256(std::string_view spkiDer, const publickey::Sha256Digest& digest,
                        std::string_view derSignature, std::string& error) {
    const Api* api = Load(error);
    if (api == nullptr) return Verdict::Unavailable;
    const unsigned char* in = Bytes(spkiDer);
    const Key key(api->d2i_PUBKEY(nullptr, &in, static_cast<long>(spkiDer.size())), {api});
    if (key == nullptr || in != Bytes(spkiDer) + spkiDer.size()) {
        error = WithCause(*api, "the public key could not be read");
        return Verdict::Unavailable;
    }
    if (!IsP256(*api, key.get())) {
        error = "the public key is not an ECDSA P-256 key";
        return Verdict::Unavailable;
    }
    const Ctx ctx(api->EVP_PKEY_CTX_new(key.get(), nullptr), {api});
    if (ctx == nullptr || api->EVP_PKEY_verify_init(ctx.get()) != 1) {
        error = WithCause(*api, "ECDSA verification could not start");
        return Verdict::Unavailable;
    }
    // 0 is a signature the key does not accept, below 0 one that is not even well-formed
    // DER: for the key both are not its signature.
    const int result = api->EVP_PKEY_verify(ctx.get(), Bytes(derSignature), derSignature.size(),
                                            digest.data(), digest.size());
    LibraryError(*api);
    return result == 1 ? Verdict::Valid : Verdict::Invalid;
}

std::optional<std::string> SignEcdsaP256(std::string_view privateKeyPem,
                                         const publickey::Sha256Digest& digest,
                                         std::string& error) {
    const Api* api = Load(error);
    if (api == nullptr) return std::nullopt;
    const MemoryBio bio = OpenText(*api, privateKeyPem);
    const Key key(bio == nullptr
                      ? nullptr
                      : api->PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr),
                  {api});
    if (key == nullptr) {
        error = WithCause(*api,
                          "the private key could not be read (a PEM key without a passphrase is "
                          "needed)");
        return std::nullopt;
    }
    if (!IsP256(*api, key.get())) {
        error = "the private key is not an ECDSA P-256 key";
        return std::nullopt;
    }
    const Ctx ctx(api->EVP_PKEY_CTX_new(key.get(), nullptr), {api});
    std::size_t length = 0;
    if (ctx == nullptr || api->EVP_PKEY_sign_init(ctx.get()) != 1 ||
        api->EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) != 1) {
        error = WithCause(*api, "ECDSA signing failed");
        return std::nullopt;
    }
    std::string signature(length, '\0');
    if (api->EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                           digest.data(), digest.size()) != 1) {
        error = WithCause(*api, "ECDSA signing failed");
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

}  // namespace platform::libcrypto
