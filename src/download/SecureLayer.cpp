#include "download/SecureLayer.h"

#include "download/SecureLayerOpenSsl.h"
#include "download/SecureLayerSystem.h"

namespace download {

// The system's own TLS where the platform has one (Windows), so no library has to be
// shipped; else OpenSSL, loaded at run time.
std::unique_ptr<TSecureLayer> NewSecureLayer() {
    if (platform::SecureChannel::Available()) return std::make_unique<TSecureLayerSystem>();
    return std::make_unique<TSecureLayerOpenSsl>();
}

}  // namespace download
