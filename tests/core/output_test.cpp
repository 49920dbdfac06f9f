// Diagnostic channels, the composed lines, thread names, the mirror log,
// the console's colour escapes, boxes and their hooks, and the fatal stop.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "core/assert.h"
#include "core/output.h"
#include "core/system.h"
#include "file/stream.h"
#include "platform/platform.h"
#include "support/capture_system.h"
#include "support/memory_device.h"

namespace {

typedef std::vector<std::string> Lines;

void PrintAt(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintHook(level, format, args);
    va_end(args);
}

Stream* OpenMemoryStream(const char* name) {
    s_MemoryFs.Reset();
    FileDevice* device = const_cast<FileDevice*>(&MemoryDevice);
    return Stream::AllocHandle(name, device->Create(name), device);
}

// Each hook appends an event with the boxes shown and breaks taken so far.
Lines g_Events;
void Record(const std::string& event) {
    const CaptureSystem& cap = *CaptureSystem::s_Active;
    g_Events.push_back(event + " boxes=" + std::to_string(cap.m_Boxes.size()) +
                       " breaks=" + std::to_string(cap.m_Breaks));
}

TEST(OutputChannels, MaskSelectsChannelsButNotDebugfOrFatal) {
    CaptureSystem cap;
    cap.m_DebuggerResumes = true;
    FatalBox = false;
    const struct {
        uint32_t mask;
        const char* lines;
    } cases[] = {{14, "P\nD\nWarning: W\nError: E\nG\nH\n"}, {0, "G\nH\n"}, {2, "P\nD\nG\nH\n"},
                 {4, "Warning: W\nG\nH\n"}, {8, "Error: E\nG\nH\n"}};
    for (const auto& c : cases) {
        cap.m_DebuggerLines.clear();
        OutputMask = c.mask;
        s_Quitting = false;  // one fatal stop per case
        Printf("P");
        Displayf("D");
        Warningf("W");
        Errorf("E");
        Debugf(0, "zero");
        Debugf(-1, "negative");
        Debugf(1, "G");
        Debugf(9, "%c", 'H');
        Quitf("F");
        std::string all;
        for (const std::string& line : cap.m_DebuggerLines) all += line;
        EXPECT_EQ(c.lines + std::string("Fatal Error: F\n"), all) << "mask " << c.mask;
    }
    EXPECT_TRUE(cap.m_Boxes.empty());  // no box unless asked for
    EXPECT_EQ(5, cap.m_Breaks);
    EXPECT_TRUE(cap.m_EndStatuses.empty());  // the debugger resumed every time
}

TEST(OutputLines, PrefixesColoursNamesCutsAndMirror) {
    CaptureSystem cap;
    Stream* log = OpenMemoryStream("mirror.log");
    ASSERT_NE(nullptr, log);
    LogStream = log;
    ThreadNames[0] = {0, "nobody: "};  // thread ids are never 0
    ThreadNames[1] = {plat::ThreadId(), "main: "};
    ThreadNames[2] = {plat::ThreadId(), "shadowed: "};
    ThreadNameCount = 1;  // entries past the count are not looked at
    Printf("%s", std::string(600, 'a').c_str());
    Errorf("Cannot create name file '%s'", "out.txt");
    ThreadNameCount = 3;
    Warningf("x");
    PrintAt(0, "raw %d", 5);
    EXPECT_EQ((Lines{std::string(487, 'a') + "\n", "Error: Cannot create name file 'out.txt'\n",
                     "main: Warning: x\n", "raw 5"}),
              cap.m_DebuggerLines);
    EXPECT_EQ(std::string(487, 'a') + "<7>\n<12>Error: Cannot create name file 'out.txt'<7>\n" +
                  "main: <14>Warning: x<7>\nraw 5",
              cap.m_Console);
    // The mirror gets the bare messages, flushed as they come.
    EXPECT_EQ(std::string(487, 'a') + "\nCannot create name file 'out.txt'\nx\nraw 5\n",
              s_MemoryFs.Text("mirror.log"));
    LogStream = nullptr;
    log->Close();

    // A long name and a full message overflow the 511-character lines.
    const std::string name(30, 'n');
    ThreadNames[1].m_Name = name.c_str();
    const size_t console = cap.m_Console.size();
    Errorf("%s", std::string(600, 'm').c_str());
    EXPECT_EQ(name + "Error: " + std::string(474, 'm'), cap.m_DebuggerLines.back());
    EXPECT_EQ(name + "<12>Error: " + std::string(469, 'm'), cap.m_Console.substr(console));
}

// On a pipe standard output is fully buffered: a line that is not flushed
// whole, line end included, keeps a reader (a script waiting for the file
// host's port) waiting until the next message.
TEST(OutputLines, EachLineIsFlushedWithItsLineEnd) {
    CaptureSystem cap;
    cap.m_DebuggerResumes = true;
    FatalBox = false;
    void (*const channels[])() = {[] { Printf("p"); }, [] { Displayf("d"); },
                                  [] { Warningf("w"); }, [] { Errorf("e"); },
                                  [] { Quitf("q"); },    [] { PrintAt(0, "raw"); }};
    for (auto channel : channels) {
        const size_t before = cap.m_Console.size();
        channel();
        EXPECT_LT(before, cap.m_Console.size());
        EXPECT_EQ(cap.m_Console.size(), cap.m_FlushedUpTo) << cap.m_Console.substr(before);
    }
}

TEST(ConsoleColours, EscapesBecomeAttributes) {
    CaptureSystem cap;
    ConsolePrint("a\x1b[31mb\x1b[0mc");
    EXPECT_EQ("a<12>b<7>c", cap.m_Console);
    EXPECT_EQ((std::vector<int>{1, 2}), cap.m_FlushesAtAttribute);  // flushed before each

    const struct {
        const char* text;
        const char* console;
    } cases[] = {
        {"x\x1b[1;31my", "xy"},                // no separator: not a colour
        {"\x1bXq", "q"},                       // unknown escape drops one character
        {"\x1b[39m|\x1b[30m|\x1b[40m", "||"},  // numbers outside the table
        {"\x1b\x1b[32m|\x1b[3\x1b[33mend\x1b", "<10>|<14>end"},  // an escape restarts
        {"\x1b[999999999999999999999999mafter\x1b[0m", "after<7>"},  // overflows any integer
        {"\x1b[0m\x1b[31m\x1b[32m\x1b[33m\x1b[34m\x1b[35m\x1b[36m\x1b[37m\x1b[38m",
         "<7><12><10><14><9><13><11><15><9>"},
    };
    for (const auto& c : cases) {
        cap.m_Console.clear();
        ConsolePrint(c.text);
        EXPECT_EQ(c.console, cap.m_Console) << "for " << c.text;
    }
}

TEST(OutputBoxes, HooksBoxesAndTheFatalStopInOrder) {
    CaptureSystem cap;
    ErrorBox = true;
    Stream* pending = OpenMemoryStream("pending.dat");
    ASSERT_NE(nullptr, pending);
    ASSERT_EQ(3, pending->Write("abc", 3));  // still in the buffer
    g_Events.clear();
    BeforeBoxHook = [] { Record("before"); };
    AfterErrorBoxHook = [] { Record("after"); };
    ConsoleHook = [](const char* text) {
        Record(text);
        ConsolePrint(text);
    };
    FatalHook = [](const char* message) { Printf("fatal hook: %s", message); };  // may print
    QuitHook = [] {
        Record("quit hook, files open=" + std::to_string(s_MemoryFs.m_Handles.size()));
        Quitf("again");  // fatal calls during the stop return at once
        Abortf("again");
    };
    Warningf("warn");
    Errorf("disk %s", "full");
    Quitf("disk %s", "gone");
    EXPECT_EQ((Lines{"\x1b[33mWarning: warn\x1b[0m\n boxes=0 breaks=0", "before boxes=0 breaks=0",
                     "after boxes=1 breaks=0", "\x1b[31mError: disk full\x1b[0m\n boxes=1 breaks=0",
                     "before boxes=1 breaks=0",
                     "\x1b[31mFatal Error: disk gone\x1b[0m\n boxes=2 breaks=0",
                     "fatal hook: disk gone\x1b[0m\n boxes=2 breaks=0",
                     "quit hook, files open=1 boxes=2 breaks=0",
                     "closing 'pending.dat'\x1b[0m\n boxes=2 breaks=0"}),
              g_Events);
    std::string boxes;
    for (const BoxRecord& box : cap.m_Boxes)
        boxes += box.m_Caption + box.m_Text + " style=" + std::to_string(box.m_Style) + "\n";
    EXPECT_EQ("Error: disk full style=16\nFatal Error: disk gone style=16\n", boxes);
    EXPECT_EQ("abc", s_MemoryFs.Text("pending.dat"));
    EXPECT_TRUE(s_MemoryFs.m_Handles.empty());
    EXPECT_EQ(1, cap.m_Breaks);
    EXPECT_EQ((std::vector<int>{kFatalExitStatus}), cap.m_EndStatuses);
}

#if GTEST_HAS_DEATH_TEST
TEST(FatalStopDeathTest, NullFormatExitsWithZeroAndARealStopWithFatalStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Quitf(static_cast<const char*>(nullptr)), ::testing::ExitedWithCode(0), "");
    // No real message box: on some systems it would wait for a person.
    EXPECT_EXIT((FatalBox = false, Quitf("real stop")),
                ::testing::ExitedWithCode(kFatalExitStatus), "");
}

// The log's device fails an assertion, as a remote log whose host sends a
// faulty reply does, while the message is being mirrored: the fatal message
// that follows must still be shown and the process must stop.
int32_t AssertingWrite(int32_t, const void*, int32_t) {
    Assert(!"a faulty reply");
    return -1;
}

void MirrorIntoAFailingLog() {
    static CoreSystem system = s_PlatformSystem;  // the console on standard error,
    system.ConsoleChar = [](int c) { fputc(c, stderr); };  // where the test reads it
    system.ConsoleFlush = [] { fflush(stderr); };
    s_System = &system;
    FatalBox = false;
    static FileDevice device = MemoryDevice;
    device.Write = AssertingWrite;
    LogStream = Stream::AllocHandle("log", device.Create("log"), &device);
    Printf("to the log");
}

TEST(FatalStopDeathTest, AFatalStopWhileMirroringToTheLogIsShownAndStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(MirrorIntoAFailingLog(), ::testing::ExitedWithCode(kFatalExitStatus),
                "Fatal Error: Assert.*a faulty reply");
}
#endif

}  // namespace
