#include "core/assert.h"

#include "core/output.h"
#include "core/strings.h"
#include "core/system.h"
#include "data/param.h"
#include "platform/platform.h"

std::atomic<bool> s_IgnoreAsserts{false};

void AssertFailed(const char* expression, const char* file, int line) {
    if (s_IgnoreAsserts) return;
    if (BeforeBoxHook) BeforeBoxHook();
    if (AssertQuery(expression, file, line))
        Abortf("Assert(%s) failed in [%s, line %d].", expression, file, line);
}

int AssertFailedValue(const char* expression, const char* file, int line) {
    AssertFailed(expression, file, line);
    return 0;
}

bool AssertQuery(const char* expression, const char* file, int line) {
    if (assertquery.m_Value == 0) return true;
    char text[512];
    SafeSnprintf(text, sizeof text,
                 "Assertion %s failed on line %u of file %s.\n\n"
                 "Select Abort to abort the program now.\n"
                 "Select Retry to allow this assertion to pass just this one time.\n"
                 "Select Ignore to cause this assertion and all other assertions to be ignored.\n"
                 "\n"
                 "Please don't report any crash bugs associated with assertions being ignored.",
                 expression, static_cast<unsigned>(line), file);
    uint32_t style = plat::kBoxAbortRetryIgnore | plat::kBoxIconError | plat::kBoxTopmost;
    switch (s_System->MessageBox(text, nullptr, style)) {
        case plat::kIdRetry:
            return false;
        case plat::kIdIgnore:
            s_IgnoreAsserts = true;
            return false;
        default:  // Abort, or no box could be shown
            return true;
    }
}
