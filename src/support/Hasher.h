// The hash components: THashComponent carries the set's version, THasher is the
// abstract hasher whose operations a concrete algorithm overrides.
#pragma once

#include <cstddef>
#include <string>

#include "platform/component.h"
#include "platform/stream.h"

namespace support {

class THashComponent : public platform::Component {
  public:
    static constexpr const char* kVersion = "1.0";
    std::string Version() const { return kVersion; }
};

class THasher : public THashComponent {
  public:
    // Each raises EAbstractError here.
    virtual void HashBuffer(const void* buffer, std::size_t size);
    virtual void HashFile(const std::string& fileName);
    // From the stream's current position to its end.
    virtual void HashStream(platform::Stream& stream);
    // The text's bytes as the program holds them (UTF-8).
    virtual void HashString(const std::string& text);
};

}  // namespace support
