#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engine/Imaging.h"
#include "sys/Handles.h"
#include "sys/WideString.h"

// A resource file loaded once as a data file, so that every size of every icon group is built from the group's
// own entries without the shell opening the file again for each one. Files the loader can't map as data (16-bit
// libraries) don't load; their callers take the shell's extractor instead. Safe to read from several threads.
class IconLibrary {
public:
    IconLibrary() = default;
    explicit IconLibrary(const WideString& path);
    IconLibrary(const IconLibrary&) = delete;
    IconLibrary& operator=(const IconLibrary&) = delete;

    bool Loaded() const { return module_.Valid(); }
    // Icon groups in the order of the resource directory (the order the shell's extractor counts them).
    int32_t GroupCount() const { return static_cast<int32_t>(groups_.size()); }

    // The group at position index as an icon of width x height made from the entry the system's icon lookup picks
    // for that size, as the shell's extractor makes it. Null when the group or its entry is missing or unsound.
    HICON GroupIcon(int32_t index, int width, int height) const;

    // The pixels of the entry the lookup picks for size x size when that entry is a bitmap of exactly that size with
    // 4, 8, 24 or 32 bits a pixel, read straight from the file as the icon the system makes of it shows them: alpha
    // from the entry's own channel, else from its mask. Costs the system no icon handle. Empty otherwise.
    WorkingImage GroupImage(int32_t index, int size) const;

    // The PNG stream of the entry the lookup picks for size x size when that entry is a sound PNG of exactly that
    // size (any standard colour type, not interlaced, every chunk's checksum right): decoded it gives the icon's own
    // pixels, so it can be stored as it is. False (png untouched) otherwise.
    bool GroupPng(int32_t index, int size, std::vector<uint8_t>& png) const;

    struct GroupName {
        WORD id = 0;
        WideString name;  // empty for a group named by id
    };

private:
    // The entry's bytes the lookup picks for the size; null when the group or its entry is missing or unsound.
    const uint8_t* ChosenEntry(int32_t index, int width, int height, DWORD& size) const;

    ModuleHandle module_;
    std::vector<GroupName> groups_;
};

// True for a file name whose extension (ignoring case) names a file the program reads as a resource file, selected
// by icon index: .exe, .dll, .ocx, .scr, .cur, .ani and .ico.
bool IsResourceFileName(const WideString& name);
