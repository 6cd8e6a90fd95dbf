# Sourced by the scripts: a private 64-bit Wine prefix inside the build folder, created once.
# Usage: source scripts/wine-env.sh BUILD_DIR
gw_build=${1:?build folder}
export WINEPREFIX="$gw_build/wineprefix"
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
