// The TLS library, loaded by name at run time, for the database transport and the
// download client. Only the operations they use are resolved; nothing of it is linked at
// build time.
#pragma once

#include <optional>
#include <string>

namespace tls {

// Loads libssl and libcrypto and resolves the operations used; false when a library
// or an operation is missing (nothing stays loaded then). Once loaded, further calls
// keep the loaded libraries and return true.
bool LoadOpenSSL();
// Frees both libraries. Does nothing while a TLS context is still alive, since its
// code would go away under it.
void UnloadOpenSSL();
bool OpenSSLLoaded();

// The oldest entry of the TLS library's error queue of this thread (taken off it).
struct TOpenSslError {
    unsigned long code = 0;
    std::string text;  // the library's error text for the code
    std::string file;
    int line = 0;
    std::string data;
};
std::optional<TOpenSslError> TakeOpenSslError();

}  // namespace tls
