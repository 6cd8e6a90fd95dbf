# Sourced by the scripts: the two programs (x86, the 32-bit one, and x64, the native 64-bit one), where each is
# built, and whether this machine can run 32-bit code at all.
# Usage: source scripts/arch.sh     The build root, in which each architecture builds in ROOT/<arch>, is gw_root when
# the caller set it, else BUILD_DIR, else build/ (relative to the source folder).
#
# Some machines boot with the kernel's 32-bit emulation off: every i386 program fails there with "Exec format
# error", Wine's 32-bit loader included, and Debian's wine/wineboot wrappers pick that loader whenever it is
# installed. Only Wine's 64-bit loader, called directly, runs on such a machine, and only the 64-bit program.
gw_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
gw_root=${gw_root:-${BUILD_DIR:-build}}
case "$gw_root" in /*) ;; *) gw_root="$gw_source/$gw_root" ;; esac
gw_loader32=/usr/lib/wine/wine
gw_loader64=/usr/lib/wine/wine64

gw_toolchain() {
    case "$1" in
    x86) echo "$gw_source/cmake/mingw-i686.cmake" ;;
    x64) echo "$gw_source/cmake/mingw-x86_64.cmake" ;;
    *) return 1 ;;
    esac
}

gw_describe() {
    case "$1" in
    x86) echo "32-bit program" ;;
    x64) echo "64-bit program" ;;
    esac
}

# The architectures GW_ARCH asks for (both when unset); an unknown value ends the script.
gw_wanted_arches() {
    case "${GW_ARCH:-}" in
    '') echo "x86 x64" ;;
    x86 | x64) echo "$GW_ARCH" ;;
    *)
        echo "GW_ARCH must be x86 or x64, not '$GW_ARCH'" >&2
        exit 2
        ;;
    esac
}

# Sets gw_x86_runs (1 or 0) and gw_x86_reason (why not). The answer is kept in ROOT/x86-probe for this boot and
# this loader file, so that it costs one stat afterwards.
gw_probe_x86() {
    local key cache="$gw_root/x86-probe" out rc
    gw_x86_runs=0
    gw_x86_reason=
    if [ ! -e "$gw_loader32" ]; then
        gw_x86_reason="Wine's 32-bit loader $gw_loader32 is not installed (package wine32:i386; scripts/setup.sh installs it)"
        return 0
    fi
    key="$(cat /proc/sys/kernel/random/boot_id 2>/dev/null) $(stat -L -c '%d:%i:%s:%Y' "$gw_loader32")"
    if [ -f "$cache" ] && [ "$(sed -n 1p "$cache")" = "$key" ]; then
        gw_x86_runs=$(sed -n 2p "$cache")
        gw_x86_reason=$(sed -n 3p "$cache")
        return 0
    fi
    out=$("$gw_loader32" --version 2>&1 </dev/null) && rc=0 || rc=$?
    if [ "$rc" = 0 ]; then
        gw_x86_runs=1
    elif [ "$rc" = 126 ] || grep -qi "exec format error" <<<"$out"; then
        gw_x86_reason="this machine cannot run 32-bit programs (kernel: ia32 emulation off)"
    else
        gw_x86_reason="Wine's 32-bit loader fails here (exit $rc: $(head -n1 <<<"$out"))"
    fi
    mkdir -p "$gw_root"
    printf '%s\n%s\n%s\n' "$key" "$gw_x86_runs" "$gw_x86_reason" >"$cache.part" && mv "$cache.part" "$cache"
}

# Configures and builds one architecture's folder (Release); extra arguments go to the build (e.g. --target X).
gw_build() {
    local arch=$1
    shift
    cmake -S "$gw_source" -B "$gw_root/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(gw_toolchain "$arch")" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build "$gw_root/$arch" "$@"
}

# The program a script runs: GW_ARCH's, else the 32-bit one where this machine runs it, else the 64-bit one. Sets
# gw_pick, gw_pick_build (its build folder) and gw_pick_note (which program, and why), which is also said on standard
# error after the name given; ends the script when GW_ARCH asks for what can't run here.
gw_pick_arch() {
    gw_probe_x86
    case "${GW_ARCH:-}" in
    '')
        if [ "$gw_x86_runs" = 1 ]; then
            gw_pick=x86
            gw_pick_note="running the 32-bit program"
        else
            gw_pick=x64
            gw_pick_note="$gw_x86_reason; using the 64-bit program"
        fi
        ;;
    x86)
        if [ "$gw_x86_runs" != 1 ]; then
            echo "GW_ARCH=x86, but $gw_x86_reason" >&2
            exit 1
        fi
        gw_pick=x86
        gw_pick_note="running the 32-bit program (GW_ARCH)"
        ;;
    x64)
        gw_pick=x64
        gw_pick_note="running the 64-bit program (GW_ARCH)"
        ;;
    *)
        echo "GW_ARCH must be x86 or x64, not '$GW_ARCH'" >&2
        exit 2
        ;;
    esac
    gw_pick_build="$gw_root/$gw_pick"
    [ -z "${1:-}" ] || echo "$1: $gw_pick_note" >&2
}
