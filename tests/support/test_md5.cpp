#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/exception.h"
#include "platform/fs.h"
#include "support/FileDigests.h"
#include "support/MD5Hasher.h"
#include "testsupport/testsupport.h"

using support::TMD5Digest;
using support::TMD5Hasher;
using testsupport::TempDir;

namespace {

std::string DigestOf(TMD5Hasher& hasher) {
    TMD5Digest digest;
    hasher.GetDigest(digest);
    return support::DigestToHex(digest);
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The digest that the system's md5sum computes, in upper case.
std::string Md5sum(const std::string& path) {
    const auto result = testsupport::Run({.argv = {"md5sum", "-b", path}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return Upper(result.out.substr(0, 32));
}

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return data;
}

const std::vector<std::pair<std::string, std::string>> kRfc1321Suite = {
    {"", "D41D8CD98F00B204E9800998ECF8427E"},
    {"a", "0CC175B9C0F1B6A831C399E269772661"},
    {"abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "D174AB98D277D9F5A5611C2C9F419D9F"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57EDF4A22BE3C955AC49DA2E2107B67A"},
};

}  // namespace

TEST(MD5Hasher, Rfc1321SuiteAsTextsBuffersAndFiles) {
    TempDir dir;
    TMD5Hasher hasher;
    for (const auto& [message, expected] : kRfc1321Suite) {
        hasher.HashString(message);
        EXPECT_EQ(DigestOf(hasher), expected) << '"' << message << '"';
        hasher.HashBuffer(message.data(), message.size());
        EXPECT_EQ(DigestOf(hasher), expected);
        const std::string path = dir / "m";
        testsupport::WriteFile(path, message);
        hasher.HashFile(path);
        EXPECT_EQ(DigestOf(hasher), expected);
    }
}

TEST(MD5Hasher, FilesAroundBlockAndBufferBoundariesMatchMd5sum) {
    TempDir dir;
    TMD5Hasher hasher;
    const std::size_t buffer = TMD5Hasher::kBufferSize;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{55}, std::size_t{56}, std::size_t{63}, std::size_t{64},
          std::size_t{65}, std::size_t{119}, std::size_t{120}, std::size_t{1024}, std::size_t{1025},
          buffer - 1, buffer, buffer + 1, 3 * buffer + 17}) {
        const std::string path = dir / ("f" + std::to_string(size));
        testsupport::WriteFile(path, Pattern(size));
        hasher.HashFile(path);
        EXPECT_EQ(DigestOf(hasher), Md5sum(path)) << size << " bytes";
    }
}

TEST(MD5Hasher, PiecewiseFeedingGivesTheSameDigestAsOneBlock) {
    const std::string data = Pattern(300);
    support::Md5 whole;
    whole.Update(data.data(), data.size());
    const TMD5Digest expected = whole.Final();
    for (std::size_t piece : {1, 3, 7, 63, 64, 65, 129}) {
        support::Md5 md5;
        for (std::size_t at = 0; at < data.size(); at += piece)
            md5.Update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(md5.Final(), expected) << "pieces of " << piece;
    }
}

TEST(MD5Hasher, StreamIsHashedFromItsCurrentPosition) {
    TempDir dir;
    testsupport::WriteFile(dir / "f", "xyzabc");
    platform::fs::FileStream stream(dir / "f", platform::fs::OpenMode::Read,
                                    platform::fs::ShareMode::DenyNone);
    stream.Seek(3, platform::SeekOrigin::Begin);
    TMD5Hasher hasher;
    hasher.HashStream(stream);
    EXPECT_EQ(DigestOf(hasher), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(MD5Hasher, FileHeldOpenForWritingElsewhereCanBeHashed) {
    TempDir dir;
    const std::string path = dir / "growing";
    testsupport::WriteFile(path, "");
    const int writer = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "abc", 3), 3);
    platform::fs::FileStream shared(path, platform::fs::OpenMode::ReadWrite,
                                    platform::fs::ShareMode::DenyNone);
    TMD5Hasher hasher;
    hasher.HashFile(path);
    EXPECT_EQ(DigestOf(hasher), "900150983CD24FB0D6963F7D28E17F72");
    ::close(writer);
}

TEST(MD5Hasher, MissingFileRaisesTheOpenErrorAndKeepsTheLastDigest) {
    TempDir dir;
    TMD5Hasher hasher;
    hasher.HashString("abc");
    try {
        hasher.HashFile(dir / "missing.zip");
        FAIL() << "no error";
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot open file \"" + (dir / "missing.zip") + "\". No such file or directory");
    }
    EXPECT_EQ(DigestOf(hasher), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(MD5Hasher, TheAbstractHasherRefusesEveryOperation) {
    support::THasher hasher;
    TempDir dir;
    EXPECT_THROW(hasher.HashString("a"), platform::EAbstractError);
    EXPECT_THROW(hasher.HashBuffer("a", 1), platform::EAbstractError);
    EXPECT_THROW(hasher.HashFile(dir / "x"), platform::EAbstractError);
}

TEST(DigestFile, BothDigestsInOnePassMatchMd5sumAndSha256sum) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{0}, TMD5Hasher::kBufferSize + 7}) {
        const std::string path = dir / "pacote.zip";
        testsupport::WriteFile(path, Pattern(size));
        const support::FileDigests digests = support::DigestFile(path);
        const auto sha = testsupport::Run({.argv = {"sha256sum", "-b", path}});
        EXPECT_EQ(Upper(digests.md5), Md5sum(path));
        EXPECT_EQ(digests.sha256, sha.out.substr(0, 64));
    }
}
