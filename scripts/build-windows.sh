#!/usr/bin/env bash
# Cross-builds Morvane for 64-bit Windows on Debian 12 and packs
# build-win/morvane-VERSION-windows-x86_64.zip.
#
# Qt 5.15.8 for MinGW-w64 (qtbase, qtsvg, qtserialport) is built once from
# source into a cache outside the source tree and reused by later runs:
#   ${MORVANE_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/morvane}/qt-5.15.8-mingw64
# With MORVANE_QT_MINGW=/path/to/a/Qt/for/mingw (one with lib/cmake/Qt5 and
# host tools that run here) nothing of Qt is built.
#
# Other settings, all optional:
#   MORVANE_JOBS=N             parallel jobs (default: number of cores)
#   MORVANE_NICE=N             niceness of the compile steps (default 19)
#   MORVANE_WIN_TARGETS="..."  Morvane targets to build (default below)
#   MORVANE_QT_SKIP_DEBIAN_PATCHES=1
#                              unpack Debian's qtbase/qtsvg without their patches
#   MORVANE_NO_APT=1           install nothing; the tools must be there
#
# Exit status: 0 when every target built and the zip is packed; 3 when the
# zip is packed but some targets failed (listed at the end); 1 otherwise.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
QT_VERSION=5.15.8
CACHE=${MORVANE_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/morvane}
QT_PREFIX=$CACHE/qt-$QT_VERSION-mingw64
QT_STAMP=$QT_PREFIX/.morvane-qt-complete
WORK=$CACHE/qt-$QT_VERSION-work
JOBS=${MORVANE_JOBS:-$(nproc)}
NICE=(nice -n "${MORVANE_NICE:-19}")
BUILD=$ROOT/build-win
TRIPLE=x86_64-w64-mingw32
TARGETS=${MORVANE_WIN_TARGETS:-morvane translations morvane-cli morvane-sim}
SERIALPORT_TARBALL=$ROOT/../shared/third-party/qtserialport-everywhere-src-$QT_VERSION.tar.xz
SERIALPORT_SHA256=6958041d9f09ec1a03aeb6f1d589025af217883bf5b4f42e2fc8e6eaceb12648

SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)

# ---- timing ---------------------------------------------------------------
STAGE_NAMES=()
STAGE_SECS=()
RUNNING_STAGE=
fmt_secs() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
# Runs "$@" as a stage of the given name and keeps its time. Under set -e a
# failing stage ends the script, and the times are printed on the way out.
timed() {
    local name=$1 rc
    shift
    echo "==> $name"
    RUNNING_STAGE=$name
    RUNNING_SINCE=$(date +%s)
    "$@"
    rc=$?
    STAGE_NAMES+=("$name")
    STAGE_SECS+=($(($(date +%s) - RUNNING_SINCE)))
    RUNNING_STAGE=
    echo "<== $name: $(fmt_secs "${STAGE_SECS[-1]}")$([ $rc -eq 0 ] || echo " (failed, status $rc)")"
    return $rc
}
print_times() {
    local i
    if [ -n "$RUNNING_STAGE" ]; then
        STAGE_NAMES+=("$RUNNING_STAGE (FAILED)")
        STAGE_SECS+=($(($(date +%s) - RUNNING_SINCE)))
    fi
    [ ${#STAGE_NAMES[@]} -gt 0 ] || return 0
    echo
    echo "Stage times:"
    for i in "${!STAGE_NAMES[@]}"; do
        printf '  %-34s %s\n' "${STAGE_NAMES[$i]}" "$(fmt_secs "${STAGE_SECS[$i]}")"
    done
}
trap print_times EXIT

# ---- packages -------------------------------------------------------------
need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "${MORVANE_NO_APT:-0}" = 1 ]; then
        echo "missing packages: ${missing[*]} (MORVANE_NO_APT=1)" >&2
        return 1
    fi
    "${SUDO[@]}" apt-get update
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

install_tools() {
    # The POSIX-threads compilers: std::thread and friends need them.
    local pkgs=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                mingw-w64-x86-64-dev cmake make zip
                qttools5-dev qttools5-dev-tools      # lrelease for the translations runs here
                wine wine64 xvfb xauth imagemagick)  # tests/check_windows.sh runs the zip
    [ -n "${MORVANE_QT_MINGW:-}" ] || pkgs+=(g++ perl python3 dpkg-dev xz-utils)
    need_packages "${pkgs[@]}"
}

