#include "sys/RegistryKey.h"

namespace {

struct RootName {
    const wchar_t* shortName;
    const wchar_t* longName;
    HKEY key;
};

const RootName kRoots[] = {
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {L"HKU", L"HKEY_USERS", HKEY_USERS},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

}  // namespace

bool RegistryKey::ParsePath(const wchar_t* path, HKEY& root, WideString& subKey, REGSAM& view) {
    root = nullptr;
    subKey.Clear();
    view = 0;
    WideString text(path);
    if (text.IsEmpty()) return false;
    // The longest root name with its view suffix is 21 units, so the separator lies within units 4 to 23.
    int separator = text.Find(L"\\", false, 1, 4, 20);
    WideString rootText(text);
    if (separator > 0) {
        rootText.TruncateTo(separator - 1);
        subKey.AssignSubstring(text.Text(), separator + 1, 0);
    }
    if (rootText.EndsWith(L"64", true)) {
        view = KEY_WOW64_64KEY;
        rootText.DropRight(2);
    } else if (rootText.EndsWith(L"32", true)) {
        view = KEY_WOW64_32KEY;
        rootText.DropRight(2);
    }
    for (const RootName& name : kRoots) {
        if (rootText.EqualsIgnoreCase(name.shortName) || rootText.EqualsIgnoreCase(name.longName)) {
            root = name.key;
            return true;
        }
    }
    subKey.Clear();
    view = 0;
    return false;
}

RegistryKey::RegistryKey(const wchar_t* path, REGSAM access) {
    HKEY root = nullptr;
    WideString subKey;
    REGSAM view = 0;
    if (!ParsePath(path, root, subKey, view)) return;
    HKEY key = nullptr;
    LONG status;
    if (access == kCreate) {
        status =
            RegCreateKeyExW(root, subKey.Text(), 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr, &key, nullptr);
    } else {
        status = RegOpenKeyExW(root, subKey.IsEmpty() ? nullptr : subKey.Text(), 0, access | view, &key);
    }
    if (status == ERROR_SUCCESS) handle_.Reset(key);
}

bool RegistryKey::ReadNumber(const wchar_t* name, DWORD& number) const {
    number = 0;
    if (!IsOpen()) return false;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG status = RegQueryValueExW(handle_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD) return false;
    number = value;
    return true;
}

bool RegistryKey::WriteNumber(const wchar_t* name, const DWORD* number) {
    if (!IsOpen()) return false;
    LONG status = RegSetValueExW(handle_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(number),
                                 number ? sizeof(DWORD) : 0);
    return status == ERROR_SUCCESS;
}
