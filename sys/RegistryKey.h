#pragma once

#include <windows.h>

#include "sys/Handles.h"
#include "sys/WideString.h"

// One registry key named by a path text whose first component is the root ("HKCU\Control Panel\Desktop"). The
// root may end in "64" or "32" to select that view of the registry (HKLM64\Software).
class RegistryKey {
public:
    // Access value that creates the key (read and write access) when it is missing.
    static constexpr REGSAM kCreate = static_cast<REGSAM>(-1);

    // Opens (or with kCreate creates) the key; the handle is null on failure.
    RegistryKey(const wchar_t* path, REGSAM access);

    // Splits a path text into root key, sub-key (empty for the root itself) and view flag (KEY_WOW64_64KEY,
    // KEY_WOW64_32KEY or 0). False for an empty text or an unknown root.
    static bool ParsePath(const wchar_t* path, HKEY& root, WideString& subKey, REGSAM& view);

    // True only when the value exists and is a REG_DWORD; the number is 0 otherwise. A null name reads the
    // key's default value.
    bool ReadNumber(const wchar_t* name, DWORD& number) const;
    // Writes a REG_DWORD of 4 bytes; a null pointer writes 0 bytes.
    bool WriteNumber(const wchar_t* name, const DWORD* number);
    void Close() { handle_.Reset(); }

    bool IsOpen() const { return handle_.Valid(); }
    HKEY Handle() const { return handle_.Get(); }

private:
    RegKeyHandle handle_;
};
