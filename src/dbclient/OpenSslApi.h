// The operations of the run-time loaded TLS library, as resolved by LoadOpenSSL; only the
// library's headers are used, for the types.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace dbclient {

// The resolved operations; valid only while OpenSSLLoaded().
struct TOpenSslApi {
    decltype(&::OPENSSL_init_ssl) OPENSSL_init_ssl = nullptr;
    decltype(&::TLS_client_method) TLS_client_method = nullptr;
    decltype(&::SSL_CTX_new) SSL_CTX_new = nullptr;
    decltype(&::SSL_CTX_free) SSL_CTX_free = nullptr;
    decltype(&::SSL_CTX_ctrl) SSL_CTX_ctrl = nullptr;
    decltype(&::SSL_CTX_set_cipher_list) SSL_CTX_set_cipher_list = nullptr;
    decltype(&::SSL_CTX_set_verify) SSL_CTX_set_verify = nullptr;
    decltype(&::SSL_CTX_load_verify_locations) SSL_CTX_load_verify_locations = nullptr;
    decltype(&::SSL_CTX_set_default_verify_paths) SSL_CTX_set_default_verify_paths = nullptr;
    decltype(&::SSL_CTX_use_certificate_file) SSL_CTX_use_certificate_file = nullptr;
    decltype(&::SSL_CTX_use_PrivateKey_file) SSL_CTX_use_PrivateKey_file = nullptr;
    decltype(&::SSL_CTX_check_private_key) SSL_CTX_check_private_key = nullptr;
    decltype(&::SSL_new) SSL_new = nullptr;
    decltype(&::SSL_free) SSL_free = nullptr;
    decltype(&::SSL_clear) SSL_clear = nullptr;
    decltype(&::SSL_get_session) SSL_get_session = nullptr;
    decltype(&::SSL_SESSION_set_timeout) SSL_SESSION_set_timeout = nullptr;
    decltype(&::SSL_set_fd) SSL_set_fd = nullptr;
    decltype(&::SSL_set1_host) SSL_set1_host = nullptr;
    decltype(&::SSL_set_connect_state) SSL_set_connect_state = nullptr;
    decltype(&::SSL_do_handshake) SSL_do_handshake = nullptr;
    decltype(&::SSL_is_init_finished) SSL_is_init_finished = nullptr;
    decltype(&::SSL_get_error) SSL_get_error = nullptr;
    decltype(&::SSL_read) SSL_read = nullptr;
    decltype(&::SSL_write) SSL_write = nullptr;
    decltype(&::SSL_shutdown) SSL_shutdown = nullptr;
    decltype(&::SSL_get_current_cipher) SSL_get_current_cipher = nullptr;
    decltype(&::SSL_CIPHER_get_name) SSL_CIPHER_get_name = nullptr;
    decltype(&::SSL_get1_peer_certificate) SSL_get1_peer_certificate = nullptr;
    decltype(&::X509_free) X509_free = nullptr;
    decltype(&::ERR_get_error_all) ERR_get_error_all = nullptr;
    decltype(&::ERR_error_string_n) ERR_error_string_n = nullptr;
    decltype(&::ERR_clear_error) ERR_clear_error = nullptr;
};
const TOpenSslApi& OpenSsl();

// Counts the TLS contexts alive, so that the libraries stay loaded under them.
void OpenSslContextCreated();
void OpenSslContextReleased();

}  // namespace dbclient
