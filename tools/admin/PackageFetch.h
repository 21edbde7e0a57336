// Fetching a published package as an agent would: the project's download client into a
// temporary folder of the tool's own, removed afterwards.
#pragma once

#include <string>

namespace admin {

// A new folder under the system's temporary folder, removed with its files at the end.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    // With the trailing separator.
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Downloads `url` into `folder` and gives the file's path. Raises platform::Exception
// naming the link and the cause (the server's status, the socket's error) when no whole
// file arrived.
std::string FetchPackage(const std::string& url, const TemporaryFolder& folder);

// The last segment of the URL's path (without query or fragment), percent-decoded: the
// file name a package is given when none is named.
std::string FileNameOfUrl(const std::string& url);

// A link the agent can fetch: http:// or https://, with a host, and no control character.
// Raises platform::Exception saying what is wrong otherwise.
void ValidateLink(const std::string& url);

}  // namespace admin
