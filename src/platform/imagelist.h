// A list of pictures, shared by components that show one of them by index.
#pragma once

#include <string>
#include <vector>

#include "platform/component.h"

namespace platform {

class ImageList : public Component {
  public:
    // The pictures, by resource name.
    std::vector<std::string> Images;
    int Count() const { return static_cast<int>(Images.size()); }
};

}  // namespace platform
