// The load dump a program records through the library: segments started by
// name.
#include <gtest/gtest.h>

#include <string>

#include "file/loaddump.h"
#include "support/capture_system.h"

namespace {

TEST(LoadSegment, NamesADumpCannotCarryWholeAreRefusedWithNothingWritten) {
    const std::string longest(kLongestSegmentName, 's');
    const struct {
        std::string m_Name;
        bool m_Started;
        const char* m_Said;
    } cases[] = {
        {longest, true, nullptr},
        {longest + "s", false, "Error: Segment 'ssss"},
        {"two\nlines", false, "Error: Segment 'two...'"},
        {"x)y", true, "Warning: Segment 'x)y' will be read back from a load dump as 'x'"},
    };
    for (const auto& c : cases) {
        CaptureSystem capture;
        EXPECT_EQ(c.m_Started, StartLoadSegment(c.m_Name.c_str())) << c.m_Name;
        const std::string& said = capture.m_Console;
        EXPECT_EQ(c.m_Started, said.find("::LOADSEG::(" + c.m_Name + ")") != std::string::npos) << said;
        EXPECT_EQ(c.m_Started, said.find("::LOADSEG::") != std::string::npos) << said;
        if (c.m_Said) EXPECT_NE(std::string::npos, said.find(c.m_Said)) << said;
        else EXPECT_EQ(std::string::npos, said.find("Error")) << said;
    }
}

}  // namespace
