#include "support/Hasher.h"

#include "platform/exception.h"

namespace support {

void THasher::HashBuffer(const void*, std::size_t) {
    throw platform::EAbstractError();
}
void THasher::HashFile(const std::string&) {
    throw platform::EAbstractError();
}
void THasher::HashStream(platform::Stream&) {
    throw platform::EAbstractError();
}
void THasher::HashString(const std::string&) {
    throw platform::EAbstractError();
}

}  // namespace support
