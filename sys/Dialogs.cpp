#include "sys/Dialogs.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "sys/Handles.h"

namespace {

constexpr int kFileBufferUnits = 2048;
constexpr int kFolderBufferUnits = 5096;
constexpr DWORD kSaveFlags = OFN_ENABLESIZING | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
const wchar_t kSaveTitle[] = L"选择要创建的图标文件";

bool RunFileDialog(WideString& result, const wchar_t* title, const wchar_t* initialFolder, const wchar_t* filter,
                   DWORD flags, const wchar_t* initialName, const wchar_t* defaultExtension, HWND owner, bool save) {
    std::vector<wchar_t> file(kFileBufferUnits, L'\0');
    if (initialName) lstrcpynW(file.data(), initialName, kFileBufferUnits);
    OPENFILENAMEW info = {};
    info.lStructSize = sizeof(info);
    info.hwndOwner = owner;
    info.lpstrFilter = filter;
    info.lpstrFile = file.data();
    info.nMaxFile = kFileBufferUnits;
    info.lpstrInitialDir = initialFolder;
    info.lpstrTitle = title;
    info.Flags = flags;
    info.lpstrDefExt = defaultExtension;
    BOOL chosen = save ? GetSaveFileNameW(&info) : GetOpenFileNameW(&info);
    if (!chosen) return false;
    result = file.data();
    return true;
}

// A drive root comes back as "C:\"; callers append their own separator.
void DropOneTrailingBackslash(WideString& path) {
    int length = path.Length();
    if (length > 2 && path.Text()[length - 1] == L'\\') path.DropRight(1);
}

// Returns S_OK with the path, the dialog's failure (a cancel included), or a failure from creating it.
HRESULT PickWithItemDialog(WideString& result, const wchar_t* title, bool fileSystemOnly, HWND owner, bool& created) {
    ComPtr<IFileDialog> dialog;
    HRESULT hr =
        CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog, dialog.ReceiveVoid());
    created = SUCCEEDED(hr);
    if (!created) return hr;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_PICKFOLDERS;
    if (fileSystemOnly) options |= FOS_FORCEFILESYSTEM;
    dialog->SetOptions(options);
    if (title) dialog->SetTitle(title);
    if (!result.IsEmpty()) dialog->SetFileName(result.Text());
    hr = dialog->Show(owner);
    if (FAILED(hr)) return hr;
    ComPtr<IShellItem> item;
    hr = dialog->GetResult(item.Receive());
    if (FAILED(hr)) return hr;
    wchar_t* name = nullptr;
    hr = item->GetDisplayName(SIGDN_FILESYSPATH, &name);
    if (FAILED(hr) && !fileSystemOnly) hr = item->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &name);
    CoTaskMemoryHandle owned(name);
    if (FAILED(hr) || !name) return FAILED(hr) ? hr : E_FAIL;
    result = name;
    return S_OK;
}

bool PickWithLegacyPicker(WideString& result, const wchar_t* title, DWORD options, HWND owner) {
    std::vector<wchar_t> display(MAX_PATH, L'\0');
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = display.data();
    info.lpszTitle = title;
    info.ulFlags = (options & ~kFolderLegacyPicker) | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    CoTaskMemoryHandle list(SHBrowseForFolderW(&info));
    if (!list) return false;
    std::vector<wchar_t> path(kFolderBufferUnits, L'\0');
    if (!SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(list.Get()), path.data()) || path[0] == 0) return false;
    result = path.data();
    return true;
}

}  // namespace

const FileDialogPreset kPictureToConvertDialog = {L"选择要转换的图像文件", L"所有文件(*.*)\0*.*\0", L"png",
                                                  OFN_ENABLESIZING | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR};
const FileDialogPreset kFolderIconFileDialog = {L"指定要使用的图标文件", L"所有文件(*.*)\0*.*\0", nullptr,
                                                OFN_FILEMUSTEXIST};
const FileDialogPreset kResourceFileDialog = {
    L"指定资源文件", L"资源文件 (*.exe, *.exe, *.dll, *.ocx, *.scr)\0*.exe;*.exe;*.dll;*.ocx;*.scr\0", L"exe",
    OFN_FILEMUSTEXIST};
const FileDialogPreset kResourceFileBrowseDialog = {
    L"指定包含要提取图标的文件", L"资源文件 (*.exe, *.exe, *.dll, *.ocx, *.scr)\0*.exe;*.exe;*.dll;*.ocx;*.scr\0",
    L"exe", OFN_FILEMUSTEXIST};
const FileDialogPreset kIconOutputDialog = {kSaveTitle, L"图标文件\0*.ico\0", L"ico", kSaveFlags};
const FileDialogPreset kPngOutputDialog = {kSaveTitle, L"Png 图像\0*.png\0", L"png", kSaveFlags};
const FolderDialogPreset kFolderToCustomizeDialog = {L"指定要自定义的文件夹", kFolderFileSystemOnly};
const FolderDialogPreset kPictureFolderDialog = {L"选择包含要转换图片的文件夹", kFolderFileSystemOnly};
const FolderDialogPreset kOutputFolderDialog = {L"选择要保存图标的文件夹", 0};

bool OpenFileDialog(WideString& result, const wchar_t* title, const wchar_t* initialFolder, const wchar_t* filter,
                    DWORD flags, const wchar_t* initialName, const wchar_t* defaultExtension, HWND owner) {
    return RunFileDialog(result, title, initialFolder, filter, flags | OFN_EXPLORER, initialName, defaultExtension,
                         owner, false);
}

bool OpenFileDialog(WideString& result, const FileDialogPreset& preset, const wchar_t* initialName, HWND owner) {
    return OpenFileDialog(result, preset.title, nullptr, preset.filter, preset.flags, initialName,
                          preset.defaultExtension, owner);
}

bool SaveFileDialog(WideString& result, const wchar_t* filter, const wchar_t* initialName,
                    const wchar_t* defaultExtension, HWND owner) {
    return RunFileDialog(result, kSaveTitle, nullptr, filter, kSaveFlags, initialName, defaultExtension, owner, true);
}

bool SaveFileDialog(WideString& result, const FileDialogPreset& preset, const wchar_t* initialName, HWND owner) {
    return SaveFileDialog(result, preset.filter, initialName, preset.defaultExtension, owner);
}

bool BrowseForFolder(WideString& result, const wchar_t* title, DWORD options, HWND owner) {
    bool fileSystemOnly = (options & kFolderFileSystemOnly) != 0;
    bool chosen = false;
    bool created = false;
    if (!(options & kFolderLegacyPicker))
        chosen = SUCCEEDED(PickWithItemDialog(result, title, fileSystemOnly, owner, created));
    if (!created) chosen = PickWithLegacyPicker(result, title, options, owner);
    if (chosen) DropOneTrailingBackslash(result);
    return chosen;
}

bool BrowseForFolder(WideString& result, const FolderDialogPreset& preset, HWND owner) {
    return BrowseForFolder(result, preset.title, preset.options, owner);
}
