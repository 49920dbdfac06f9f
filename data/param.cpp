#include "data/param.h"

#include <cstdlib>

#include "data/hash.h"

Param* s_ParamList = nullptr;

Param::Param(int32_t data, const char* name, const char* description)
    : m_Name(name), m_Description(description), m_Value(0), m_Data(data), m_Next(s_ParamList) {
    s_ParamList = this;
}

void GetDebugLevel(const char* name, int32_t* level) {
    if (!s_ArgTable.Lookup(name) && !s_ArgTable.Lookup("allDebug")) return;
    *level = 1;
    const ArgEntry* entry = static_cast<const ArgEntry*>(s_ArgTable.Lookup(name));
    if (entry && entry->m_NumValues >= 1) *level = atoi(entry->m_Values[0]);
}
