#pragma once

#include <cstdint>

#include "app/FormatSet.h"

class Application;
class UiWindow;

// The "image formats and options" group the single-icon and batch pages share: the PNG-instead-of-icon box, a box
// per size, PNG compression, keeping a resource's original entries and the three fit radios. The members are the
// controls' indexes in the main window.
struct FormatControls {
    int32_t pngs = 0;
    int32_t sizeBoxes[IconFormatSet::kSizeCount] = {};
    int32_t pngc = 0;
    int32_t original = 0;
    int32_t fitCenter = 0;
    int32_t fitCrop = 0;
    int32_t fitStretch = 0;

    // Adds the group at its place on the page (from y 215 to 375); pngsCaption is the page's wording of the PNG box.
    // The fit radios start a group of their own.
    void Build(UiWindow& w, const Application& app, const wchar_t* pngsCaption);

    // The set the controls show, and the other way round.
    IconFormatSet Read(UiWindow& w) const;
    void Show(UiWindow& w, const IconFormatSet& set) const;

    // A size box, PNGC or the original box: a choice only the next job reads.
    bool IsSizeOrOption(int index) const;
    bool IsFitRadio(int index) const;
    // Any control of the group.
    bool Contains(int index) const;
};
