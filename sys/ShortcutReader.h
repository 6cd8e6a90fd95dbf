#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "sys/Handles.h"
#include "sys/WideString.h"

// Reads a shell link (.lnk) file. Initialises COM on the calling thread for the object's lifetime.
class ShortcutReader {
public:
    ShortcutReader();
    ~ShortcutReader();
    ShortcutReader(const ShortcutReader&) = delete;
    ShortcutReader& operator=(const ShortcutReader&) = delete;

    // Loads the shortcut read-only; a missing file gets an empty shortcut saved in its place. True when that
    // load or save succeeded.
    bool Open(const wchar_t* path);
    bool Valid() const { return valid_; }
    // Unexpanded texts as stored in the link; empty when the reader is not valid.
    const WideString& TargetPath();
    const WideString& IconLocation(int& index);

private:
    ComScope com_;
    ComPtr<IShellLinkW> link_;
    ComPtr<IPersistFile> file_;
    WideString targetPath_;
    WideString iconLocation_;
    int iconIndex_ = 0;
    bool valid_ = false;
};
