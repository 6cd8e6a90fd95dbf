# Sourced by the scripts: a private 64-bit Wine prefix inside an architecture's build folder, created once, and the
# Wine loader that runs that folder's programs.
# Usage: source scripts/wine-env.sh BUILD_DIR [desktop]      (BUILD_DIR: ROOT/x86 or ROOT/x64)
# Without "desktop" this is the prefix of the tests and benchmarks (BUILD_DIR/wineprefix), whose windows are not
# managed by a window manager: under Xvfb there is none, and Wine waits about 2 s for every managed window that
# is hidden. "desktop" is the prefix for running the program on a real display (BUILD_DIR/wineprefix-desktop),
# where the window manager should frame and place the windows as usual.
#
# Every "wine" the scripts and the tests start is BUILD_DIR/wine-bin/wine, put first on PATH here: the 32-bit
# folder's starts Wine's 32-bit loader, the 64-bit folder's the 64-bit loader directly (with WINELOADER naming it
# for the processes Wine starts itself), so the 64-bit program also runs where no 32-bit code can.
gw_build=${1:?build folder}
mkdir -p "$gw_build" && gw_build=$(cd "$gw_build" && pwd)
gw_root=$(dirname "$gw_build")
source "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
gw_arch=$(sed -n 's/^GW_ARCH:INTERNAL=//p' "$gw_build/CMakeCache.txt" 2>/dev/null || true)
gw_arch=${gw_arch:-x86}
if [ "$gw_arch" = x86 ]; then
    gw_probe_x86
    if [ "$gw_x86_runs" != 1 ]; then
        echo "wine: cannot run the 32-bit program: $gw_x86_reason" >&2
        exit 1
    fi
    gw_loader=$gw_loader32
    unset WINELOADER
else
    gw_loader=$gw_loader64
    export WINELOADER=$gw_loader64
fi
if [ ! -x "$gw_loader" ]; then
    echo "wine: Wine's loader $gw_loader is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi
mkdir -p "$gw_build/wine-bin"
if [ "$(cat "$gw_build/wine-bin/wine" 2>/dev/null)" != "$(printf '#!/bin/sh\nexec %s "$@"' "$gw_loader")" ]; then
    printf '#!/bin/sh\nexec %s "$@"' "$gw_loader" >"$gw_build/wine-bin/wine.part"
    chmod +x "$gw_build/wine-bin/wine.part"
    mv "$gw_build/wine-bin/wine.part" "$gw_build/wine-bin/wine"
fi
case ":$PATH:" in *":$gw_build/wine-bin:"*) ;; *) export PATH="$gw_build/wine-bin:$PATH" ;; esac

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
    echo "wine: creating prefix $WINEPREFIX ($gw_loader)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$gw_build"
    # Into a file, not a pipe: the services Wine starts keep their standard output open for as long as they run.
    if ! wine wineboot.exe -i >"$gw_build/wineboot.log" 2>&1 </dev/null; then
        echo "wine: could not create the prefix $WINEPREFIX: $gw_loader wineboot.exe -i failed:" >&2
        tail -n 5 "$gw_build/wineboot.log" >&2
        exit 1
    fi
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
