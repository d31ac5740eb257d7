#!/usr/bin/env bash
# The read-ahead benchmark in the virtual machine of the VM stage: one boot,
# one full-size player disk over usb-bot: check and repair and check only
# with read-ahead on and off, the raw read of the same sectors with dd, and
# the program's start-up; prints the table the machine sends back.
#
#   bench/vm_bench.sh [--source DIR] [--build DIR] [--cache DIR]
#
# --build and --cache as for tests/vm/run_vm_tests.sh. --source builds the
# program from another checkout (say, an export of main into
# build-before/src, for figures before and after a change side by side),
# with that checkout's machine; the benchmark is this one's.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source=$repo
forward=()
while [ $# -gt 0 ]; do
  case $1 in
    --source) source=$(cd "$2" && pwd); shift 2 ;;
    *) forward+=("$1"); shift ;;
  esac
done
build=$source/build-vm
for ((i = 0; i < ${#forward[@]}; i++)); do [ "${forward[i]}" = --build ] && build=${forward[i + 1]}; done
"$source/tests/vm/run_vm_tests.sh" --cases "$repo/bench/vm-cases" --timeout 900 "${forward[@]}"
cat "$build/vm-work/usb-readahead/stdout1"
