#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks what `cmake --install` and `cpack -G DEB` make of a built tree:
# every file in its GNUInstallDirs place and nothing else, a desktop entry and
# AppStream metainfo that their validators accept and that agree with each
# other, the icon compiled into the program, man pages that cover the
# simulator's options, and a Debian package with the right control fields.
#
#   tests/packaging.sh BUILD_DIR
#
# QUELMAR_VERSION (the project's version) and QUELMAR_HAS_SIM (1 when the
# simulator is built) come from CTest. Exits 77 when a tool it needs is
# missing, 1 when a check fails.
set -uo pipefail

BUILD=$(cd "${1:?usage: packaging.sh BUILD_DIR}" && pwd)
VERSION=${QUELMAR_VERSION:?QUELMAR_VERSION is not set}
HAS_SIM=${QUELMAR_HAS_SIM:-0}
WEB_MODULE_DIR=${QUELMAR_WEB_MODULE_DIR:?QUELMAR_WEB_MODULE_DIR is not set}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

APP_ID=org.norvane.QuelmarCommunicator
ICON=quelmar-communicator
ICON_SIZES=(16 22 24 32 48 64 128 256)

for tool in cmake cpack desktop-file-validate appstreamcli dpkg dpkg-deb dpkg-shlibdeps \
            file gzip od ldd readelf nm lintian systemd-analyze; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (Debian packages: cmake desktop-file-utils appstream dpkg-dev file binutils lintian systemd)"
        exit 77
    fi
done

WORK=$BUILD/packaging-test
rm -rf "$WORK"
mkdir -p "$WORK"

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: one named outcome
    local what=$1; shift
    if "$@" >"$WORK/last.out" 2>&1; then
        passed=$((passed + 1))
        echo "ok - $what"
    else
        failed=$((failed + 1))
        echo "not ok - $what"
        sed 's/^/    /' "$WORK/last.out" | head -n 20
    fi
}

# --- helpers, each one a yes/no question ------------------------------------

is_elf_executable() { [ -x "$1" ] && file -b "$1" | grep -q '^ELF'; }
png_of_size() { file -b "$1" | grep -q "^PNG image data, $2 x $2,"; }
is_svg() { file -b "$1" | grep -qi 'SVG'; }
man_page_ok() {  # gzip intact, and the title line names the page and section 1
    gzip -t "$1" && gzip -dc "$1" | grep -q "^\.TH $2 1 "
}
silent_validation() {
    local out
    if ! out=$(desktop-file-validate "$1" 2>&1) || [ -n "$out" ]; then
        echo "$out"
        return 1
    fi
}
desktop_value() { sed -n "s/^$2=//p" "$1" | head -n 1; }
same() { [ "$1" = "$2" ] || { echo "expected '$2', got '$1'"; return 1; }; }
contains_word() {  # contains_word "a, b (>= 1), c" b: a package in a Depends list
    printf '%s\n' "$1" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$2" \
        || { echo "'$2' not in: $1"; return 1; }
}
# The PNG's bytes appear whole in the binary: the resource is compiled in.
holds_bytes() {
    od -An -v -tx1 "$1" | tr -d ' \n' >"$WORK/hay.hex"
    od -An -v -tx1 "$2" | tr -d ' \n' >"$WORK/needle.hex"
    [ -s "$WORK/needle.hex" ] && grep -qFf "$WORK/needle.hex" "$WORK/hay.hex"
}
synopsis_and_text() {
    local first second
    first=$(sed -n 1p <<<"$1")
    second=$(sed -n 2p <<<"$1")
    if [ -z "$first" ] || [ -z "$second" ] || [ "$second" = " $first" ]; then
        echo "$1"
        return 1
    fi
}
deps_resolve() { ! ldd "$1" | grep -q 'not found' || { ldd "$1"; return 1; }; }
is_stripped() { file -b "$1" | grep -q ', stripped'; }
# Debian's hardening: immediate binding with RELRO, a position-independent
# executable, the stack protector and fortified C library calls.
hardened() {
    local dynamic symbols headers
    dynamic=$(readelf -d "$1") symbols=$(nm -D "$1") headers=$(readelf -lW "$1")
    grep -q 'FLAGS_1.*NOW.*PIE' <<<"$dynamic" && grep -q GNU_RELRO <<<"$headers" \
        && grep -q ' U __stack_chk_fail' <<<"$symbols" && grep -qE ' U __[a-z]+_chk@' <<<"$symbols" \
        || { grep FLAGS <<<"$dynamic"; grep _chk <<<"$symbols"; return 1; }
}
no_section() { ! readelf -SW "$1" | grep -qE " $2 " || { echo "$1 has $2"; return 1; }; }
lintian_clean() {  # no error and no warning, pedantic info tags allowed
    lintian --tag-display-limit 0 "$1" >"$WORK/lintian.out" 2>&1
    ! grep -E '^[EW]: ' "$WORK/lintian.out" || return 1
}
# Every option the simulator's --help lists is described in its man page.
man_covers_help() {  # man_covers_help HELP PAGE [AT-LEAST]
    local help=$1 page=$2 least=${3:-10} text opts opt missing=0
    text=$(gzip -dc "$page" | sed 's/\\-/-/g')
    opts=$(sed -n 's/^ *\(-[a-zA-Z?], \)\?\(--[a-z-]*\).*/\2/p' "$help")
    [ "$(wc -w <<<"$opts")" -ge "$least" ] || { echo "too few options read from --help:"; cat "$help"; return 1; }
    for opt in $opts; do
        grep -qE -e "${opt}([^a-z-]|$)" <<<"$text" || { echo "man page lacks $opt"; missing=1; }
    done
    return $missing
}

