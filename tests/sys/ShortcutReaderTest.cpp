#include "sys/ShortcutReader.h"

#include <gtest/gtest.h>
#include <shlguid.h>

#include <thread>

#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::Narrow;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

// Writes a shortcut through the shell's own link object, independently of the reader.
bool CreateShortcut(const wchar_t* path, const wchar_t* target, const wchar_t* iconFile, int iconIndex) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid())))
        return false;
    if (FAILED(link->SetPath(target))) return false;
    if (iconFile && FAILED(link->SetIconLocation(iconFile, iconIndex))) return false;
    ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    return file && SUCCEEDED(file->Save(path, TRUE));
}

class ShortcutReaderTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    TempFolder folder_;
};

TEST_F(ShortcutReaderTest, ReadsTargetAndIconLocation) {
    WideString target = folder_ / L"target program.exe";
    ASSERT_TRUE(WriteBytes(target.Text(), "MZ", 2));
    WideString iconFile = folder_ / L"icons.dll";
    ASSERT_TRUE(WriteBytes(iconFile.Text(), "MZ", 2));
    WideString link = folder_ / L"shortcut.lnk";
    ASSERT_TRUE(CreateShortcut(link.Text(), target.Text(), iconFile.Text(), 12));

    ShortcutReader reader;
    ASSERT_TRUE(reader.Open(link.Text()));
    EXPECT_TRUE(reader.Valid());
    EXPECT_TRUE(reader.TargetPath().EqualsIgnoreCase(target.Text())) << Narrow(reader.TargetPath().Text());
    int index = -1;
    EXPECT_TRUE(reader.IconLocation(index).EqualsIgnoreCase(iconFile.Text()));
    EXPECT_EQ(index, 12);
}

TEST_F(ShortcutReaderTest, ShortcutWithoutIconHasEmptyIconLocation) {
    WideString target = folder_ / L"plain.exe";
    ASSERT_TRUE(WriteBytes(target.Text(), "MZ", 2));
    WideString link = folder_ / L"plain.lnk";
    ASSERT_TRUE(CreateShortcut(link.Text(), target.Text(), nullptr, 0));

    ShortcutReader reader;
    ASSERT_TRUE(reader.Open(link.Text()));
    int index = -1;
    EXPECT_TRUE(reader.IconLocation(index).IsEmpty()) << Narrow(reader.IconLocation(index).Text());
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(reader.TargetPath().IsEmpty());
}

TEST_F(ShortcutReaderTest, MissingShortcutIsCreatedEmpty) {
    WideString link = folder_ / L"missing.lnk";
    ShortcutReader reader;
    ASSERT_TRUE(reader.Open(link.Text()));
    EXPECT_TRUE(Exists(link.Text()));
    EXPECT_TRUE(reader.TargetPath().IsEmpty());
    int index = -1;
    EXPECT_TRUE(reader.IconLocation(index).IsEmpty());
    EXPECT_EQ(index, 0);

    // What was created is a shortcut that reads back the same way.
    ShortcutReader again;
    EXPECT_TRUE(again.Open(link.Text()));
    EXPECT_TRUE(again.TargetPath().IsEmpty());
}

TEST_F(ShortcutReaderTest, UnreadableShortcutIsInvalidAndAnswersEmptyTexts) {
    WideString garbage = folder_ / L"garbage.lnk";
    const char bytes[] = "this is not a shell link";
    ASSERT_TRUE(WriteBytes(garbage.Text(), bytes, sizeof(bytes)));
    const struct {
        const wchar_t* name;
        WideString path;
    } cases[] = {
        {L"not a link", garbage},
        {L"folder missing", folder_ / L"no folder\\x.lnk"},
        {L"empty path", L""},
    };
    for (const auto& c : cases) {
        ShortcutReader reader;
        EXPECT_FALSE(reader.Open(c.path.Text())) << Narrow(c.name);
        EXPECT_FALSE(reader.Valid()) << Narrow(c.name);
        EXPECT_TRUE(reader.TargetPath().IsEmpty()) << Narrow(c.name);
        int index = -1;
        EXPECT_TRUE(reader.IconLocation(index).IsEmpty()) << Narrow(c.name);
        EXPECT_EQ(index, 0) << Narrow(c.name);
    }
    // A file that is not a link is only read, never replaced.
    std::vector<uint8_t> after = ReadBytes(garbage.Text());
    EXPECT_EQ(after, std::vector<uint8_t>(bytes, bytes + sizeof(bytes)));
    EXPECT_FALSE(Exists((folder_ / L"no folder").Text()));
}

// The reader starts COM for its lifetime and leaves the thread's own COM state as it found it.
TEST(ShortcutReaderCom, LeavesThreadApartmentAsItFoundIt) {
    TempFolder folder;
    WideString link = folder / L"com.lnk";
    const struct {
        const wchar_t* name;
        DWORD before;  // COINIT_ value the thread starts with; ~0 = none
        HRESULT multithreadedAfter;
    } cases[] = {
        {L"no apartment", ~0u, S_OK},                       // the reader's CoUninitialize ended its own start
        {L"multithreaded", COINIT_MULTITHREADED, S_FALSE},  // still initialised: not uninitialised by the reader
        {L"single-threaded", COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE},
    };
    for (const auto& c : cases) {
        HRESULT after = E_UNEXPECTED;
        bool opened = false;
        std::thread worker([&] {
            if (c.before != ~0u) CoInitializeEx(nullptr, c.before);
            {
                ShortcutReader reader;
                opened = reader.Open(link.Text());
            }
            after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(after)) CoUninitialize();
            if (c.before != ~0u) CoUninitialize();
        });
        worker.join();
        EXPECT_TRUE(opened) << Narrow(c.name);
        EXPECT_EQ(after, c.multithreadedAfter) << Narrow(c.name);
    }
}

}  // namespace
