#include <gtest/gtest.h>

#include "TestSupport.h"
#include "sys/Handles.h"

namespace {

bool IsOpenHandle(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandleTest, ClosesExactlyOnceAcrossMoves) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(IsOpenHandle(raw));
    {
        KernelHandle first(raw);
        KernelHandle second(std::move(first));
        EXPECT_FALSE(first.Valid());
        EXPECT_EQ(second.Get(), raw);
        KernelHandle third;
        third = std::move(second);
        EXPECT_FALSE(second.Valid());
        EXPECT_TRUE(IsOpenHandle(raw));
    }
    EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(UniqueHandleTest, ReleaseHandsOverAndResetCloses) {
    KernelHandle owner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE raw = owner.Release();
    EXPECT_FALSE(owner.Valid());
    EXPECT_TRUE(IsOpenHandle(raw));
    owner.Reset(raw);
    owner.Reset();
    EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(UniqueHandleTest, FileAndFindOwnersTreatInvalidValueAsEmpty) {
    FileHandle file(CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.Valid());
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(L"Z:\\no\\such\\*", &data));
    EXPECT_FALSE(find.Valid());
}

TEST(UniqueHandleTest, PredefinedRegistryRootsAreNeverClosed) {
    { RegKeyHandle root(HKEY_CURRENT_USER); }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegKeyHandle owner(key);
}

TEST(SelectGuardTest, RestoresThePreviouslySelectedObject) {
    MemoryDcHandle dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc.Valid());
    HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_BRUSH);
    GdiObjectHandle brush(CreateSolidBrush(RGB(1, 2, 3)));
    {
        SelectGuard guard(dc.Get(), brush.Get());
        EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), brush.Get());
    }
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), before);
}

struct CountingUnknown : IUnknown {
    int references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST(ComPtrTest, ReleasesOnceAndQueriesIntoAnOwner) {
    CountingUnknown object;
    {
        ComPtr<IUnknown> first(&object);
        ComPtr<IUnknown> other = first.As<IUnknown>(IID_IUnknown);
        EXPECT_EQ(object.references, 2);
        ComPtr<IUnknown> moved(std::move(other));
        EXPECT_FALSE(other);
    }
    EXPECT_EQ(object.references, 0);
}

}  // namespace