# --- 0. The licence ------------------------------------------------------------

# Every source file names its licence in an SPDX line.
spdx_everywhere() {
    local missing
    missing=$(find "$ROOT" -path "$ROOT/build*" -prune -o -path "$ROOT/.git" -prune -o -type f \
                   \( -name '*.cpp' -o -name '*.h' -o -name '*.in' -o -name '*.cmake' -o -name CMakeLists.txt \
                      -o -name '*.sh' -o -name '*.ui' -o -name '*.1' -o -name '*.desktop' -o -name '*.service' \) \
                   ! -name changelog.in -print | xargs grep -L 'SPDX-License-Identifier: GPL-3.0-or-later')
    [ -z "$missing" ] || { echo "$missing"; return 1; }
}
check "the licence text is there" grep -q 'GNU GENERAL PUBLIC LICENSE' "$ROOT/LICENSE"
check "every source file has its SPDX line" spdx_everywhere

# --- 1. cmake --install into a DESTDIR ----------------------------------------

DEST=$WORK/destdir
check "cmake --install into a DESTDIR" \
    env DESTDIR="$DEST" cmake --install "$BUILD" --prefix /usr
U=$DEST/usr

expected=(
    "usr/bin/quelmar-communicator"
    "usr/bin/quelmar-log"
    "usr/lib/systemd/user/quelmar-log@.service"
    "usr/share/man/man1/quelmar-log.1.gz"
    "usr/share/applications/$APP_ID.desktop"
    "usr/share/metainfo/$APP_ID.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$ICON.svg"
    "usr/share/man/man1/quelmar-communicator.1.gz"
    "usr/share/doc/quelmar-communicator/copyright"
    "usr/share/doc/quelmar-communicator/changelog.gz"
    "usr/$WEB_MODULE_DIR/quelmar-log-web.so"
)
for size in "${ICON_SIZES[@]}"; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$ICON.png")
done
if [ "$HAS_SIM" = 1 ]; then
    expected+=("usr/bin/quelmar-meter-sim" "usr/share/man/man1/quelmar-meter-sim.1.gz")
fi
printf '%s\n' "${expected[@]}" | sort >"$WORK/expected-files"
(cd "$DEST" 2>/dev/null && find . -type f -o -type l | sed 's|^\./||' | sort) >"$WORK/installed-files"
check "installs exactly the expected files" diff -u "$WORK/expected-files" "$WORK/installed-files"

check "the program is an executable in bin" is_elf_executable "$U/bin/quelmar-communicator"
for program in quelmar-communicator quelmar-log; do
    check "$program is built with Debian's hardening" hardened "$U/bin/$program"
done
DOC=$U/share/doc/quelmar-communicator
check "the copyright file is machine-readable and names the licence" \
    grep -qx 'License: GPL-3.0-or-later' "$DOC/copyright"
check "the copyright file has the DEP-5 format line" \
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$DOC/copyright"
check "the changelog's entry is this version" \
    bash -c "gzip -dc '$DOC/changelog.gz' | head -n1 | grep -q '^quelmar-communicator ($VERSION) '"
