#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/exception.h"
#include "platform/fs.h"
#include "testsupport/testsupport.h"

using namespace platform::fs;
using testsupport::TempDir;

TEST(FileSystem, ForceDirectoriesCreatesEveryMissingLevel) {
    TempDir dir;
    const std::string deep = dir / "a/b/c";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep + "/"));  // existing, trailing separator
    testsupport::WriteFile(dir / "file", "x");
    EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
}

TEST(FileSystem, RenameRefusesAnExistingTargetReplaceDoesNot) {
    TempDir dir;
    testsupport::WriteFile(dir / "a", "A");
    testsupport::WriteFile(dir / "b", "B");
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(testsupport::ReadFile(dir / "b"), "B");
    EXPECT_TRUE(RenameReplacing(dir / "a", dir / "b"));
    EXPECT_EQ(testsupport::ReadFile(dir / "b"), "A");
    EXPECT_FALSE(FileExists(dir / "a"));
}

TEST(FileSystem, ExclusiveStreamsShutOutOtherStreams) {
    TempDir dir;
    const std::string path = dir / "f";
    {
        FileStream exclusive(path, OpenMode::Create, ShareMode::Exclusive);
        exclusive.Write("abc", 3);
        EXPECT_THROW(FileStream(path, OpenMode::Read, ShareMode::DenyNone), platform::EFOpenError);
        // A second create must neither succeed nor empty the file in use.
        EXPECT_THROW(FileStream(path, OpenMode::Create, ShareMode::Exclusive),
                     platform::EFCreateError);
        EXPECT_EQ(FileSize(path), 3);
    }
    FileStream shared1(path, OpenMode::Read, ShareMode::DenyNone);
    FileStream shared2(path, OpenMode::Read, ShareMode::DenyNone);
    EXPECT_THROW(FileStream(path, OpenMode::ReadWrite, ShareMode::Exclusive),
                 platform::EFOpenError);
    char buf[8];
    EXPECT_EQ(shared2.Read(buf, sizeof buf), 3u);
}

TEST(FileSystem, OpenErrorsNameTheFileAndTheSystemReason) {
    TempDir dir;
    try {
        FileStream f(dir / "missing", OpenMode::Read, ShareMode::DenyNone);
        FAIL();
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot open file \"" + (dir / "missing") + "\". No such file or directory");
    }
    try {
        FileStream f(dir / "no/dir/file", OpenMode::Create, ShareMode::Exclusive);
        FAIL();
    } catch (const platform::EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + (dir / "no/dir/file") +
                                   "\". No such file or directory");
    }
}

TEST(FileSystem, StreamPositionsAndSizes) {
    TempDir dir;
    FileStream f(dir / "f", OpenMode::Create, ShareMode::Exclusive);
    f.Write("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
    EXPECT_EQ(f.Seek(0, SeekOrigin::End), 10);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
    f.Seek(0, SeekOrigin::Begin);
    char buf[16];
    EXPECT_EQ(f.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(ExtractFileName("/a/b/c.zip"), "c.zip");
    EXPECT_EQ(ExtractFilePath("/a/b/c.zip"), "/a/b/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
}
