// OCR_* cursor ids are only declared with OEMRESOURCE.
#define OEMRESOURCE
#include "engine/WindowIcons.h"

#include "engine/IconSources.h"
#include "engine/IconWriter.h"
#include "engine/OutputNaming.h"
#include "engine/ImageScaling.h"
#include "engine/WindowQueries.h"
#include "sys/Handles.h"

namespace {

// Sizes below this come from the small icon, the others from the large one.
constexpr int kLargeIconFrom = 24;

// The help cursor's id; the toolchain's headers lack it.
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-setsystemcursor
constexpr DWORD kOcrHelp = 32651;

constexpr DWORD kSystemCursors[] = {OCR_APPSTARTING, OCR_NORMAL, OCR_CROSS,   OCR_HAND,     kOcrHelp,
                                    OCR_IBEAM,       OCR_NO,     OCR_SIZEALL, OCR_SIZENESW, OCR_SIZENS,
                                    OCR_SIZENWSE,    OCR_SIZEWE, OCR_UP,      OCR_WAIT};

}  // namespace

WindowIconPair ReadWindowIcons(HWND window) {
    WindowIconPair icons;
    icons.smallIcon = GetWindowIcon(window, kIconSmall);
    icons.largeIcon = GetWindowIcon(window, kIconBig);
    if (!icons.smallIcon) icons.smallIcon = icons.largeIcon;
    if (!icons.largeIcon) icons.largeIcon = icons.smallIcon;
    return icons;
}

bool WriteWindowIconFile(const WindowIconPair& icons, const WideString& output, const SizeList& sizes,
                         IconJobFlags flags) {
    if (!icons) {
        NoteOutputFailure(0, true);
        return false;
    }
    WideString target(output);
    EnsureOutputExtension(target, flags);
    return WriteIconFile(IconSource(icons.smallIcon, icons.largeIcon), sizes, target, 0,
                         (flags & ~kFromResource) | kFromWindow, WideString());
}

bool MakeIconFromWindow(HWND window, const WideString& output, const SizeList& sizes, IconJobFlags flags) {
    return WriteWindowIconFile(ReadWindowIcons(window), output, sizes, flags);
}

WorkingImage LoadWindowIconImage(HICON smallIcon, HICON largeIcon, int size, IconJobFlags flags) {
    HICON icon = size < kLargeIconFrom ? smallIcon : largeIcon;
    if (!icon || size <= 0) return WorkingImage();
    WorkingImage own = ImageFromIconHandle(icon);
    // At its own size the icon is taken as it is: every fit of a square into a square is the whole square.
    if (!own || (own.Width() == size && own.Height() == size)) return own;
    return ScaleImage(own, size, size, flags);
}

bool ReplaceSystemCursors(HICON icon) {
    if (!icon) return false;
    bool all = true;
    for (DWORD id : kSystemCursors) {
        IconHandle copy(CopyIcon(icon));
        // SetSystemCursor takes the cursor over (and destroys it) only when it succeeds.
        // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-setsystemcursor
        if (copy && SetSystemCursor(copy.Get(), id))
            copy.Release();
        else
            all = false;
    }
    SetCursor(icon);
    return all;
}

bool RestoreSystemCursors() {
    return SystemParametersInfoW(SPI_SETCURSORS, 0, nullptr, 0) != FALSE;
}
