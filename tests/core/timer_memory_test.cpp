#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/output.h"
#include "core/strings.h"
#include "core/timer.h"
#include "platform/platform.h"
#include "support/capture_system.h"

namespace {

TEST(Timer, CalibratesOnceAndMeasuresAcrossTheTickWrap) {
    Timer first;
    ASSERT_GT(MsPerTick, 0.0f);
    EXPECT_FLOAT_EQ(SecsPerTick, MsPerTick * 0.001f);
    float calibrated = MsPerTick;
    // A counter of stated rate is taken at its word: no measuring, no sleep.
    if (plat::TickFrequency() > 0) {
        EXPECT_FLOAT_EQ(MsPerTick, 1000.0f / plat::TickFrequency());
    }
    Timer second;
    EXPECT_EQ(MsPerTick, calibrated);

    SleepMs(30);
    EXPECT_GE(second.ElapsedMs(), 25.0f);
    EXPECT_GE(second.ElapsedSecs(), 0.025f);

    // Started 4000 ticks before the counter wrapped, read 96 ticks after.
    Timer wrapped;
    wrapped.m_Start = 0xFFFFFFFFu - 3999u;
    EXPECT_FLOAT_EQ(wrapped.ElapsedMs(96u), 4096 * MsPerTick);
    EXPECT_FLOAT_EQ(wrapped.ElapsedSecs(96u), 4096 * SecsPerTick);
}

TEST(Timer, MillisecondClockAdvances) {
    uint32_t before = GetTimeMs();
    SleepMs(30);
    EXPECT_GE(GetTimeMs() - before, 25u);
}

TEST(Temporary, NestsEightDeepAndRestoresTheStateWords) {
    CaptureSystem system;
    s_AllocState[0] = 11;
    s_AllocState[1] = 12;
    BeginTemporary();
    EXPECT_EQ(s_AllocState[0], 0u);
    s_AllocState[0] = 21;
    for (int i = 1; i < 8; ++i) BeginTemporary();
    EXPECT_EQ(s_Temporary, 8);
    EXPECT_TRUE(system.m_Console.empty());

    BeginTemporary();  // the ninth
    EXPECT_EQ(s_Temporary, 8);
    EXPECT_NE(system.m_Console.find("Fatal Error: Assert(s_Temporary < 8) failed in [memory.cpp"),
              std::string::npos);

    for (int i = 1; i < 8; ++i) EndTemporary();
    EXPECT_EQ(s_AllocState[0], 21u);
    EndTemporary();
    EXPECT_EQ(s_Temporary, 0);
    EXPECT_EQ(s_AllocState[0], 11u);
    EXPECT_EQ(s_AllocState[1], 12u);

    s_Quitting = s_Aborted = false;
    system.m_Console.clear();
    EndTemporary();  // without a begin
    EXPECT_EQ(s_Temporary, 0);
    EXPECT_EQ(s_AllocState[0], 11u);
    EXPECT_NE(system.m_Console.find("Assert(s_Temporary) failed"), std::string::npos);
    s_AllocState[0] = s_AllocState[1] = 0;
}

TEST(LowerPath, LowersAsciiAndTurnsSlashesInPlaceOrNot) {
    char out[32];
    LowerPath(out, "D:/Data/File.TXT");
    EXPECT_STREQ(out, "d:\\data\\file.txt");
    char same[] = "A/\xC9\xE9Z@[";
    LowerPath(same, same);
    EXPECT_STREQ(same, "a\\\xC9\xE9z@[");
}

}  // namespace
