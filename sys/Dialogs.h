#pragma once

#include <windows.h>

#include "sys/WideString.h"

// The standard open and save dialogs and the folder picker. Each returns true when the user confirmed, with
// the chosen path in result; otherwise result keeps its text.

// Filter lists are pairs of description and pattern, each text ended by one zero unit and the list by one more.
struct FileDialogPreset {
    const wchar_t* title;
    const wchar_t* filter;
    const wchar_t* defaultExtension;  // null = none
    DWORD flags;
};

// Option bits of BrowseForFolder.
constexpr DWORD kFolderFileSystemOnly = 0x1;
constexpr DWORD kFolderLegacyPicker = 0x80000000;

struct FolderDialogPreset {
    const wchar_t* title;
    DWORD options;
};

// The texts and flags the pages use, kept in one place.
extern const FileDialogPreset kPictureToConvertDialog;
extern const FileDialogPreset kFolderIconFileDialog;
// Resource file when the batch page switches to extraction, and from that page's browse button.
extern const FileDialogPreset kResourceFileDialog;
extern const FileDialogPreset kResourceFileBrowseDialog;
// Output file: an icon, or a PNG picture when the output is PNG.
extern const FileDialogPreset kIconOutputDialog;
extern const FileDialogPreset kPngOutputDialog;
extern const FolderDialogPreset kFolderToCustomizeDialog;
extern const FolderDialogPreset kPictureFolderDialog;
extern const FolderDialogPreset kOutputFolderDialog;

// Adds OFN_EXPLORER to the flags. initialFolder, initialName and defaultExtension may be null.
bool OpenFileDialog(WideString& result, const wchar_t* title, const wchar_t* initialFolder, const wchar_t* filter,
                    DWORD flags, const wchar_t* initialName, const wchar_t* defaultExtension, HWND owner);
bool OpenFileDialog(WideString& result, const FileDialogPreset& preset, const wchar_t* initialName, HWND owner);
// Always titled "选择要创建的图标文件", no initial folder, fixed flags.
bool SaveFileDialog(WideString& result, const wchar_t* filter, const wchar_t* initialName,
                    const wchar_t* defaultExtension, HWND owner);
bool SaveFileDialog(WideString& result, const FileDialogPreset& preset, const wchar_t* initialName, HWND owner);
// Common item dialog in folder mode, or the legacy picker when asked or when that dialog cannot be created.
// The result's text, when not empty, goes into the name box. A result longer than two units loses one trailing
// backslash (a drive root comes back as "C:").
bool BrowseForFolder(WideString& result, const wchar_t* title, DWORD options, HWND owner);
bool BrowseForFolder(WideString& result, const FolderDialogPreset& preset, HWND owner);