check "the program's libraries all resolve" deps_resolve "$U/bin/quelmar-communicator"
check "the window icon is compiled into the program" \
    holds_bytes "$U/bin/quelmar-communicator" "$ROOT/resources/icons/$ICON-256.png"
check "the scalable icon is an SVG" is_svg "$U/share/icons/hicolor/scalable/apps/$ICON.svg"
for size in "${ICON_SIZES[@]}"; do
    check "the ${size}x${size} icon is a PNG of that size" \
        png_of_size "$U/share/icons/hicolor/${size}x${size}/apps/$ICON.png" "$size"
done
check "the program's man page is a compressed section 1 page" \
    man_page_ok "$U/share/man/man1/quelmar-communicator.1.gz" QUELMAR-COMMUNICATOR
check "the logger is an executable in bin" is_elf_executable "$U/bin/quelmar-log"
check "the logger needs no widgets" bash -c "! ldd '$U/bin/quelmar-log' | grep -q Widgets"
check "the logger's man page is a compressed section 1 page" \
    man_page_ok "$U/share/man/man1/quelmar-log.1.gz" QUELMAR-LOG
"$U/bin/quelmar-log" --help >"$WORK/log-help.txt" 2>&1
check "the logger's man page describes every option of --help" \
    man_covers_help "$WORK/log-help.txt" "$U/share/man/man1/quelmar-log.1.gz" 5
check "the service appends to ~/quelmar/INSTANCE.csv from its instance's port, the file's options split at blanks" \
    grep -qxF 'ExecStart=quelmar-log --port %I $QUELMAR_LOG_OPTIONS --append %h/quelmar/%i.csv' "$U/lib/systemd/user/quelmar-log@.service"
check "the service takes more options from the user's environment file, if there is one" \
    grep -qx -e 'EnvironmentFile=-%E/quelmar/quelmar-log.env' "$U/lib/systemd/user/quelmar-log@.service"
check "the service waits for the logger to say it is ready, and watches it" \
    bash -c "grep -qx 'Type=notify' '$U/lib/systemd/user/quelmar-log@.service' && grep -qx 'WatchdogSec=30' '$U/lib/systemd/user/quelmar-log@.service'"
check "the service is restarted 10 s after a failure, but not after a usage error, a refused broker or no MQTT library" \
    bash -c "grep -qx 'Restart=on-failure' '$U/lib/systemd/user/quelmar-log@.service' && grep -qx 'RestartSec=10' '$U/lib/systemd/user/quelmar-log@.service' && grep -qx 'RestartPreventExitStatus=2 5 6' '$U/lib/systemd/user/quelmar-log@.service'"
mkdir -p "$WORK/unit"
sed "s|^ExecStart=quelmar-log |ExecStart=$U/bin/quelmar-log |" "$U/lib/systemd/user/quelmar-log@.service" \
    >"$WORK/unit/quelmar-log@ttyUSB0.service"
check "systemd-analyze verify has nothing to say about an instance of the service" \
    bash -c "out=\$(systemd-analyze verify --man=no '$WORK/unit/quelmar-log@ttyUSB0.service' 2>&1) && [ -z \"\$out\" ] || { echo \"\$out\"; false; }"
check "the window does not load the MQTT library" bash -c "! ldd '$U/bin/quelmar-communicator' | grep -q mosquitto"
check "the logger loads the MQTT library only for --mqtt" bash -c "! ldd '$U/bin/quelmar-log' | grep -q mosquitto"
check "the logger loads libsystemd only under a service manager" bash -c "! ldd '$U/bin/quelmar-log' | grep -q libsystemd"
check "the logger maps Qt Network only for --listen" bash -c "! ldd '$U/bin/quelmar-log' | grep -q Network"
check "the installed logger finds its web module" \
    bash -c "'$U/bin/quelmar-log' --port '$WORK/no-meter' --duration 1 --listen 0 '$WORK/listen.csv' 2>&1 | grep -q 'serving the readings on http://127.0.0.1:'"
"$U/bin/quelmar-communicator" --help >"$WORK/help.txt" 2>&1
check "the program's man page describes every option of --help" \
    man_covers_help "$WORK/help.txt" "$U/share/man/man1/quelmar-communicator.1.gz" 3

