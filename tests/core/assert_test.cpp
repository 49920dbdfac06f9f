// Failed assertions: the dialog and its answers, the fatal line, and what
// happens after the program has been stopped once.
#include <gtest/gtest.h>

#include <string>

#include "core/assert.h"
#include "core/output.h"
#include "platform/platform.h"
#include "support/capture_system.h"
#include "data/param.h"

namespace {

TEST(Assertions, DialogRetryPassesOnceAndIgnoreSilencesTheRest) {
    CaptureSystem cap;
    assertquery.m_Value = 1;
    cap.m_BoxAnswers = {plat::kIdRetry, plat::kIdIgnore};
    int n = 3;
    const int line = __LINE__ + 1;
    Assert(n % 2 == 0);
    ASSERT_EQ(1u, cap.m_Boxes.size());
    EXPECT_EQ("Assertion n % 2 == 0 failed on line " + std::to_string(line) +
                  " of file assert_test.cpp.\n\nSelect Abort to abort the program now.\n"
                  "Select Retry to allow this assertion to pass just this one time.\n"
                  "Select Ignore to cause this assertion and all other assertions to be ignored.\n"
                  "\nPlease don't report any crash bugs associated with assertions being ignored.",
              cap.m_Boxes[0].m_Text);
    EXPECT_EQ("<null>", cap.m_Boxes[0].m_Caption);
    EXPECT_EQ(0x40012u, cap.m_Boxes[0].m_Style);
    EXPECT_EQ(0, AssertFailedValue("asked again", "here.cpp", 77));
    EXPECT_EQ(2u, cap.m_Boxes.size());
    Assert(n == 4);
    EXPECT_EQ(0, Verify(n == 5));
    EXPECT_EQ(1, Verify(n == 3));
    EXPECT_EQ(2u, cap.m_Boxes.size());
    EXPECT_TRUE(cap.m_Console.empty());
    EXPECT_EQ(0, cap.m_Breaks);
}

// Without a dialog, or when it answers Abort or is not shown, a failure stops
// the program; later failures print nothing, but a dialog still asks.
TEST(Assertions, AFailureStopsOnceAndLaterOnesOnlyAsk) {
    const struct {
        int32_t query, answer;
    } cases[] = {{0, 0}, {1, plat::kIdAbort}, {-1, plat::kNoBox}, {1, plat::kIdOk}};
    for (const auto& c : cases) {
        CaptureSystem cap;
        cap.m_DebuggerResumes = true;
        assertquery.m_Value = c.query;
        cap.m_BoxAnswers = {c.answer, c.answer};
        const size_t dialogs = c.query != 0;
        AssertFailed("ready", "loader.cpp", 12);
        const std::string printed =
            "<12>Fatal Error: Assert(ready) failed in [loader.cpp, line 12].<7>\n";
        EXPECT_EQ(printed, cap.m_Console) << "query " << c.query << ", answer " << c.answer;
        EXPECT_EQ(1 + dialogs, cap.m_Boxes.size());
        AssertFailed("again", "loader.cpp", 13);
        EXPECT_EQ(printed, cap.m_Console);
        EXPECT_EQ(1 + 2 * dialogs, cap.m_Boxes.size());
        EXPECT_EQ(1, cap.m_Breaks);
    }
}

}  // namespace
