#include "sys/ShortcutReader.h"

#include <shlguid.h>

#include <vector>

#include "sys/FileOperations.h"

namespace {

constexpr int kTargetBufferUnits = 2048;
constexpr int kIconBufferUnits = 1024;

}  // namespace

ShortcutReader::ShortcutReader() = default;

// The link's objects go before the apartment they live in: members end in reverse order of declaration.
ShortcutReader::~ShortcutReader() = default;

bool ShortcutReader::Open(const wchar_t* path) {
    valid_ = false;
    file_.Reset();
    link_.Reset();
    if (!path || !*path) return false;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link_.ReceiveVoid())))
        return false;
    file_ = link_.As<IPersistFile>(IID_IPersistFile);
    if (!file_) return false;
    HRESULT hr;
    if (FileExists(path, true))
        hr = file_->Load(path, STGM_READ);
    else
        hr = file_->Save(path, TRUE);
    valid_ = SUCCEEDED(hr);
    return valid_;
}

const WideString& ShortcutReader::TargetPath() {
    targetPath_.Clear();
    if (!valid_) return targetPath_;
    std::vector<wchar_t> buffer(kTargetBufferUnits, L'\0');
    if (SUCCEEDED(link_->GetPath(buffer.data(), MAX_PATH, nullptr, 0))) targetPath_ = buffer.data();
    return targetPath_;
}

const WideString& ShortcutReader::IconLocation(int& index) {
    iconLocation_.Clear();
    iconIndex_ = 0;
    if (valid_) {
        std::vector<wchar_t> buffer(kIconBufferUnits, L'\0');
        if (SUCCEEDED(link_->GetIconLocation(buffer.data(), kIconBufferUnits, &iconIndex_)))
            iconLocation_ = buffer.data();
        else
            iconIndex_ = 0;
    }
    index = iconIndex_;
    return iconLocation_;
}
