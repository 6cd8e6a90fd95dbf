# Sourced by the scripts: a private 64-bit Wine prefix inside the build folder, created once.
# Usage: source scripts/wine-env.sh BUILD_DIR [desktop]
# Without "desktop" this is the prefix of the tests and benchmarks (BUILD_DIR/wineprefix), whose windows are not
# managed by a window manager: under Xvfb there is none, and Wine waits about 2 s for every managed window that
# is hidden. "desktop" is the prefix for running the program on a real display (BUILD_DIR/wineprefix-desktop),
# where the window manager should frame and place the windows as usual.
gw_build=${1:?build folder}
if [ "${2:-}" = desktop ]; then
    export WINEPREFIX="$gw_build/wineprefix-desktop"
else
    export WINEPREFIX="$gw_build/wineprefix"
fi
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.glyphwright-ready" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$gw_build"
    wineboot -i >/dev/null 2>&1 </dev/null
    # Chinese UI texts render as boxes unless a CJK font is linked to the UI font.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v 'Liberation Sans' \
        /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.glyphwright-ready"
fi
# Wine links fonts by full face name, so bold Chinese text needs the bold face linked as well. Added apart, so that
# prefixes made before get it too.
if [ ! -f "$WINEPREFIX/.glyphwright-bold-link" ]; then
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v 'Liberation Sans Bold' \
        /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.glyphwright-bold-link"
fi
# Edit controls shape their text through Uniscribe, which ignores font links and takes the fallback face Wine names
# per script; Wine's own default for Han has no glyphs here, so Chinese in edit fields showed as boxes.
if [ ! -f "$WINEPREFIX/.glyphwright-han-fallback" ]; then
    wine reg add 'HKCU\Software\Wine\Uniscribe\Fallback' /v 696e6168 /t REG_SZ /d 'WenQuanYi Micro Hei' /f \
        >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.glyphwright-han-fallback"
fi
# Checked apart from the creation so that a test prefix made before this setting existed gets it too.
if [ "${2:-}" != desktop ] && [ ! -f "$WINEPREFIX/.glyphwright-unmanaged" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.glyphwright-unmanaged"
fi