# The cross tools under the names Qt's win32-g++ mkspec and CMake expect,
# pointing at the POSIX-threads compilers whatever the system's
# alternatives say.
make_toolchain_dir() {
    local dir=$CACHE/mingw-posix/bin t
    mkdir -p "$dir"
    ln -sf "/usr/bin/$TRIPLE-gcc-posix" "$dir/$TRIPLE-gcc"
    ln -sf "/usr/bin/$TRIPLE-g++-posix" "$dir/$TRIPLE-g++"
    for t in ar ranlib nm objcopy objdump strip windres ld dlltool; do
        ln -sf "/usr/bin/$TRIPLE-$t" "$dir/$TRIPLE-$t"
    done
    "$dir/$TRIPLE-g++" --version | head -1
}

# ---- Qt sources -----------------------------------------------------------
have_deb_src() {
    grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

# Source entries for the mirrors the machine already uses, in the format it
# uses them (one-line lists or deb822 .sources).
enable_deb_src() {
    have_deb_src && return 0
    local f tmp
    tmp=$(mktemp)
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$f" >> "$tmp"
    done
    if [ -s "$tmp" ]; then
        "${SUDO[@]}" install -m 644 "$tmp" /etc/apt/sources.list.d/morvane-deb-src.list
    fi
    : > "$tmp"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$f" >> "$tmp"
        echo >> "$tmp"
    done
    if [ -s "$tmp" ]; then
        "${SUDO[@]}" install -m 644 "$tmp" /etc/apt/sources.list.d/morvane-deb-src.sources
    fi
    rm -f "$tmp"
    "${SUDO[@]}" apt-get update
}

fetch_sources() {
    local src=$WORK/src skip=()
    [ "${MORVANE_QT_SKIP_DEBIAN_PATCHES:-0}" = 1 ] && skip=(--skip-patches)
    mkdir -p "$src"
    if ! ls -d "$src"/qtbase-opensource-src-*/ >/dev/null 2>&1 \
       || ! ls -d "$src"/qtsvg-opensource-src-*/ >/dev/null 2>&1; then
        enable_deb_src
        (cd "$src" && apt-get source --download-only qtbase-opensource-src qtsvg-opensource-src)
        # Debian's patches are its security fixes and backports plus a few
        # for its own ports; none touches the Windows code, so they are
        # applied unless asked not to.
        local dsc
        for dsc in "$src"/qtbase-opensource-src_*.dsc "$src"/qtsvg-opensource-src_*.dsc; do
            (cd "$src" && dpkg-source "${skip[@]}" -x "$(basename "$dsc")")
        done
    fi
    QTBASE_SRC=$(ls -d "$src"/qtbase-opensource-src-*/ | head -1)
    QTSVG_SRC=$(ls -d "$src"/qtsvg-opensource-src-*/ | head -1)
    QTBASE_SRC=${QTBASE_SRC%/}
    QTSVG_SRC=${QTSVG_SRC%/}
    grep -q "$QT_VERSION" "$QTBASE_SRC/.qmake.conf" || { echo "$QTBASE_SRC is not Qt $QT_VERSION" >&2; return 1; }

    QTSERIALPORT_SRC=$src/qtserialport-everywhere-src-$QT_VERSION
    if [ ! -d "$QTSERIALPORT_SRC" ]; then
        [ -f "$SERIALPORT_TARBALL" ] || { echo "missing $SERIALPORT_TARBALL" >&2; return 1; }
        echo "$SERIALPORT_SHA256  $SERIALPORT_TARBALL" | sha256sum -c -
        tar -C "$src" -xJf "$SERIALPORT_TARBALL"
        # The tarball is a plain archive of the repository: give it the
        # generated include/ folder a release tarball has.
        perl "$QTBASE_SRC/bin/syncqt.pl" -module QtSerialPort -version "$QT_VERSION" \
            -outdir "$QTSERIALPORT_SRC" "$QTSERIALPORT_SRC"
    fi
}

# ---- Qt build -------------------------------------------------------------
# Only what Morvane uses: Core, Gui, Widgets, Network (built by qtbase), the
# windows platform plugin and style, PNG (inside QtGui), GIF and ICO.
# -no-feature-tabletevent: Debian's repacked qtbase leaves out
# src/3rdparty/wintab, which the Windows tablet support includes.
QTBASE_ARGS=(
    -prefix "$QT_PREFIX"
    -xplatform win32-g++ -device-option "CROSS_COMPILE=$CACHE/mingw-posix/bin/$TRIPLE-"
    -opensource -confirm-license -release -shared -strip -silent
    -nomake examples -nomake tests
    -no-opengl -no-direct2d -no-dbus -no-icu -no-openssl -no-pkg-config
    -qt-zlib -qt-libpng -no-libjpeg -qt-pcre -qt-harfbuzz -no-freetype -no-fontconfig
    -no-feature-sql -no-feature-testlib -no-feature-xml -no-feature-concurrent
    -no-feature-printer -no-feature-vulkan -no-feature-tabletevent
    -no-feature-bearermanagement
)

in_dir() { local d=$1; shift; (cd "$d" && "$@"); }

# Configures with the command given, builds and installs one Qt module in
# its own folder, each step timed. A module already installed is skipped; one
# configured the same way before goes on building where it was stopped.
build_qt_module() {
    local name=$1 b=$WORK/build/$1
    shift
    if [ -f "$b/.installed" ]; then
        echo "Qt $name: already installed"
        return 0
    fi
    if [ "$(cat "$b/.configured" 2>/dev/null)" != "$*" ]; then
        rm -rf "$b"
        mkdir -p "$b"
        timed "Qt $name configure" in_dir "$b" "${NICE[@]}" "$@"
        echo "$*" > "$b/.configured"
    fi
    timed "Qt $name build" in_dir "$b" "${NICE[@]}" make -j"$JOBS"
    timed "Qt $name install" in_dir "$b" "${NICE[@]}" make install
    touch "$b/.installed"
}

build_qt() {
    case "$QT_PREFIX/" in
        "$ROOT"/*) echo "the Qt cache $QT_PREFIX is inside the source tree; set MORVANE_QT_CACHE" >&2; return 1 ;;
    esac
    timed "Qt sources" fetch_sources
    # The other modules are built against the installed qtbase.
    if [ ! -f "$WORK/build/qtbase/.installed" ]; then
        rm -rf "$QT_PREFIX" "$WORK/build/qtsvg" "$WORK/build/qtserialport"
    fi
    build_qt_module qtbase "$QTBASE_SRC/configure" "${QTBASE_ARGS[@]}"
    build_qt_module qtsvg "$QT_PREFIX/bin/qmake" "$QTSVG_SRC"
    build_qt_module qtserialport "$QT_PREFIX/bin/qmake" "$QTSERIALPORT_SRC"
    printf '%s\n' "${QTBASE_ARGS[@]}" > "$QT_STAMP"
}

# ---- Morvane --------------------------------------------------------------
FAILED=()
BUILT=()
configure_morvane() {
    "${NICE[@]}" cmake -S "$ROOT" -B "$BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DMORVANE_QT_MINGW="$QT" -DMORVANE_MINGW_BIN="$CACHE/mingw-posix/bin" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
}

build_morvane() {
    local t log used_before=0
    rm -rf "$BUILD/logs"
    # A build folder set up with another Qt or other compilers starts over.
    if [ -f "$BUILD/CMakeCache.txt" ] \
       && ! { grep -qxF "MORVANE_QT_MINGW:UNINITIALIZED=$QT" "$BUILD/CMakeCache.txt" \
              && grep -qxF "MORVANE_MINGW_BIN:UNINITIALIZED=$CACHE/mingw-posix/bin" "$BUILD/CMakeCache.txt"; }; then
        echo "build-win was set up with another Qt or compiler: starting it over"
        rm -rf "$BUILD"
    fi
    [ -f "$BUILD/CMakeCache.txt" ] && used_before=1
    mkdir -p "$BUILD/logs"
    # Called where set -e does not act: every failure is checked by hand.
    # A configure that fails in a build folder used before gets one more try
    # in an empty one (a cache left by a failed configure can keep failing).
    if ! configure_morvane; then
        [ $used_before = 1 ] || { FAILED+=("(configure)"); return 1; }
        echo "configure failed in the build-win used before: once more in an empty one"
        rm -rf "$BUILD"
        mkdir -p "$BUILD/logs"
        configure_morvane || { FAILED+=("(configure)"); return 1; }
    fi
    for t in $TARGETS; do
        log=$BUILD/logs/$t.log
        echo "--- $t"
        # -k: a failing file does not hide the next ones in the log.
        if "${NICE[@]}" cmake --build "$BUILD" --target "$t" -j"$JOBS" -- -k > "$log" 2>&1; then
            BUILT+=("$t")
            echo "    built"
        else
            FAILED+=("$t")
            echo "    FAILED (full log: ${log#"$ROOT"/}); first error:"
            grep -m1 -E 'error|Error|undefined reference' "$log" | sed 's/^/      /' || tail -5 "$log"
            echo "    files that failed to compile, with their first error:"
            grep -E '^[^ ]+:[0-9]+:[0-9]+: (fatal )?error:' "$log" | sort -s -t: -k1,1 -u | sed "s|^$ROOT/||; s/^/      /"
        fi
    done
    [ ${#FAILED[@]} -eq 0 ]
}

# Copies into $2 the DLLs that $1 needs and that are found in the Qt or
# MinGW folders, and theirs in turn; Windows' own DLLs are left out.
DLL_DIRS=()
copy_dlls() {
    local file=$1 dest=$2 dll d
    for dll in $("$TRIPLE-objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        [ -f "$dest/$dll" ] && continue
        for d in "${DLL_DIRS[@]}"; do
            if [ -f "$d/$dll" ]; then
                cp "$d/$dll" "$dest/"
                copy_dlls "$dest/$dll" "$dest"
                break
            fi
        done
    done
}

# The licences, the third-party notice with the exact Qt sources and
# configure options when this script built that Qt, and the README for
# Windows users; all with Windows line ends.
QT_3RDPARTY=(zlib/LICENSE libpng/LICENSE pcre2/LICENCE harfbuzz-ng/COPYING
             double-conversion/LICENSE md4c/LICENSE.md)
pack_notices() {
    local stage=$1 f base
    base=$(ls -d "$WORK"/src/qtbase-opensource-src-*/src/3rdparty 2>/dev/null | head -1)
    cp "$ROOT/LICENSE" "$stage/LICENSE.txt"
    cp "$ROOT/packaging/windows/README.txt" "$stage/"
    cp /usr/share/common-licenses/LGPL-3 "$stage/LICENSE.LGPL3.txt"
    cp /usr/share/common-licenses/GPL-3 "$stage/LICENSE.GPL3.txt"
    {
        cat "$ROOT/packaging/windows/QT-NOTICE.txt"
        if [ "$QT" = "$QT_PREFIX" ] && ls "$WORK"/src/*.dsc >/dev/null 2>&1; then
            printf '\nDebian source packages used:\n'
            for f in "$WORK"/src/*.dsc; do echo "  $(basename "$f" .dsc)"; done
            printf '\nQt configure options:\n  %s\n' \
                "$(grep -v '^-prefix\|^/' "$QT_STAMP" | sed "s|$CACHE/mingw-posix/bin/||" | tr '\n' ' ')"
        fi
    } > "$stage/QT-NOTICE.txt"
    if [ -n "$base" ]; then
        for f in "${QT_3RDPARTY[@]}"; do
            printf '==== %s (qtbase/src/3rdparty/%s)\n\n' "${f%%/*}" "$f"
            cat "$base/$f"
            echo
        done > "$stage/THIRD-PARTY.txt"
    fi
    for f in "$stage"/*.txt; do
        sed -i 's/\r*$/\r/' "$f"
    done
}

pack() {
    local version name stage exe p zip
    version=$(sed -nE 's/^project\(Morvane VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
    name=morvane-$version-windows-x86_64
    stage=$BUILD/stage/$name
    zip=$BUILD/$name.zip
    rm -rf "$BUILD/stage" "$zip"
    mkdir -p "$stage"
    DLL_DIRS=("$QT/bin"
              "$(dirname "$("$TRIPLE-g++-posix" -print-libgcc-file-name)")"
              "/usr/$TRIPLE/lib")
    for exe in src/morvane cli/morvane-cli sim/morvane-sim; do
        [ -f "$BUILD/$exe.exe" ] || continue
        cp "$BUILD/$exe.exe" "$stage/"
    done
    # The plugins Qt loads at run time, from folders beside the program.
    for p in platforms/qwindows.dll styles/qwindowsvistastyle.dll \
             imageformats/qsvg.dll imageformats/qico.dll imageformats/qgif.dll \
             iconengines/qsvgicon.dll; do
        [ -f "$QT/plugins/$p" ] || { echo "no $QT/plugins/$p" >&2; continue; }
        mkdir -p "$stage/$(dirname "$p")"
        cp "$QT/plugins/$p" "$stage/$p"
    done
    for exe in "$stage"/*.exe "$stage"/*/*.dll; do
        copy_dlls "$exe" "$stage"
    done
    # Debian's MinGW runtime DLLs carry their debugging symbols (libstdc++
    # is 23 MB with them).
    "$TRIPLE-strip" --strip-unneeded "$stage"/*.exe
    "$TRIPLE-strip" --strip-debug "$stage"/*.dll
    # Morvane reads its catalogue from Qm/ in the folder it is started in.
    if [ -f "$BUILD/Qm/Chinese.qm" ]; then
        mkdir -p "$stage/Qm"
        cp "$BUILD/Qm/Chinese.qm" "$stage/Qm/"
    fi
    pack_notices "$stage"
    (cd "$BUILD/stage" && zip -qr9 "$zip" "$name")
    echo "packed ${zip#"$ROOT"/} ($(du -k "$zip" | cut -f1) KiB):"
    (cd "$BUILD/stage" && find "$name" -type f | sort | sed 's/^/  /')
}

# ---- main -----------------------------------------------------------------
timed "tools" install_tools
if [ -n "${MORVANE_QT_MINGW:-}" ]; then
    QT=$MORVANE_QT_MINGW
    [ -f "$QT/lib/cmake/Qt5/Qt5Config.cmake" ] || { echo "no Qt5 CMake files under $QT" >&2; exit 1; }
    make_toolchain_dir
elif [ -f "$QT_STAMP" ]; then
    QT=$QT_PREFIX
    make_toolchain_dir
    echo "Qt $QT_VERSION for MinGW-w64 from the cache: $QT"
else
    QT=$QT_PREFIX
    make_toolchain_dir
    build_qt
fi

status=0
timed "Morvane (configure and build)" build_morvane || status=$?
if [[ " ${BUILT[*]} " == *" morvane "* ]]; then
    timed "pack" pack
    [ $status -eq 0 ] || status=3
else
    status=1
fi
echo
echo "Built for Windows: ${BUILT[*]:-nothing}"
[ ${#FAILED[@]} -eq 0 ] || echo "Failed: ${FAILED[*]} (logs in build-win/logs/)"
exit $status
