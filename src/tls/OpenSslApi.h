// The operations of the run-time loaded TLS library, as resolved by LoadOpenSSL. The
// library's headers are not needed: its objects are opaque here, the entry points are
// declared by their C signatures, and the few constants carry the library's ABI values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tls {

// Opaque objects of the library, only ever handled through pointers.
struct Ssl;
struct SslContext;
struct SslMethod;
struct SslSession;
struct SslCipher;
struct X509Certificate;
struct X509StoreContext;
struct X509VerifyParam;
struct InitSettings;

using VerifyCallback = int (*)(int preverifyOk, X509StoreContext* context);

// Library initialisation options.
inline constexpr std::uint64_t OPENSSL_INIT_LOAD_CRYPTO_STRINGS = 0x00000002;
inline constexpr std::uint64_t OPENSSL_INIT_LOAD_SSL_STRINGS = 0x00200000;
// Control commands and their arguments.
inline constexpr int SSL_CTRL_SET_READ_AHEAD = 41;
inline constexpr int SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
inline constexpr int SSL_CTRL_SET_MIN_PROTO_VERSION = 123;
inline constexpr long TLSEXT_NAMETYPE_host_name = 0;
inline constexpr long TLS1_2_VERSION = 0x0303;
// Verification modes and results.
inline constexpr int SSL_VERIFY_NONE = 0x00;
inline constexpr int SSL_VERIFY_PEER = 0x01;
inline constexpr long X509_V_OK = 0;
inline constexpr int SSL_FILETYPE_PEM = 1;
// Results of SSL_get_error.
inline constexpr int SSL_ERROR_NONE = 0;
inline constexpr int SSL_ERROR_SSL = 1;
inline constexpr int SSL_ERROR_WANT_READ = 2;
inline constexpr int SSL_ERROR_WANT_WRITE = 3;
inline constexpr int SSL_ERROR_SYSCALL = 5;
inline constexpr int SSL_ERROR_ZERO_RETURN = 6;
// Flag of an error queue entry whose data is a text.
inline constexpr int ERR_TXT_STRING = 0x02;

// The resolved operations; valid only while OpenSSLLoaded().
struct TOpenSslApi {
    // libssl
    int (*OPENSSL_init_ssl)(std::uint64_t opts, const InitSettings* settings) = nullptr;
    const SslMethod* (*TLS_client_method)() = nullptr;
    SslContext* (*SSL_CTX_new)(const SslMethod* method) = nullptr;
    void (*SSL_CTX_free)(SslContext* ctx) = nullptr;
    long (*SSL_CTX_ctrl)(SslContext* ctx, int cmd, long larg, void* parg) = nullptr;
    void (*SSL_CTX_set_default_read_buffer_len)(SslContext* ctx, std::size_t len) = nullptr;
    int (*SSL_CTX_set_cipher_list)(SslContext* ctx, const char* list) = nullptr;
    void (*SSL_CTX_set_verify)(SslContext* ctx, int mode, VerifyCallback callback) = nullptr;
    int (*SSL_CTX_load_verify_locations)(SslContext* ctx, const char* file,
                                         const char* path) = nullptr;
    int (*SSL_CTX_set_default_verify_paths)(SslContext* ctx) = nullptr;
    int (*SSL_CTX_use_certificate_file)(SslContext* ctx, const char* file, int type) = nullptr;
    int (*SSL_CTX_use_PrivateKey_file)(SslContext* ctx, const char* file, int type) = nullptr;
    int (*SSL_CTX_check_private_key)(const SslContext* ctx) = nullptr;
    Ssl* (*SSL_new)(SslContext* ctx) = nullptr;
    void (*SSL_free)(Ssl* ssl) = nullptr;
    int (*SSL_clear)(Ssl* ssl) = nullptr;
    long (*SSL_ctrl)(Ssl* ssl, int cmd, long larg, void* parg) = nullptr;
    SslSession* (*SSL_get_session)(const Ssl* ssl) = nullptr;
    long (*SSL_SESSION_set_timeout)(SslSession* session, long seconds) = nullptr;
    int (*SSL_set_fd)(Ssl* ssl, int fd) = nullptr;
    int (*SSL_set1_host)(Ssl* ssl, const char* host) = nullptr;
    void (*SSL_set_connect_state)(Ssl* ssl) = nullptr;
    int (*SSL_do_handshake)(Ssl* ssl) = nullptr;
    int (*SSL_is_init_finished)(const Ssl* ssl) = nullptr;
    int (*SSL_get_error)(const Ssl* ssl, int ret) = nullptr;
    long (*SSL_get_verify_result)(const Ssl* ssl) = nullptr;
    X509VerifyParam* (*SSL_get0_param)(Ssl* ssl) = nullptr;
    int (*SSL_pending)(const Ssl* ssl) = nullptr;
    int (*SSL_has_pending)(const Ssl* ssl) = nullptr;
    int (*SSL_read)(Ssl* ssl, void* buffer, int size) = nullptr;
    int (*SSL_write)(Ssl* ssl, const void* buffer, int size) = nullptr;
    int (*SSL_shutdown)(Ssl* ssl) = nullptr;
    const SslCipher* (*SSL_get_current_cipher)(const Ssl* ssl) = nullptr;
    const char* (*SSL_CIPHER_get_name)(const SslCipher* cipher) = nullptr;
    X509Certificate* (*SSL_get1_peer_certificate)(const Ssl* ssl) = nullptr;
    // libcrypto
    void (*X509_free)(X509Certificate* certificate) = nullptr;
    const char* (*X509_verify_cert_error_string)(long code) = nullptr;
    int (*X509_VERIFY_PARAM_set1_ip_asc)(X509VerifyParam* param, const char* ip) = nullptr;
    const char* (*ERR_reason_error_string)(unsigned long code) = nullptr;
    unsigned long (*ERR_get_error_all)(const char** file, int* line, const char** func,
                                       const char** data, int* flags) = nullptr;
    void (*ERR_error_string_n)(unsigned long code, char* buffer, std::size_t size) = nullptr;
    void (*ERR_clear_error)() = nullptr;
};
const TOpenSslApi& OpenSsl();

// Counts the TLS contexts alive, so that the libraries stay loaded under them.
void OpenSslContextCreated();
void OpenSslContextReleased();

}  // namespace tls
