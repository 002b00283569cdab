#!/usr/bin/env bash
# Builds the Linux package (.deb, with CPack) and checks it: its name, version and files; that
# every library the executable links, and every one JUCE opens with dlopen, comes from a package
# it depends on; the desktop entry; and that the packaged program starts and shows its window
# (on a private Xvfb; screenshot beside the package).
#
# With --fresh-system it also installs the package with apt-get into a fresh, minimal Debian 12
# (debootstrap; the pristine system is cached in $KX_PACKAGE_CHECK_CACHE, default
# /var/cache/kx-package-check), which pulls in its dependencies from the archive, and starts the
# installed program there. That needs the network and a few minutes the first time.
#
#   bash tools/check-package.sh [--fresh-system] [BUILD_DIR]      (as root; BUILD_DIR default build)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

fresh=false
[ "${1:-}" = --fresh-system ] && { fresh=true; shift; }
build=${1:-build}

fail() { echo "FAILED: $*" >&2; exit 1; }
failures=0
check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

extra=(dpkg-dev desktop-file-utils)
$fresh && extra+=(debootstrap)
bash tools/install-dependencies.sh "${extra[@]}"

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target kx-firmware-updater kx_x11_close >/dev/null
build=$(cd "$build" && pwd)
close_request=$build/tests/app/kx_x11_close
out=$build/package
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack could not build the package"; }
deb=$(ls "$out"/kx-firmware-updater_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack wrote no kx-firmware-updater_*.deb into $out"

work=$(mktemp -d)
mounts=()
cleanup() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[$i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

echo "--- $deb: $(stat -c %s "$deb") bytes"
dpkg-deb -I "$deb" | sed 's/^/  /'
dpkg-deb -c "$deb" | sed 's/^/  /'

field() { dpkg-deb -f "$deb" "$1"; }
# Package names in a Depends-style field, alternatives and versions dropped.
names_in() { tr ',|' '\n\n' <<<"$1" | sed 's/(.*)//; s/[[:space:]]//g; /^$/d' | sort -u; }
depends=$(names_in "$(field Depends)")
recommends=$(names_in "$(field Recommends)")

check "package kx-firmware-updater" test "$(field Package)" = kx-firmware-updater
check "version 1.0.6" test "$(field Version)" = 1.0.6
check "architecture $(dpkg --print-architecture)" test "$(field Architecture)" = "$(dpkg --print-architecture)"

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for f in ./usr/bin/kx-firmware-updater ./usr/share/applications/kx-firmware-updater.desktop \
         ./usr/share/icons/hicolor/256x256/apps/kx-firmware-updater.png ./usr/share/doc/kx-firmware-updater/copyright; do
    check "it holds $f" grep -qx "$f" <<<"$files"
done

dpkg-deb -x "$deb" "$work/root"
exe=$work/root/usr/bin/kx-firmware-updater
check "the executable is stripped" bash -c '! readelf -S "$1" | grep -q "\.debug_info"' _ "$exe"
check "the desktop entry is valid" desktop-file-validate "$work/root/usr/share/applications/kx-firmware-updater.desktop"
check "the icon is a 256 x 256 PNG" bash -c 'identify -format "%m %wx%h" "$1" | grep -qx "PNG 256x256"' _ \
    "$work/root/usr/share/icons/hicolor/256x256/apps/kx-firmware-updater.png"

# The package that provides a library of this system, by its soname.
package_of() {
    local path candidate owner
    path=$(ldconfig -p | awk -v lib="$1" '$1 == lib { print $NF; exit }')
    [ -n "$path" ] || return 1
    # dpkg knows each file by the path its package ships, /lib or /usr/lib.
    for candidate in "$path" "$(readlink -f "$path")" "${path/#\/usr\/lib\//\/lib\/}" "${path/#\/lib\//\/usr\/lib\/}"; do
        owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1)
        [ -n "$owner" ] && { echo "$owner"; return 0; }
    done
    return 1
}

needed=$(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for lib in $needed; do
    package=$(package_of "$lib" || true)
    check "linked $lib comes from a dependency (${package:-no package found})" \
        bash -c '[ -n "$1" ] && grep -qx "$1" <<<"$2"' _ "$package" "$depends"
done
# What JUCE opens at run time: sonames named in the executable that it does not link.
opened=$(strings -a "$exe" | grep -E '^lib[A-Za-z0-9_+-]+\.so\.[0-9]+$' | sort -u | grep -vxF "$needed" || true)
check "JUCE's run-time libraries are found in the executable" grep -q libX11.so.6 <<<"$opened"
for lib in $opened; do
    package=$(package_of "$lib" || true)
    check "dlopen'd $lib comes from a dependency or recommendation (${package:-no package found})" \
        bash -c '[ -n "$1" ] && grep -qx "$1" <<<"$2"' _ "$package" "$depends"$'\n'"$recommends"
done
for package in fontconfig-config fonts-dejavu-core; do
    check "depends on $package (JUCE finds its typefaces through fontconfig's configuration)" grep -qx "$package" <<<"$depends"
done

# Starts PROGRAM (a command, run as given) on a private Xvfb, waits for its window, saves a
# screenshot, closes the window and expects a clean exit.
starts_and_shows_its_window() { # SCREENSHOT COMMAND...
    local shot=$1
    shift
    bash tools/run-with-xvfb.sh bash -c '
        shot=$1 close_request=$2
        shift 2
        "$close_request" intern
        "$@" >"${shot%.png}.log" 2>&1 &
        pid=$!
        window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Tavrek KX Firmware Updater$" | head -n 1) || true
        if [ -z "$window" ]; then kill -9 "$pid" 2>/dev/null; echo "  no window within 30 s"; exit 1; fi
        sleep 2
        import -window "$window" "$shot" && echo "  screenshot: $shot"
        "$close_request" "$window"
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; echo "  it did not quit when closed"; exit 1; fi
        wait "$pid"
    ' starts "$shot" "$close_request" "$@"
}

check "the packaged program starts, shows its window and quits when closed" \
    starts_and_shows_its_window "$out/packaged-program.png" "$exe"

if $fresh; then
    echo "--- a fresh Debian 12: apt-get install ./$(basename "$deb")"
    cache=${KX_PACKAGE_CHECK_CACHE:-/var/cache/kx-package-check}
    pristine=$cache/bookworm-minbase.tar
    mkdir -p "$cache"
    if [ ! -f "$pristine" ]; then
        mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
        [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\?\([^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
        [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
        echo "debootstrap bookworm from $mirror (once; cached in $cache)"
        debootstrap --variant=minbase bookworm "$work/fresh" "$mirror" >"$out/debootstrap.log" 2>&1 ||
            { tail -n 20 "$out/debootstrap.log"; fail "debootstrap failed (see $out/debootstrap.log)"; }
        tar -C "$work/fresh" -cf "$pristine.tmp" . && mv "$pristine.tmp" "$pristine"
        rm -rf "$work/fresh"
    fi
    root=$work/system
    mkdir -p "$root"
    tar -C "$root" -xf "$pristine"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    for m in proc sys dev; do
        mount --rbind "/$m" "$root/$m"
        mounts+=("$root/$m")
    done
    cp "$deb" "$root/tmp/"
    in_fresh() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root DEBIAN_FRONTEND=noninteractive "$@"; }
    before=$(in_fresh dpkg-query -W -f '${Package}\n' | sort)
    in_fresh apt-get update -qq >"$out/fresh-install.log" 2>&1 || { cat "$out/fresh-install.log"; fail "apt-get update failed in the fresh system"; }
    check "apt-get installs the package and its dependencies in a fresh system" \
        in_fresh apt-get install -y --no-install-recommends "/tmp/$(basename "$deb")" >>"$out/fresh-install.log" 2>&1
    after=$(in_fresh dpkg-query -W -f '${Package}\n' | sort)
    echo "  pulled in: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
    check "the installed program is on the PATH" in_fresh sh -c 'command -v kx-firmware-updater'
    # The fresh system shares the X socket of the private display; the program runs inside it.
    mkdir -p "$root/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
    mounts+=("$root/tmp/.X11-unix")
    check "the installed program starts there, shows its window and quits when closed" \
        starts_and_shows_its_window "$out/installed-program.png" \
        bash -c 'exec chroot "$0" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp DISPLAY="$DISPLAY" kx-firmware-updater' "$root"
fi

echo "package: $deb ($(stat -c %s "$deb") bytes, installed size $(field Installed-Size) KiB)"
echo "$failures failed"
[ "$failures" -eq 0 ]
