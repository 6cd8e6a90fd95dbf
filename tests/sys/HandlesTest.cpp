#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

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

// PCRE2 blocks come from an allocator that counts what is still held, so an owner's release shows.
struct CountingAllocator {
    int held = 0;
    static void* Allocate(PCRE2_SIZE size, void* self) {
        ++static_cast<CountingAllocator*>(self)->held;
        return std::malloc(size);
    }
    static void Free(void* block, void* self) {
        if (block) --static_cast<CountingAllocator*>(self)->held;
        std::free(block);
    }
};

TEST(Pcre2OwnerTest, FreesPatternAndMatchBlockOnceAcrossMoves) {
    CountingAllocator counter;
    pcre2_general_context_16* general =
        pcre2_general_context_create_16(CountingAllocator::Allocate, CountingAllocator::Free, &counter);
    ASSERT_NE(general, nullptr);
    pcre2_compile_context_16* compile = pcre2_compile_context_create_16(general);
    ASSERT_NE(compile, nullptr);
    const int contexts = counter.held;
    {
        int error = 0;
        PCRE2_SIZE offset = 0;
        Pcre2CodeHandle pattern(pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(L"a+b"), PCRE2_ZERO_TERMINATED, 0,
                                                 &error, &offset, compile));
        ASSERT_TRUE(pattern.Valid());
        Pcre2MatchDataHandle data(pcre2_match_data_create_from_pattern_16(pattern.Get(), general));
        ASSERT_TRUE(data.Valid());
        EXPECT_EQ(counter.held, contexts + 2);
        Pcre2MatchDataHandle movedData(std::move(data));
        data.Reset();
        EXPECT_EQ(counter.held, contexts + 2) << "a moved-from owner frees nothing";
        movedData.Reset();
        EXPECT_EQ(counter.held, contexts + 1);
        Pcre2CodeHandle movedPattern;
        movedPattern = std::move(pattern);
    }
    EXPECT_EQ(counter.held, contexts);
    pcre2_compile_context_free_16(compile);
    pcre2_general_context_free_16(general);
}

// Whether the calling thread is in a single-threaded apartment; leaves the thread's COM as it was.
bool InApartment() {
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_FALSE;
}

TEST(ComScopeTest, KeepsComForItsLifetimeAndHandsThatDutyOnWhenMoved) {
    // A thread of its own starts without COM.
    bool startedInside = false, keptByMovedScope = false, endedAfter = true;
    std::thread([&] {
        {
            std::optional<ComScope> first(std::in_place);
            startedInside = first->Started() && InApartment();
            ComScope moved(std::move(*first));
            first.reset();
            keptByMovedScope = InApartment();
        }
        endedAfter = InApartment();
    }).join();
    EXPECT_TRUE(startedInside);
    EXPECT_TRUE(keptByMovedScope);
    EXPECT_FALSE(endedAfter);
}

TEST(ComScopeTest, LeavesAThreadOfAnotherApartmentItsCom) {
    bool started = true;
    HRESULT after = E_FAIL;
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        {
            ComScope scope;
            started = scope.Started();
        }
        // S_FALSE: the thread is still in its multithreaded apartment.
        after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(after)) CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_FALSE(started);
    EXPECT_EQ(after, S_FALSE);
}

}  // namespace
