// A named pipe as a created file: it cannot be truncated, so it is written
// as it is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

TEST(PlatformFiles, CreateWritesIntoANamedPipe) {
    TempDir temp;
    const std::string pipe = temp.Path("pipe");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    // The reader is there first, so that nothing waits.
    int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    int32_t h = plat::FileCreate(pipe.c_str());
    ASSERT_GE(h, 0);
    EXPECT_EQ(6, plat::FileWrite(h, "sorted", 6));
    EXPECT_EQ(0, plat::FileClose(h));
    char got[16] = {};
    EXPECT_EQ(6, read(reader, got, sizeof got));
    EXPECT_STREQ("sorted", got);
    close(reader);
}

}  // namespace
