#include "admin/PackageFetch.h"

#include <filesystem>
#include <random>

#include "agent/PackageName.h"
#include "download/Downloader.h"
#include "download/NetUtil.h"
#include "platform/exception.h"
#include "platform/fs.h"

namespace admin {

namespace {

constexpr const char* kFileName = "pacote";

std::string Utf8(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path FromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    if (error) throw platform::Exception("Sem pasta temporária: " + error.message());
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = base / ("travik-publish-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = platform::fs::IncludeTrailingPathDelimiter(Utf8(candidate));
            return;
        }
    }
    throw platform::Exception("Não foi possível criar uma pasta em " + Utf8(base) + ": " +
                              error.message());
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FromUtf8(path_), ignored);
}

std::string FetchPackage(const std::string& url, const TemporaryFolder& folder) {
    download::TDownloader downloader;
    downloader.SetProtocolo(download::protHTTP);
    downloader.SetSizeRecvBuffer(0);
    downloader.SetDownloadDest(folder.Path());
    downloader.SetDownloadUrl(url);
    downloader.SetDownloadNomeArq(kFileName);
    downloader.StartDownload();
    const std::string file = folder.Path() + kFileName;
    if (platform::fs::FileExists(file)) return file;

    // The download's own account of the failure: the server's status, or the connection's
    // error, with the URL (without a user or password).
    throw platform::Exception(
        "Não foi possível baixar o pacote: " + downloader.Down().FailureText() +
        ". Confira o link e o servidor web.");
}

std::string FileNameOfUrl(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const auto scheme = path.find("://");
    const auto start = scheme == std::string::npos ? 0 : scheme + 3;
    const auto slash = path.find('/', start);
    if (slash == std::string::npos) return std::string();
    return download::PercentDecode(path.substr(path.rfind('/') + 1));
}

void ValidateLink(const std::string& url) {
    agent::ValidatePackageLink(url);
    const bool http = StartsWithNoCase(url, "http://");
    const bool https = StartsWithNoCase(url, "https://");
    const std::string rest = url.substr(http ? 7 : https ? 8 : 0);
    if ((!http && !https) || rest.empty() || rest.front() == '/' ||
        rest.find(' ') != std::string::npos)
        throw platform::Exception("Link inválido: \"" + url +
                                  "\". O agente baixa por http:// ou https://, de um endereço "
                                  "com servidor e sem espaços.");
}

}  // namespace admin
