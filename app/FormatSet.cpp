#include "app/FormatSet.h"

#include <windows.h>

#include "sys/FileOperations.h"
#include "sys/TextFile.h"

namespace {

constexpr const wchar_t* kSection = L"Settings";
constexpr int kProfileBufferUnits = 2048;

int SizeIndex(int pixels) {
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        if (IconFormatSet::kSizeTable[i] == pixels) return i;
    return -1;
}

// A token counts only when it stands exactly between two bars.
bool HasToken(const WideString& text, const wchar_t* token) {
    return text.Find(WideString::Concat(L"|", token, L"|").Text()) > 0;
}

}  // namespace

bool IconFormatSet::HasSize(int pixels) const {
    const int i = SizeIndex(pixels);
    return i >= 0 && sizes[i];
}

void IconFormatSet::SetSize(int pixels, bool on) {
    const int i = SizeIndex(pixels);
    if (i >= 0) sizes[i] = on;
}

bool IconFormatSet::AnySize() const {
    for (bool on : sizes)
        if (on) return true;
    return false;
}

WideString FormatSetToText(const IconFormatSet& set) {
    WideString text(L"|");
    if (set.pngs) text.Append(L"PNGS|");
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        if (set.sizes[i]) text.Append(WideString::FromInt(IconFormatSet::kSizeTable[i]), L"|");
    if (set.pngc) text.Append(L"PNGC|");
    text.Append(set.fit == FitMode::kCrop ? L"Crop|" : set.fit == FitMode::kStretch ? L"Stretch|" : L"Center|");
    if (set.original) text.Append(L"Original|");
    return text;
}

IconFormatSet ParseFormatSet(const wchar_t* text) {
    const WideString value(text);
    IconFormatSet set;
    set.pngs = HasToken(value, L"PNGS");
    set.pngc = HasToken(value, L"PNGC");
    set.original = HasToken(value, L"Original");
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        set.sizes[i] = HasToken(value, WideString::FromInt(IconFormatSet::kSizeTable[i]).Text());
    set.fit = HasToken(value, L"Crop")      ? FitMode::kCrop
              : HasToken(value, L"Stretch") ? FitMode::kStretch
                                            : FitMode::kCenter;
    return set;
}

WideString SettingsFilePath(const WideString& programFolder) {
    WideString path(programFolder);
    if (!path.EndsWith(L"\\")) path.Append(L"\\");
    return path.Append(kSettingsFileName);
}

IconFormatSet ReadFormatSet(const wchar_t* settingsPath, const wchar_t* key) {
    wchar_t buffer[kProfileBufferUnits] = {};
    GetPrivateProfileStringW(kSection, key, kDefaultFormatText, buffer, kProfileBufferUnits, settingsPath);
    return ParseFormatSet(buffer);
}

void WriteFormatSet(const wchar_t* settingsPath, const wchar_t* key, const IconFormatSet& set) {
    const WideString text = FormatSetToText(set);
    // A profile file that the profile functions create themselves is ANSI; one that starts with the UTF-16LE mark
    // stays UTF-16. https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-writeprivateprofilestringw
    if (!FileExists(settingsPath, true)) TextFile(settingsPath, TextFile::kCreate | TextFile::kUtf16).Close();
    WritePrivateProfileStringW(kSection, key, text.Text(), settingsPath);
}

IconJobInputs FormatSetToJob(const IconFormatSet& set) {
    IconJobInputs job;
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        if (set.sizes[i]) job.sizes.push_back(IconFormatSet::kSizeTable[i]);
    if (set.pngc) job.flags |= kPngc;
    if (set.fit == FitMode::kCenter)
        job.flags |= kCenter;
    else if (set.fit == FitMode::kCrop)
        job.flags |= kCrop;
    if (set.pngs) job.flags |= kPngs;
    if (set.original) job.flags |= kOriginal;
    return job;
}
