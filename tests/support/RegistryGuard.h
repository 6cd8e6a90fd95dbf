#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sys/WideString.h"

namespace testing_support {

// Keeps one registry key of the test prefix as it was: records whether it exists and every value it holds (name,
// type, bytes), and on destruction puts exactly those back, deleting values the test added; a key that did not
// exist is removed again with everything below it. Sub-keys of an existing key are not recorded.
class RegistryKeyGuard {
public:
    RegistryKeyGuard(HKEY root, const wchar_t* subKey) : root_(root), subKey_(subKey) {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExW(root_, subKey_.Text(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (!existed_) return;
        for (const std::wstring& name : ValueNames(key)) {
            Value value{name, REG_NONE, {}};
            DWORD size = 0;
            if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) continue;
            value.data.resize(size);
            if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
                continue;
            value.data.resize(size);
            values_.push_back(value);
        }
        RegCloseKey(key);
    }
    ~RegistryKeyGuard() {
        if (!existed_) {
            RegDeleteTreeW(root_, subKey_.Text());
            RegDeleteKeyW(root_, subKey_.Text());
            return;
        }
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, subKey_.Text(), 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        for (const std::wstring& name : ValueNames(key))
            RegDeleteValueW(key, name.c_str());
        for (const Value& value : values_) {
            RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        }
        RegCloseKey(key);
    }
    RegistryKeyGuard(const RegistryKeyGuard&) = delete;
    RegistryKeyGuard& operator=(const RegistryKeyGuard&) = delete;

    bool Existed() const { return existed_; }

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<uint8_t> data;
    };

    static std::vector<std::wstring> ValueNames(HKEY key) {
        std::vector<std::wstring> names;
        for (DWORD i = 0;; ++i) {
            wchar_t name[16384];
            DWORD length = 16384;
            if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        return names;
    }

    HKEY root_;
    WideString subKey_;
    bool existed_ = false;
    std::vector<Value> values_;
};

// Test access to one value: its type and bytes, or nothing when the value (or its key) is missing.
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;

    static RegistryValue Read(HKEY root, const wchar_t* subKey, const wchar_t* name) {
        RegistryValue value;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
            value.data.resize(size);
            value.present =
                RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
            value.data.resize(size);
        }
        RegCloseKey(key);
        return value;
    }
    // A present REG_DWORD's number, else -1.
    int64_t Number() const {
        if (!present || type != REG_DWORD || data.size() != 4) return -1;
        return static_cast<int64_t>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
    }
    bool operator==(const RegistryValue& other) const {
        return present == other.present && (!present || (type == other.type && data == other.data));
    }
};

// Writes (creating the key) or, with a null data pointer, deletes one value.
inline bool SetRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data,
                             DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status =
        data ? RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) : RegDeleteValueW(key, name);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (!data && status == ERROR_FILE_NOT_FOUND);
}

inline bool SetRegistryNumber(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD number) {
    return SetRegistryValue(root, subKey, name, REG_DWORD, &number, sizeof(number));
}

}  // namespace testing_support
