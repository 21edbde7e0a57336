#include "tls/OpenSsl.h"

#include <atomic>
#include <mutex>

#include "platform/dynlib.h"
#include "tls/OpenSslApi.h"

namespace tls {

namespace {

std::mutex gLoadMutex;
platform::DynamicLibrary gSsl;
platform::DynamicLibrary gCrypto;
TOpenSslApi gApi;
std::atomic<bool> gLoaded{false};
std::atomic<int> gContexts{0};

template <typename Fn>
bool Resolve(const platform::DynamicLibrary& library, const char* name, Fn& fn) {
    return library.Find(fn, name);
}

void Forget() {
    gLoaded = false;
    gApi = TOpenSslApi{};
    gSsl.Unload();
    gCrypto.Unload();
}

}  // namespace

bool LoadOpenSSL() {
    std::lock_guard lock(gLoadMutex);
    if (gLoaded) return true;
    if (!gSsl.LoadShipped(platform::SslLibraryName())) return false;
    TOpenSslApi api;
    const bool sslOk =
        Resolve(gSsl, "OPENSSL_init_ssl", api.OPENSSL_init_ssl) &&
        Resolve(gSsl, "TLS_client_method", api.TLS_client_method) &&
        Resolve(gSsl, "SSL_CTX_new", api.SSL_CTX_new) &&
        Resolve(gSsl, "SSL_CTX_free", api.SSL_CTX_free) &&
        Resolve(gSsl, "SSL_CTX_ctrl", api.SSL_CTX_ctrl) &&
        Resolve(gSsl, "SSL_CTX_set_cipher_list", api.SSL_CTX_set_cipher_list) &&
        Resolve(gSsl, "SSL_CTX_set_default_read_buffer_len",
                api.SSL_CTX_set_default_read_buffer_len) &&
        Resolve(gSsl, "SSL_CTX_set_verify", api.SSL_CTX_set_verify) &&
        Resolve(gSsl, "SSL_CTX_load_verify_locations", api.SSL_CTX_load_verify_locations) &&
        Resolve(gSsl, "SSL_CTX_set_default_verify_paths", api.SSL_CTX_set_default_verify_paths) &&
        Resolve(gSsl, "SSL_CTX_use_certificate_file", api.SSL_CTX_use_certificate_file) &&
        Resolve(gSsl, "SSL_CTX_use_PrivateKey_file", api.SSL_CTX_use_PrivateKey_file) &&
        Resolve(gSsl, "SSL_CTX_check_private_key", api.SSL_CTX_check_private_key) &&
        Resolve(gSsl, "SSL_new", api.SSL_new) && Resolve(gSsl, "SSL_free", api.SSL_free) &&
        Resolve(gSsl, "SSL_clear", api.SSL_clear) && Resolve(gSsl, "SSL_ctrl", api.SSL_ctrl) &&
        Resolve(gSsl, "SSL_get_session", api.SSL_get_session) &&
        Resolve(gSsl, "SSL_SESSION_set_timeout", api.SSL_SESSION_set_timeout) &&
        Resolve(gSsl, "SSL_set_fd", api.SSL_set_fd) &&
        Resolve(gSsl, "SSL_set1_host", api.SSL_set1_host) &&
        Resolve(gSsl, "SSL_set_connect_state", api.SSL_set_connect_state) &&
        Resolve(gSsl, "SSL_do_handshake", api.SSL_do_handshake) &&
        Resolve(gSsl, "SSL_is_init_finished", api.SSL_is_init_finished) &&
        Resolve(gSsl, "SSL_get_error", api.SSL_get_error) &&
        Resolve(gSsl, "SSL_get_verify_result", api.SSL_get_verify_result) &&
        Resolve(gSsl, "SSL_get0_param", api.SSL_get0_param) &&
        Resolve(gSsl, "SSL_pending", api.SSL_pending) &&
        Resolve(gSsl, "SSL_has_pending", api.SSL_has_pending) &&
        Resolve(gSsl, "SSL_read", api.SSL_read) && Resolve(gSsl, "SSL_write", api.SSL_write) &&
        Resolve(gSsl, "SSL_shutdown", api.SSL_shutdown) &&
        Resolve(gSsl, "SSL_get_current_cipher", api.SSL_get_current_cipher) &&
        Resolve(gSsl, "SSL_CIPHER_get_name", api.SSL_CIPHER_get_name) &&
        Resolve(gSsl, "SSL_get1_peer_certificate", api.SSL_get1_peer_certificate);
    if (!sslOk) {
        Forget();
        return false;
    }
    if (!gCrypto.LoadShipped(platform::CryptoLibraryName())) {
        Forget();
        return false;
    }
    const bool cryptoOk =
        Resolve(gCrypto, "X509_free", api.X509_free) &&
        Resolve(gCrypto, "X509_verify_cert_error_string", api.X509_verify_cert_error_string) &&
        Resolve(gCrypto, "X509_VERIFY_PARAM_set1_ip_asc", api.X509_VERIFY_PARAM_set1_ip_asc) &&
        Resolve(gCrypto, "ERR_reason_error_string", api.ERR_reason_error_string) &&
        Resolve(gCrypto, "ERR_get_error_all", api.ERR_get_error_all) &&
        Resolve(gCrypto, "ERR_error_string_n", api.ERR_error_string_n) &&
        Resolve(gCrypto, "ERR_clear_error", api.ERR_clear_error);
    if (!cryptoOk) {
        Forget();
        return false;
    }
    // The error texts are wanted in every failure report.
    api.OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    gApi = api;
    gLoaded = true;
    return true;
}

void UnloadOpenSSL() {
    std::lock_guard lock(gLoadMutex);
    if (gContexts.load() > 0) return;
    Forget();
}

bool OpenSSLLoaded() {
    return gLoaded;
}

const TOpenSslApi& OpenSsl() {
    return gApi;
}

void OpenSslContextCreated() {
    ++gContexts;
}
void OpenSslContextReleased() {
    --gContexts;
}

std::optional<TOpenSslError> TakeOpenSslError() {
    if (!gLoaded) return std::nullopt;
    const char* file = nullptr;
    const char* data = nullptr;
    int line = 0;
    int flags = 0;
    const unsigned long code = gApi.ERR_get_error_all(&file, &line, nullptr, &data, &flags);
    if (code == 0) return std::nullopt;
    TOpenSslError error;
    error.code = code;
    char text[256] = {};
    gApi.ERR_error_string_n(code, text, sizeof text);
    error.text = text;
    error.file = file != nullptr ? file : "";
    error.line = line;
    if (data != nullptr && (flags & ERR_TXT_STRING) != 0) error.data = data;
    return error;
}

}  // namespace tls
