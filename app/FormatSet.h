#pragma once

#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

enum class FitMode { kCenter, kCrop, kStretch };

// One page's choice of output formats: sizes out of kSizeTable, PNGS, PNGC, the fit mode, and whether resource
// extraction keeps the groups' original entries instead.
struct IconFormatSet {
    static constexpr int kSizeCount = 10;
    static constexpr int kSizeTable[kSizeCount] = {16, 24, 32, 48, 64, 72, 96, 128, 256, 512};

    bool sizes[kSizeCount] = {};
    bool pngs = false;
    bool pngc = false;
    FitMode fit = FitMode::kCenter;
    bool original = false;

    bool HasSize(int pixels) const;
    void SetSize(int pixels, bool on);
    bool AnySize() const;
};

// Settings keys of the two pages, and the text used when a key has no value.
constexpr const wchar_t* kSingleIconFormatsKey = L"SingleIconFormats";
constexpr const wchar_t* kBatchIconFormatsKey = L"BatchIconFormats";
constexpr const wchar_t* kDefaultFormatText = L"|16|32|48|256|PNGC|Center|";
constexpr const wchar_t* kSettingsFileName = L"Glyphwright.ini";

// Text form: "|" then each set member's token followed by "|", in the order PNGS, sizes ascending, PNGC, fit,
// Original.
WideString FormatSetToText(const IconFormatSet& set);
// Each member is set when "|token|" occurs anywhere in the text, ignoring case; unknown tokens are ignored.
IconFormatSet ParseFormatSet(const wchar_t* text);

// The settings file is programFolder + "\Glyphwright.ini" (section "Settings"); callers pass its full path.
WideString SettingsFilePath(const WideString& programFolder);
IconFormatSet ReadFormatSet(const wchar_t* settingsPath, const wchar_t* key);
// Creates the file with only a UTF-16LE byte-order mark when it is missing, so the profile functions keep it
// UTF-16, then writes the key. The outcome is not reported: a failing write leaves the old value.
void WriteFormatSet(const wchar_t* settingsPath, const wchar_t* key, const IconFormatSet& set);

struct IconJobInputs {
    SizeList sizes;  // ascending
    IconJobFlags flags = 0;
};
// The size list and flags of a job (without the source-kind bits).
IconJobInputs FormatSetToJob(const IconFormatSet& set);
