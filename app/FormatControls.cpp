#include "app/FormatControls.h"

#include "app/Application.h"
#include "ui/UiWindow.h"

namespace {

namespace text {
constexpr const wchar_t* kSizes[IconFormatSet::kSizeCount] = {
    L" 16x16", L" 24x24", L" 32x32", L" 48x48", L" 64x64", L" 72x72", L" 96x96", L" 128x128", L" 256x256", L" 512x512"};
constexpr const wchar_t* kPngc = L" PNG 压缩大格式 (使用更少的存储空间!)";
constexpr const wchar_t* kOriginal = L" 保留原始图标";
constexpr const wchar_t* kNotSquare = L"如果源图像不是正方形:";
constexpr const wchar_t* kCenter = L" 中心";
constexpr const wchar_t* kCrop = L" 修剪";
constexpr const wchar_t* kStretch = L" 拉伸";
}  // namespace text

// Left edges of the five columns of size boxes; the fit radios stand in the last three.
constexpr int kSizeX[5] = {20, 155, 290, 425, 560};

bool Checked(UiWindow& w, int index) {
    return index > 0 && w.getState(index, kStateChecked) != 0;
}

}  // namespace

void FormatControls::Build(UiWindow& w, const Application& app, const wchar_t* pngsCaption) {
    const HBITMAP checkOn = static_cast<HBITMAP>(app.checkImages[Application::kCheckChecked].Get());
    const HBITMAP checkOff = static_cast<HBITMAP>(app.checkImages[Application::kCheckUnchecked].Get());
    const HBITMAP radioOn = static_cast<HBITMAP>(app.checkImages[Application::kRadioChecked].Get());
    const HBITMAP radioOff = static_cast<HBITMAP>(app.checkImages[Application::kRadioUnchecked].Get());
    pngs = w.addCheckBox(pngsCaption, checkOn, checkOff, 20, 215, 550, kStateUnchecked);
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i) {
        const int width = i < 7 ? 60 : 70;
        sizeBoxes[i] =
            w.addCheckBox(text::kSizes[i], checkOn, checkOff, kSizeX[i % 5], i < 5 ? 275 : 300, width, kStateUnchecked);
    }
    pngc = w.addCheckBox(text::kPngc, checkOn, checkOff, 20, 330, 400, kStateUnchecked);
    // Beside PNGC, where the row has room: extraction then writes each group as the file holds it.
    original = w.addCheckBox(text::kOriginal, checkOn, checkOff, kSizeX[3], 330, 200, kStateUnchecked);
    w.addLabel(text::kNotSquare, 20, 355, 210, 20);
    w.flags |= kWindowGroupNext;
    fitCenter = w.addRadioButton(text::kCenter, radioOn, radioOff, kSizeX[2], 355, 60, kStateUnchecked);
    fitCrop = w.addRadioButton(text::kCrop, radioOn, radioOff, kSizeX[3], 355, 60, kStateUnchecked);
    fitStretch = w.addRadioButton(text::kStretch, radioOn, radioOff, kSizeX[4], 355, 60, kStateUnchecked);
}

IconFormatSet FormatControls::Read(UiWindow& w) const {
    IconFormatSet set;
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        set.sizes[i] = Checked(w, sizeBoxes[i]);
    set.pngs = Checked(w, pngs);
    set.pngc = Checked(w, pngc);
    set.original = Checked(w, original);
    set.fit = Checked(w, fitCrop) ? FitMode::kCrop : Checked(w, fitStretch) ? FitMode::kStretch : FitMode::kCenter;
    return set;
}

void FormatControls::Show(UiWindow& w, const IconFormatSet& set) const {
    auto show = [&w](int index, bool on) { w.setState(index, on ? kStateChecked : kStateUnchecked); };
    show(pngs, set.pngs);
    for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
        show(sizeBoxes[i], set.sizes[i]);
    show(pngc, set.pngc);
    show(original, set.original);
    show(fitCenter, set.fit == FitMode::kCenter);
    show(fitCrop, set.fit == FitMode::kCrop);
    show(fitStretch, set.fit == FitMode::kStretch);
}

bool FormatControls::IsSizeOrOption(int index) const {
    if (index <= 0) return false;
    if (index == pngc || index == original) return true;
    for (int32_t box : sizeBoxes)
        if (index == box) return true;
    return false;
}

bool FormatControls::IsFitRadio(int index) const {
    return index > 0 && (index == fitCenter || index == fitCrop || index == fitStretch);
}

bool FormatControls::Contains(int index) const {
    return index > 0 && (index == pngs || IsSizeOrOption(index) || IsFitRadio(index));
}
