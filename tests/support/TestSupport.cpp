#include "TestSupport.h"

#include <cstdlib>

namespace testing_support {

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        wchar_t name[64];
        wsprintfW(name, L"gwtest-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        WideString candidate = WideString::Concat(base, name);
        if (CreateDirectoryW(candidate.Text(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
}

TempFolder::~TempFolder() {
    if (!path_.IsEmpty()) RemoveTree(path_.Text());
}

WideString TempFolder::operator/(const wchar_t* relative) const {
    return WideString::Concat(path_, L"\\", relative);
}

void RemoveTree(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        WideString pattern = WideString::Concat(path, L"\\*");
        HANDLE find = FindFirstFileW(pattern.Text(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (lstrcmpW(data.cFileName, L".") == 0 || lstrcmpW(data.cFileName, L"..") == 0) continue;
                WideString child = WideString::Concat(path, L"\\", data.cFileName);
                RemoveTree(child.Text());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(path);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(path);
    } else {
        DeleteFileW(path);
    }
}

WideString BuildFile(const wchar_t* name) {
    WideString dir;
    const char* unix = std::getenv("GW_BUILD_DIR");
    if (unix && *unix) {
        dir.FromUtf8(unix, 0);
        dir.Replace(L"/", L"\\");
        dir.Prepend(L"Z:");
    } else {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, module, MAX_PATH);
        dir = module;
        dir.ToParent(false);
    }
    dir.StripTrailingBackslashes();
    return WideString::Concat(dir, L"\\", name);
}

WideString ArtifactFile(const wchar_t* name) {
    CreateDirectoryW(BuildFile(L"test-artifacts").Text(), nullptr);
    return BuildFile(WideString::Concat(L"test-artifacts\\", name).Text());
}

bool WriteBytes(const wchar_t* path, const void* data, size_t size) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = size == 0 || WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

bool WriteBytes(const wchar_t* path, const std::vector<uint8_t>& data) {
    return WriteBytes(path, data.data(), data.size());
}

std::vector<uint8_t> ReadBytes(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
        bytes.resize(read);
    }
    CloseHandle(file);
    return bytes;
}

std::set<std::wstring> FolderNames(const WideString& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const WideString pattern = WideString::Concat(folder, L"\\*");
    HANDLE find = FindFirstFileW(pattern.Text(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (lstrcmpW(data.cFileName, L".") && lstrcmpW(data.cFileName, L"..")) names.insert(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

bool Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

int RunProcess(const wchar_t* commandLine, DWORD timeoutMs) {
    WideString line(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, const_cast<wchar_t*>(line.Text()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return -1;
    int result = -1;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        TerminateProcess(info.hProcess, 1);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}

bool CopyProgramWithResources(const wchar_t* path, const std::vector<ProgramResource>& resources) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!CopyFileW(self, path, FALSE)) return false;
    HANDLE update = BeginUpdateResourceW(path, TRUE);
    if (!update) return false;
    const WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool ok = true;
    for (size_t i = 0; i < resources.size() && ok; ++i) {
        const ProgramResource& resource = resources[i];
        ok = UpdateResourceW(update, resource.type, MAKEINTRESOURCEW(resource.id), language,
                             const_cast<uint8_t*>(resource.bytes.data()), static_cast<DWORD>(resource.bytes.size()));
    }
    return EndUpdateResourceW(update, !ok) && ok;
}

std::string Narrow(const wchar_t* text) {
    if (!text) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

}  // namespace testing_support
