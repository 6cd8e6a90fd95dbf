#include "sys/ShellRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "sys/Handles.h"

using testing_support::BuildFile;
using testing_support::Exists;
using testing_support::Narrow;
using testing_support::ReadBytes;
using testing_support::TempFolder;

namespace {

constexpr DWORD kWaitMs = 20000;

// The command line the helper recorded, once it has ended.
std::wstring RecordedLine(DWORD processId, const WideString& record) {
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (process) WaitForSingleObject(process.Get(), kWaitMs);
    for (DWORD waited = 0; !Exists(record.Text()) && waited < kWaitMs; waited += 20)
        Sleep(20);
    std::vector<uint8_t> bytes = ReadBytes(record.Text());
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

class ShellRunTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE); }
    void TearDown() override { CoUninitialize(); }
    TempFolder folder_;
};

// Under Wine "runas" starts the program like "open" without a prompt, so a declined elevation cannot be shown.
TEST_F(ShellRunTest, StartsProgramWithParametersForEachVerb) {
    const wchar_t* verbs[] = {nullptr, L"open", L"runas"};
    int n = 0;
    for (const wchar_t* verb : verbs) {
        WideString record = folder_ / WideString::FromInt(++n).Append(L" record.txt").Text();
        WideString parameters = WideString::Concat(L"record \"", record, L"\"");
        DWORD id = ShellRun(BuildFile(L"gwtest_lingering.exe").Text(), parameters.Text(), verb);
        ASSERT_GT(id, 1u) << Narrow(verb);
        std::wstring line = RecordedLine(id, record);
        EXPECT_NE(line.find(L"record"), std::wstring::npos) << Narrow(verb);
        EXPECT_NE(line.find(record.Text()), std::wstring::npos) << Narrow(verb) << ": " << Narrow(line.c_str());
    }
}

// The shell's own error box would block here: failures come back as 0 without any UI.
TEST_F(ShellRunTest, MissingFileFailsWithoutShowingAnything) {
    const wchar_t* verbs[] = {nullptr, L"open", L"runas"};
    WideString missing = folder_ / L"no such program.exe";
    for (const wchar_t* verb : verbs)
        EXPECT_EQ(ShellRun(missing.Text(), nullptr, verb), 0u) << Narrow(verb);
}

}  // namespace
