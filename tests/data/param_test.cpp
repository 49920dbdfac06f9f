#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/assetpath.h"
#include "data/hash.h"
#include "data/param.h"
#include "support/capture_system.h"

namespace {

TEST(Param, SettingsJoinTheListNewestFirst) {
    Param* before = s_ParamList;
    bool found = false;
    for (Param* p = s_ParamList; p; p = p->m_Next)
        if (p == &assertquery) found = true;
    EXPECT_TRUE(found);
    EXPECT_STREQ(assertquery.m_Name, "assertquery");
    EXPECT_STREQ(assertquery.m_Description, "[core] Ask before aborting due to assertion failure");
    EXPECT_EQ(assertquery.m_Value, 0);
    {
        Param a(7, "a", "first");
        Param b(8, "b", "second");
        EXPECT_EQ(s_ParamList, &b);
        EXPECT_EQ(b.m_Next, &a);
        EXPECT_EQ(a.m_Next, before);
        EXPECT_EQ(a.m_Data, 7);
        EXPECT_EQ(a.m_Value, 0);
    }
    s_ParamList = before;  // the locals are gone; the list only ever grows in real use
}

// Puts arguments into the global table for one test and takes them out again.
class ArgumentTest : public ::testing::Test {
protected:
    void Add(const char* name, std::initializer_list<const char*> values) {
        Entry& e = m_Entries[m_Count++];
        for (const char* v : values) e.m_Texts[e.m_Entry.m_NumValues++] = const_cast<char*>(v);
        e.m_Entry.m_Values = e.m_Texts;
        ASSERT_TRUE(s_ArgTable.Insert(name, &e.m_Entry));
        m_Names.push_back(name);
    }
    void TearDown() override {
        for (const char* name : m_Names) s_ArgTable.Remove(name);
        s_AssetDebug = 0;
    }
    struct Entry {
        ArgEntry m_Entry = {0, nullptr};
        char* m_Texts[2];
    };
    Entry m_Entries[4];
    int m_Count = 0;
    std::vector<const char*> m_Names;
    CaptureSystem m_System;
};

TEST_F(ArgumentTest, DebugLevelsComeFromTheArgumentTable) {
    EXPECT_NE(s_HashTables, nullptr);
    int32_t level = -7;
    GetDebugLevel("assetDebug", &level);
    EXPECT_EQ(level, -7);

    Add("allDebug", {"5"});
    GetDebugLevel("assetDebug", &level);
    EXPECT_EQ(level, 1);  // allDebug turns levels on but never gives a number

    Add("assetDebug", {" -3x", "9"});
    GetDebugLevel("assetDebug", &level);
    EXPECT_EQ(level, -3);

    Add("plain", {});
    GetDebugLevel("plain", &level);
    EXPECT_EQ(level, 1);
}

TEST_F(ArgumentTest, AssetPathIsNormalisedAndFitsItsBuffer) {
    struct Case {
        std::string m_In, m_Out;
    } cases[] = {
        {"data/levels", "data\\levels\\"},
        {"data\\", "data\\"},
        {"", ""},
        {std::string(254, 'p') + "/" + std::string(45, 'q'), std::string(254, 'p') + "\\"},
        {std::string(300, 'a'), std::string(254, 'a') + "\\"},
    };
    for (const Case& c : cases) {
        datAssetManager::SetPath(c.m_In.c_str());
        EXPECT_EQ(std::string(s_AssetPath), c.m_Out) << c.m_In;
    }
    EXPECT_TRUE(m_System.m_Console.empty());  // no trace line at debug level 0

    Add("assetDebug", {"2"});
    datAssetManager::SetPath("");
    EXPECT_EQ(s_AssetDebug, 2);
    EXPECT_EQ(m_System.m_Console, "datAssetManager::SetPath()<7>\n");
}

}  // namespace
