#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "engine/IconJobFlags.h"
#include "engine/IconLibrary.h"
#include "engine/ImageScaling.h"
#include "engine/Imaging.h"
#include "sys/WideString.h"

// Where the pictures of one icon job come from: a file (a picture, or with kFromResource a file holding icon
// resources), or with kFromWindow a window's small and large icon (owned by that window, never destroyed here).
struct IconSource {
    WideString path;
    HICON smallIcon = nullptr;
    HICON largeIcon = nullptr;
    // A resource file already loaded by the caller gives its sizes from here; the shell only what it can't give.
    const IconLibrary* library = nullptr;

    IconSource() = default;
    explicit IconSource(const WideString& file) : path(file) {}
    IconSource(HICON small, HICON large) : smallIcon(small), largeIcon(large) {}
};

// Keeps the decoded picture of a picture source across the sizes of one job, so that the file is decoded once.
// Empty until the first size asks for it; a failed decode is remembered and not retried.
class DecodedPicture {
public:
    DecodedPicture() = default;
    // The sizes and fit the job asks for: a picture is then decoded no larger than the largest of them needs.
    DecodedPicture(const SizeList& sizes, IconJobFlags flags) : sizes_(sizes), flags_(flags) {}
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    // The prepared picture of the file, decoding it on the first call; null when the file is no picture.
    ScaleSource* Get(const wchar_t* path);
    // True once a decode was tried and the file is a picture, also after Release; also for a picture that failed
    // to decode (damaged, or too large), which the job then fails rather than taking the shell's icon for it.
    bool IsPicture() const { return isPicture_; }
    // Frees the decoded picture (and the imaging library's hold on its file) once the job needs it no more.
    void Release() { source_ = ScaleSource(); }

private:
    ScaleSource source_;
    SizeList sizes_;
    IconJobFlags flags_ = 0;
    bool tried_ = false;
    bool isPicture_ = false;
};

// A new size x size working image of the source, or an empty image. Without kFromResource and kFromWindow the
// source is a picture; a cache given by the caller keeps its decoded form for the next sizes.
WorkingImage LoadIconImage(const IconSource& source, int size, IconJobFlags flags, const WideString& fallback,
                           int32_t index, DecodedPicture* cache = nullptr);

// The shell's default icon extractor (SHDefExtractIconW, bound at run time): the icons at a position of a file,
// large and small sizes packed as MAKELONG(large, small). Either out pointer may be null. True when the shell answered S_OK.
bool ShellDefaultExtractIcon(const wchar_t* path, int32_t index, UINT sizes, HICON* large, HICON* small);

// The icon with the given index (0 or more: position among the file's icon groups; negative: the negated group
// id, honoured by the shell's extractor only) of a resource file as a width x height working image. When the
// file yields nothing, a non-empty fallback path gives the icon the shell associates with that file.
WorkingImage ExtractResourceIcon(const WideString& path, int32_t index, int width, int height,
                                 const WideString& fallback);

// Splits a trailing ",number" off an icon location into index (0 without one). Only the last comma can start it, and
// only when a number (an optional sign and digits, spaces around them allowed) ends the text, so commas within the
// path stay where they are. False when that number lies outside the 32-bit range: the location names no icon.
bool SplitIconLocation(WideString& location, int32_t& index);

// Replaces the path by the file that holds the icon the shell shows for it, and sets the index within that file.
// Paths written back are cut to 2047 units. True when a file was found.
bool ResolveIconSource(WideString& path, int32_t& index);

// True for a source a job may open: a folder, or a disk file that can be read now (IsReadableDiskFile). A device
// (COM1, CON, a pipe) answers to a file name but a read may wait on it for ever, and a file that can't be read is
// not replaced by the shell's icon for it.
bool IsReadableSource(const WideString& path);

// The file that holds the icon the shell shows for source (ResolveIconSource), and the index there; a 32-bit
// program looks for system files the folder redirection hides from it where they are.
WideString ShellIconFile(const WideString& source, int32_t& index);
