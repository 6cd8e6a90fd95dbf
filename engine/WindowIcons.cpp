#include "engine/WindowIcons.h"

#include "engine/ImageScaling.h"
#include "engine/WindowQueries.h"

namespace {

// Sizes below this come from the small icon, the others from the large one.
constexpr int kLargeIconFrom = 24;

}  // namespace

WindowIconPair ReadWindowIcons(HWND window) {
    WindowIconPair icons;
    icons.smallIcon = GetWindowIcon(window, kIconSmall);
    icons.largeIcon = GetWindowIcon(window, kIconBig);
    if (!icons.smallIcon) icons.smallIcon = icons.largeIcon;
    if (!icons.largeIcon) icons.largeIcon = icons.smallIcon;
    return icons;
}

WorkingImage LoadWindowIconImage(HICON smallIcon, HICON largeIcon, int size, IconJobFlags flags) {
    HICON icon = size < kLargeIconFrom ? smallIcon : largeIcon;
    if (!icon || size <= 0) return WorkingImage();
    WorkingImage own = ImageFromIconHandle(icon);
    // At its own size the icon is taken as it is: every fit of a square into a square is the whole square.
    if (!own || (own.Width() == size && own.Height() == size)) return own;
    return ScaleImage(own, size, size, flags);
}
