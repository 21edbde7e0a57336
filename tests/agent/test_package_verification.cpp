// The package verification loop over a simulated package file.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/PackageVerification.h"

namespace {

// One package path: its contents (a digest stands for them), whether deleting works,
// and what each download puts there.
struct FakePackage {
    std::optional<std::string> file;
    bool deletable = true;
    std::vector<std::optional<std::string>> served;  // per download; the last one repeats
    int downloads = 0;
    int deletions = 0;

    agent::TPackageFiles Files() {
        return {
            .Exists = [this] { return file.has_value(); },
            .Digest = [this] { return *file; },
            .Delete =
                [this] {
                    ++deletions;
                    if (deletable) file.reset();
                },
            .Download =
                [this] {
                    const auto& next = served[std::min<std::size_t>(downloads, served.size() - 1)];
                    ++downloads;
                    if (next) file = next;
                },
        };
    }
};

const std::string kGood = "0CC175B9C0F1B6A831C399E269772661";

TEST(PackageVerification, KeepsAMatchingFileWithoutDownloading) {
    FakePackage p{.file = kGood, .served = {std::nullopt}};
    EXPECT_TRUE(agent::ObtainPackage("0cc175b9c0f1b6a831c399e269772661", p.Files()));
    EXPECT_EQ(p.downloads, 0);
    EXPECT_EQ(p.deletions, 0);
}

TEST(PackageVerification, ReplacesAMismatchingFile) {
    FakePackage p{.file = "OLD", .served = {kGood}};
    EXPECT_TRUE(agent::ObtainPackage(kGood, p.Files()));
    EXPECT_EQ(p.downloads, 1);
    EXPECT_EQ(p.deletions, 1);
}

TEST(PackageVerification, GoodOnTheThirdDownload) {
    FakePackage p{.served = {std::string("BAD1"), std::nullopt, kGood}};
    EXPECT_TRUE(agent::ObtainPackage(kGood, p.Files()));
    EXPECT_EQ(p.downloads, 3);
    EXPECT_EQ(p.deletions, 1);
}

TEST(PackageVerification, ThreeWrongDownloadsAreDeletedAndFail) {
    FakePackage p{.served = {std::string("BAD")}};
    EXPECT_FALSE(agent::ObtainPackage(kGood, p.Files()));
    EXPECT_EQ(p.downloads, 3);
    EXPECT_EQ(p.deletions, 3);
    EXPECT_FALSE(p.file.has_value());
}

TEST(PackageVerification, NoFileAfterEachDownloadFailsAfterThree) {
    FakePackage p{.served = {std::nullopt}};
    EXPECT_FALSE(agent::ObtainPackage(kGood, p.Files()));
    EXPECT_EQ(p.downloads, 3);
}

TEST(PackageVerification, UndeletableMismatchingFileEndsTheLoop) {
    FakePackage p{.file = "BAD", .deletable = false, .served = {kGood}};
    EXPECT_FALSE(agent::ObtainPackage(kGood, p.Files()));
    EXPECT_EQ(p.downloads, 0);  // the file that stays blocks every download
    EXPECT_LE(p.deletions, 4);
}

TEST(PackageVerification, UndeletableFetchedFileEndsTheLoop) {
    FakePackage p{.served = {std::string("BAD")}};
    agent::TPackageFiles files = p.Files();
    files.Delete = [&p] { ++p.deletions; };  // the fetched file stays
    EXPECT_FALSE(agent::ObtainPackage(kGood, files));
    EXPECT_EQ(p.downloads, 1);
    EXPECT_LE(p.deletions, 4);
}

TEST(PackageVerification, EmptyStoredDigestNeverPasses) {
    FakePackage p{.served = {std::nullopt}};
    EXPECT_FALSE(agent::ObtainPackage("", p.Files()));
    EXPECT_EQ(p.downloads, 3);
}

TEST(PackageVerification, DigestsDifferingInMoreThanCaseMismatch) {
    EXPECT_TRUE(agent::DigestsMatch("abcdef", "ABCDEF"));
    EXPECT_FALSE(agent::DigestsMatch(kGood + " ", kGood));
    EXPECT_FALSE(agent::DigestsMatch(kGood.substr(1), kGood));
}

TEST(PackageVerification, DownloadErrorsPropagate) {
    FakePackage p{.served = {std::nullopt}};
    agent::TPackageFiles files = p.Files();
    files.Download = [] { throw std::runtime_error("transfer failed"); };
    EXPECT_THROW(agent::ObtainPackage(kGood, files), std::runtime_error);
}

}  // namespace