if [ "$HAS_SIM" = 1 ]; then
    check "the simulator is an executable in bin" is_elf_executable "$U/bin/quelmar-meter-sim"
    check "the simulator's man page is a compressed section 1 page" \
        man_page_ok "$U/share/man/man1/quelmar-meter-sim.1.gz" QUELMAR-METER-SIM
    "$U/bin/quelmar-meter-sim" --help >"$WORK/sim-help.txt" 2>&1
    check "the simulator's man page describes every option of --help" \
        man_covers_help "$WORK/sim-help.txt" "$U/share/man/man1/quelmar-meter-sim.1.gz" 10
fi

# --- 2. Desktop entry and metainfo ---------------------------------------------

DESKTOP=$U/share/applications/$APP_ID.desktop
METAINFO=$U/share/metainfo/$APP_ID.metainfo.xml
check "desktop-file-validate finds nothing to say, not even a hint" silent_validation "$DESKTOP"
check "the desktop entry's name" same "$(desktop_value "$DESKTOP" Name)" "Quelmar Communicator"
exec_cmd=$(desktop_value "$DESKTOP" Exec)
check "the desktop entry starts the installed program" \
    test -x "$U/bin/${exec_cmd%% *}" -a "${exec_cmd%% *}" = quelmar-communicator
check "the desktop entry's icon is installed under that name" \
    test -f "$U/share/icons/hicolor/scalable/apps/$(desktop_value "$DESKTOP" Icon).svg"
check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$METAINFO"
check "the metainfo id is the file's name" \
    grep -q "<id>$APP_ID</id>" "$METAINFO"
check "the metainfo names the licences" \
    grep -q "<project_license>GPL-3.0-or-later</project_license>" "$METAINFO"
check "the metainfo's release is this version" grep -q "<release version=\"$VERSION\"" "$METAINFO"
check "the metainfo launches the installed desktop entry" \
    grep -q "<launchable type=\"desktop-id\">$(basename "$DESKTOP")</launchable>" "$METAINFO"

# --- 3. The Debian package ----------------------------------------------------

check "cpack builds a Debian package" \
    cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/cpack"
ARCH=$(dpkg --print-architecture)
DEB=$WORK/cpack/quelmar-communicator_${VERSION}_${ARCH}.deb
check "the package file is named after package, version and architecture" test -f "$DEB"
if [ -f "$DEB" ]; then
    field() { dpkg-deb -f "$DEB" "$1"; }
    check "Package field" same "$(field Package)" quelmar-communicator
    check "Version field" same "$(field Version)" "$VERSION"
    check "Architecture field" same "$(field Architecture)" "$ARCH"
    check "Section field" same "$(field Section)" electronics
    check "Description has a synopsis line and a long text that does not repeat it" \
        synopsis_and_text "$(field Description)"
    check "Maintainer field has a name and an address" \
        grep -qE '^[^<]+ <[^@> ]+@[^> ]+>$' <<<"$(field Maintainer)"
    check "Depends names libqt6serialport6" contains_word "$(field Depends)" libqt6serialport6
    check "Depends names libqt6widgets6" contains_word "$(field Depends)" libqt6widgets6
    check "Depends names libqt6charts6" contains_word "$(field Depends)" libqt6charts6
    check "Depends names libc6" contains_word "$(field Depends)" libc6
    check "Depends names libmosquitto1, the logger's MQTT client" contains_word "$(field Depends)" libmosquitto1
    check "Depends names libsystemd0, the logger's service notifications" contains_word "$(field Depends)" libsystemd0
    check "Depends names fonts-liberation2, the window's font" \
        contains_word "$(field Depends)" fonts-liberation2
    check "Depends names libjs-chart.js, the chart of the logger's page" contains_word "$(field Depends)" libjs-chart.js
    check "Depends names libqt6httpserver6, the logger's web module" contains_word "$(field Depends)" libqt6httpserver6

    # The package holds the same files as the DESTDIR install, under /usr.
    dpkg-deb -x "$DEB" "$WORK/unpacked"
    (cd "$WORK/unpacked" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$WORK/packaged-files"
    check "the package holds exactly the installed files" \
        diff -u "$WORK/expected-files" "$WORK/packaged-files"
    check "lintian finds no error and no warning" lintian_clean "$DEB"
    for program in quelmar-communicator quelmar-log; do
        check "the packaged $program is stripped" is_stripped "$WORK/unpacked/usr/bin/$program"
        check "the packaged $program has no .comment section" no_section "$WORK/unpacked/usr/bin/$program" .comment
    done
    check "the packaged program still holds the window icon" \
        holds_bytes "$WORK/unpacked/usr/bin/quelmar-communicator" "$ROOT/resources/icons/$ICON-256.png"
fi

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
