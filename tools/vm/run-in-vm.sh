#!/usr/bin/env bash
# Runs a command inside a small qemu VM that has a real ALSA sequencer, and exits with the
# command's status. The VM sees this machine's root read-only (and the directories given with
# -w writable, at the same paths) and starts the command in the current directory. /tmp and /run
# are fresh, empty tmpfs in the VM: share a directory under them with -w to see it there.
#
#   bash tools/vm/run-in-vm.sh [-w DIR]... [-t SECONDS] [--] COMMAND [ARG]...
#
# First use fetches a Debian kernel with apt-get and builds an initramfs; both are cached in
# $KX_VM_CACHE (default /var/cache/kx-vm). Software emulation only: no KVM needed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${KX_VM_CACHE:-/var/cache/kx-vm}
timeout_s=${KX_VM_TIMEOUT:-1800}
memory=${KX_VM_MEMORY:-1024}
# One vCPU: the guest's processes then share time fairly under emulation, and this load gains
# nothing from more.
cpus=${KX_VM_CPUS:-1}
modules=(netfs fscache 9pnet virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
         9pnet_virtio 9p soundcore snd snd-timer snd-seq-device snd-seq)

die() { echo "run-in-vm: $*" >&2; exit 125; }

shares=()
while [ $# -gt 0 ]; do
    case "$1" in
        -w) [ $# -ge 2 ] || die "-w needs a directory"
            [ -d "$2" ] || die "no such directory: $2"
            shares+=("$(cd "$2" && pwd)"); shift 2 ;;
        -t) [ $# -ge 2 ] || die "-t needs a number of seconds"; timeout_s=$2; shift 2 ;;
        --) shift; break ;;
        -*) die "unknown option $1" ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || die "usage: run-in-vm.sh [-w DIR]... [-t SECONDS] [--] COMMAND [ARG]..."

# Tools of the host.
bash "$here/../install-dependencies.sh" qemu-system-x86 busybox-static alsa-utils \
    || die "could not install qemu-system-x86, busybox-static and alsa-utils with apt-get"
for tool in qemu-system-x86_64 dpkg apt-get base64 timeout; do
    command -v "$tool" >/dev/null || die "$tool is missing"
done
[ -x /bin/busybox ] || die "/bin/busybox is missing (package busybox-static)"
mkdir -p "$cache" || die "cannot create the cache directory $cache"

# The kernel: the image package that linux-image-amd64 currently depends on, unpacked, never installed.
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1; }
package=$(kernel_package)
if [ -z "$package" ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    package=$(kernel_package)
fi
if [ -z "$package" ]; then
    # Offline: fall back to any kernel unpacked earlier.
    package=$(ls "$cache/kernels" 2>/dev/null | sort -V | tail -1 || true)
    [ -n "$package" ] || die "cannot tell which kernel package linux-image-amd64 depends on (apt-get update failed?)"
fi
kdir=$cache/kernels/$package
wanted=$(printf '%s\n' "${modules[@]}")
if [ ! -f "$kdir/vmlinuz" ] || [ "$(cat "$kdir/wanted" 2>/dev/null)" != "$wanted" ]; then
    echo "run-in-vm: fetching $package (once; cached in $cache)" >&2
    work=$(mktemp -d "$cache/fetch.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && apt-get download "$package" >/dev/null 2>&1) || die "apt-get download $package failed"
    dpkg -x "$work"/*.deb "$work/root" || die "cannot unpack $package"
    mkdir -p "$work/kernel/modules"
    cp "$work"/root/boot/vmlinuz-* "$work/kernel/vmlinuz"
    for m in "${modules[@]}"; do
        file=$(find "$work/root/lib/modules" -name "$m.ko" | head -1)
        if [ -n "$file" ]; then
            cp "$file" "$work/kernel/modules/"
            echo "$m" >>"$work/kernel/modules/order"
        elif ! grep -q "/$m.ko\$" "$work"/root/lib/modules/*/modules.builtin; then
            die "$package has no module $m.ko, neither loadable nor built in"
        fi
    done
    rm -rf "$kdir" && mkdir -p "$cache/kernels" && mv "$work/kernel" "$kdir"
    printf '%s\n' "$wanted" >"$kdir/wanted"
    rm -rf "$work"
    trap - EXIT
    # One kernel is enough: drop those that linux-image-amd64 has moved away from.
    find "$cache/kernels" -mindepth 1 -maxdepth 1 ! -name "$package" -exec rm -rf {} +
fi

# The initramfs: busybox, our init and the modules; rebuilt whenever one of them changes.
stamp=$( (cat "$here/init" /bin/busybox "$kdir/modules/order"; ls -l "$kdir/modules") | sha256sum | cut -c1-16)
initrd=$kdir/initrd-$stamp.cpio
if [ ! -f "$initrd" ]; then
    stage=$(mktemp -d "$cache/initrd.XXXXXX")
    mkdir -p "$stage"/{bin,dev,proc,sys,mnt/root,modules}
    cp /bin/busybox "$stage/bin/busybox"
    cp "$here/init" "$stage/init" && chmod 755 "$stage/init"
    cp "$kdir"/modules/*.ko "$kdir/modules/order" "$stage/modules/"
    (cd "$stage" && find . | /bin/busybox cpio -o -H newc >"$initrd.tmp" 2>/dev/null)
    rm -f "$kdir"/initrd-*.cpio
    mv "$initrd.tmp" "$initrd"
    rm -rf "$stage"
fi

# The command, run by bash in the current directory; passed base64-encoded on the kernel line.
script="cd $(printf '%q' "$PWD") || exit 125"$'\n'"exec$(printf ' %q' "$@")"
nonce=$RANDOM$RANDOM
append="console=ttyS0 quiet loglevel=1 panic=-1 kx.nonce=$nonce kx.cmd=$(printf '%s' "$script" | base64 -w0)"
virtfs=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap")
if [ ${#shares[@]} -gt 0 ]; then
    append+=" kx.shares=$(printf '%s\n' "${shares[@]}" | base64 -w0)"
    for i in "${!shares[@]}"; do
        virtfs+=(-virtfs "local,path=${shares[$i]},mount_tag=kxw$i,security_model=none,multidevs=remap")
    done
fi
[ ${#append} -lt 2000 ] || die "the command is too long for the kernel command line"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
timeout -k 10 "$timeout_s" qemu-system-x86_64 -accel tcg -m "$memory" -smp "$cpus" -nographic -no-reboot \
    -nic none -kernel "$kdir/vmlinuz" -initrd "$initrd" -append "$append" "${virtfs[@]}" </dev/null \
    | tr -d '\r' | sed -u 's/\x1b[[(][0-9;?]*[a-zA-Z]//g; s/\x1bc//g' | tee "$log" \
    | grep --line-buffered -v -E "^KX-VM-STATUS-$nonce=|^SeaBIOS \(version|^Booting from ROM|\] reboot: Power down"
qemu_status=${PIPESTATUS[0]}
set -e

[ "$qemu_status" -ne 124 ] || die "the VM did not finish within $timeout_s s"
status=$(sed -n "s/^KX-VM-STATUS-$nonce=\([0-9]*\)$/\1/p" "$log" | tail -1)
[ -n "$status" ] || die "the VM stopped without reporting the command's status (qemu exit $qemu_status)"
exit "$status"
