// Creating a file that must be new: it is made empty, and an existing file is left alone.
#include <gtest/gtest.h>

#include "platform/exception.h"
#include "platform/fs.h"
#include "testsupport/testsupport.h"

using namespace platform::fs;
using testsupport::TempDir;

TEST(FileSystemCreateNew, MakesAnEmptyFileAndNeverTouchesAnExistingOne) {
    TempDir dir;
    {
        FileStream f(dir / "new", OpenMode::CreateNew, ShareMode::Exclusive);
        EXPECT_EQ(f.Size(), 0);
        f.Write("abc", 3);
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "new"), "abc");
    EXPECT_THROW(FileStream(dir / "new", OpenMode::CreateNew, ShareMode::Exclusive),
                 platform::EFCreateError);
    EXPECT_EQ(testsupport::ReadFile(dir / "new"), "abc");
}
