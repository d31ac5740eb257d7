#!/usr/bin/env bash
# The virtual machine stage: tessaly, statically linked, checks disks that a
# real Linux kernel presents through USB mass storage and its SCSI generic
# driver, in qemu under software emulation.
#
#   tests/vm/run_vm_tests.sh [--build DIR] [--cache DIR] [--jobs N] [--only TEXT]
#                            [--cases DIR]
#
# --build  where the static build goes (default build-vm in the checkout)
# --cache  where the Debian kernel package is kept between runs (default
#          $XDG_CACHE_HOME/tessaly-vm or ~/.cache/tessaly-vm)
# --cases  the folder of cases (default tests/vm/cases; the benchmark has its
#          own under bench/vm-cases)
# Needs qemu-system-x86, busybox-static, cmake, g++, python3 and apt-get (the
# kernel package is downloaded and unpacked, never installed).
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$repo/build-vm
cache=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/tessaly-vm
cases=$repo/tests/vm/cases
runner_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --cases) cases=$(cd "$2" && pwd); shift 2 ;;
    --jobs|--only|--timeout) runner_args+=("$1" "$2"); shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--cache DIR] [--jobs N] [--only TEXT] [--cases DIR]" >&2; exit 2 ;;
  esac
done
build=$(mkdir -p "$build" && cd "$build" && pwd)
mkdir -p "$cache"

# The kernel package linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 2> /dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

fetch_kernel() {
  local package
  package=$(kernel_package)
  if [ -z "$package" ]; then
    apt-get update -qq
    package=$(kernel_package)
  fi
  [ -n "$package" ] || { echo "no Debian kernel package found" >&2; exit 1; }
  kernel_dir=$cache/$package
  if [ ! -f "$kernel_dir/vmlinuz" ]; then
    echo "fetching $package"
    rm -rf "$kernel_dir" && mkdir -p "$kernel_dir"
    (cd "$kernel_dir" && apt-get download -q "$package" > /dev/null 2>&1 ||
       apt-get download "$package")
    dpkg-deb -x "$kernel_dir"/"$package"_*.deb "$kernel_dir/root"
    rm -f "$kernel_dir"/"$package"_*.deb
    cp "$kernel_dir"/root/boot/vmlinuz-* "$kernel_dir/vmlinuz"
  fi
  modules=$(echo "$kernel_dir"/root/lib/modules/*)
}

build_static() {
  # The project's usual optimisation (-O2), stripped to keep the initramfs small.
  cmake -S "$repo" -B "$build" -DTESSALY_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_EXE_LINKER_FLAGS=-static -s" > "$build/configure.log"
  cmake --build "$build" -j2 --target tessaly tessaly-undo tessaly-mkdisk > "$build/build.log" 2>&1 ||
    { cat "$build/build.log" >&2; exit 1; }
}

find_busybox() {
  busybox=/bin/busybox
  # ldd fails on a statically linked program ("not a dynamic executable").
  if [ ! -x "$busybox" ] || ldd "$busybox" > /dev/null 2>&1; then
    echo "$busybox is not statically linked: install busybox-static" >&2
    exit 1
  fi
}

started=$(date +%s)
fetch_kernel
build_static
find_busybox
python3 "$repo/tests/vm/vm_cases.py" --kernel "$kernel_dir/vmlinuz" --modules "$modules" \
  --busybox "$busybox" --tessaly "$build/tessaly" --undo "$build/tessaly-undo" --maker "$build/tessaly-mkdisk" \
  --work "$build/vm-work" "${runner_args[@]}" "$cases"
echo "virtual machine stage: $(( $(date +%s) - started )) s"
