#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "sys/WideString.h"

namespace testing_support {

// A fresh folder under the temporary folder, removed with everything in it when the owner goes away.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const WideString& Path() const { return path_; }
    // Path of an entry inside the folder ("a\b.txt" is fine).
    WideString operator/(const wchar_t* relative) const;

private:
    WideString path_;
};

// Removes a file or a whole tree without using the program's own deletion code.
void RemoveTree(const wchar_t* path);

// Windows path of a file in the build folder (GW_BUILD_DIR, a Unix path, seen through Wine's Z: drive),
// for example BuildFile(L"Glyphwright.exe") or BuildFile(L"gwtest_helper.exe").
WideString BuildFile(const wchar_t* name);

// Windows path of a file kept in the build folder's test-artifacts folder (made when missing) for a person to look at.
WideString ArtifactFile(const wchar_t* name);

bool WriteBytes(const wchar_t* path, const void* data, size_t size);
bool WriteBytes(const wchar_t* path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadBytes(const wchar_t* path);
bool Exists(const wchar_t* path);
// Names of the entries of a folder, without "." and "..".
std::set<std::wstring> FolderNames(const WideString& folder);

// Runs a program (command line as typed) and waits up to timeoutMs; returns its exit code, or -1 when it did
// not start or did not end in time (it is then terminated).
int RunProcess(const wchar_t* commandLine, DWORD timeoutMs = 60000);

// A resource of a program file: its type (RT_ICON, RT_GROUP_ICON, ...), its numeric id and its bytes.
struct ProgramResource {
    const wchar_t* type;
    WORD id;
    std::vector<uint8_t> bytes;
};

// Copies this test program to path and gives the copy the resources (language neutral) in place of its own.
bool CopyProgramWithResources(const wchar_t* path, const std::vector<ProgramResource>& resources);

// Narrow text of a wide string, for assertion messages.
std::string Narrow(const wchar_t* text);

}  // namespace testing_support
