#include "sys/ExplorerSettings.h"

#include "sys/IconCache.h"
#include "sys/RegistryKey.h"

namespace {

constexpr wchar_t kAdvancedKey[] = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr wchar_t kHiddenValue[] = L"Hidden";
constexpr wchar_t kSuperHiddenValue[] = L"ShowSuperHidden";

// "Hidden" is 1 for shown and 2 for not shown (the value the system writes itself); "ShowSuperHidden" is 0 or 1.
bool HiddenFilesShown(const RegistryKey& key) {
    DWORD value = 0;
    return key.ReadNumber(kHiddenValue, value) && value == 1;
}

bool SystemFilesShown(const RegistryKey& key) {
    DWORD value = 0;
    return key.ReadNumber(kSuperHiddenValue, value) && value != 0;
}

}  // namespace

int SetExplorerVisibility(bool show, ExplorerItems which) {
    int written = 0;
    {
        RegistryKey key(kAdvancedKey, KEY_SET_VALUE);
        if (!key.IsOpen()) return 0;
        const DWORD value = show ? 1 : 0;
        // Showing system files makes no sense with hidden files hidden, and hiding hidden files hides system
        // files too, so those two changes write both values.
        const bool writesSuperHidden = which == ExplorerItems::kSystemFiles || !show;
        const bool writesHidden = which == ExplorerItems::kHiddenFiles || show;
        if (writesSuperHidden && key.WriteNumber(kSuperHiddenValue, &value)) ++written;
        if (writesHidden && key.WriteNumber(kHiddenValue, &value)) ++written;
    }
    if (written != 0) RefreshShellViews();
    return written;
}

ExplorerVisibility ReadExplorerVisibility() {
    ExplorerVisibility visibility;
    RegistryKey key(kAdvancedKey, KEY_READ);
    if (!key.IsOpen()) return visibility;
    visibility.hiddenFiles = HiddenFilesShown(key);
    visibility.systemFiles = SystemFilesShown(key);
    return visibility;
}
