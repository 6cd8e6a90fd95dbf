#include "sys/DynamicCalls.h"

#include <gtest/gtest.h>

#include "sys/Handles.h"

namespace {

// Every function of the table exists on every supported system and under Wine: a null entry here is a misspelt
// name, which would silently switch a feature to its fallback.
TEST(DynamicCalls, BindsEveryFunctionTheSystemHas) {
    const DynamicCalls& calls = Dynamic();
    const struct {
        const char* name;
        const void* entry;
    } entries[] = {
        {"SHDefExtractIconW", reinterpret_cast<const void*>(calls.shDefExtractIcon)},
        {"ILCreateFromPathW", reinterpret_cast<const void*>(calls.ilCreateFromPath)},
        {"PickIconDlg", reinterpret_cast<const void*>(calls.pickIconDlg)},
        {"IUnknown_QueryService", reinterpret_cast<const void*>(calls.queryService)},
        {"SetWindowSubclass", reinterpret_cast<const void*>(calls.setWindowSubclass)},
        {"GetWindowSubclass", reinterpret_cast<const void*>(calls.getWindowSubclass)},
        {"RemoveWindowSubclass", reinterpret_cast<const void*>(calls.removeWindowSubclass)},
        {"DefSubclassProc", reinterpret_cast<const void*>(calls.defSubclassProc)},
        {"GdipAddPathArc", reinterpret_cast<const void*>(calls.gdipAddPathArc)},
        {"IsWow64Process", reinterpret_cast<const void*>(calls.isWow64Process)},
        {"QueryFullProcessImageNameW", reinterpret_cast<const void*>(calls.queryFullProcessImageName)},
        {"GetVersionExW", reinterpret_cast<const void*>(calls.getVersionEx)},
        {"ChangeWindowMessageFilter", reinterpret_cast<const void*>(calls.changeWindowMessageFilter)},
        {"CreateStdAccessibleObject", reinterpret_cast<const void*>(calls.createStdAccessibleObject)},
        {"LresultFromObject", reinterpret_cast<const void*>(calls.lresultFromObject)},
        {"UiaHostProviderFromHwnd", reinterpret_cast<const void*>(calls.uiaHostProviderFromHwnd)},
    };
    for (const auto& entry : entries)
        EXPECT_NE(entry.entry, nullptr) << entry.name;
}

// The bound functions are the real ones: they answer as the system documents.
TEST(DynamicCalls, BoundFunctionsWork) {
    const DynamicCalls& calls = Dynamic();
    ASSERT_NE(calls.ilCreateFromPath, nullptr);
    ItemIdListHandle root(calls.ilCreateFromPath(L"C:\\"));
    EXPECT_NE(root.Get(), nullptr);

    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring shell = std::wstring(system) + L"\\shell32.dll";
    HICON large = nullptr;
    ASSERT_NE(calls.shDefExtractIcon, nullptr);
    EXPECT_EQ(calls.shDefExtractIcon(shell.c_str(), 0, 0, &large, nullptr, MAKELONG(32, 16)), S_OK);
    IconHandle owned(large);
    EXPECT_NE(owned.Get(), nullptr);

    ASSERT_NE(calls.isWow64Process, nullptr);
    BOOL wow64 = TRUE;
    EXPECT_TRUE(calls.isWow64Process(GetCurrentProcess(), &wow64));
#ifdef _WIN64
    EXPECT_FALSE(wow64);
#else
    EXPECT_TRUE(wow64);  // the tests run in a 64-bit prefix
#endif
}

}  // namespace
