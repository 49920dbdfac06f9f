// Whole load dumps through the tool, held against the plain reading of the
// grouping rules: the sorted file must be the one the rules give, byte for
// byte, so every group, entry and note parses back as the rules made it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/assert.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/reference_grouping.h"
#include "tool/segsorter.h"

static CaptureSystem* s_Capture;

static void Fail(const char* what, const std::string& dump) {
    fprintf(stderr, "dump_fuzz: %s (dump of %zu bytes)\n", what, dump.size());
    abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // kept for the whole run: nothing reaches the console
    s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&MemoryDevice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    s_MemoryFs.Reset();
    s_Capture->m_Console.clear();
    s_Capture->m_DebuggerLines.clear();
    std::string dump(reinterpret_cast<const char*>(data), size);
    s_MemoryFs.m_Files["dump"].assign(data, data + size);
    if (ProcessDump("dump", "sorted", nullptr) != 1) Fail("the run failed", dump);
    if (s_MemoryFs.Text("sorted") != Reference(dump)) Fail("the sorted file differs", dump);
    for (const Stream& s : s_StreamTable)
        if (s.m_Device) Fail("a stream was left open", dump);
    if (!s_Capture->m_Boxes.empty()) Fail("an assertion fired", dump);
    return 0;
}
