// Named settings, the argument table and debug levels derived from it.
#pragma once

#include <cstdint>

class HashTable;

// A setting with a name and a 32-bit value, entered in s_ParamList when it is
// constructed. How a value gets set is up to the program that embeds the
// library; m_Data is kept for it and read by nothing here.
class Param {
public:
    Param(int32_t data, const char* name, const char* description);

    const char* m_Name;
    const char* m_Description;
    int32_t m_Value;
    int32_t m_Data;
    Param* m_Next;
};

// The newest setting; each links to the one constructed before it.
extern Param* s_ParamList;
// Non-zero shows the Abort/Retry/Ignore dialog for failed assertions.
extern Param assertquery;

// One named argument's values, first value first.
struct ArgEntry {
    uint32_t m_NumValues;
    char** m_Values;
};

// Argument name -> ArgEntry*. Whoever fills it (a command line parser, say)
// stores one ArgEntry per name.
extern HashTable s_ArgTable;

// Sets *level from the argument of that name, or to 1 for "allDebug";
// leaves it alone when neither is present.
void GetDebugLevel(const char* name, int32_t* level);
