#!/usr/bin/env bash
# The read-ahead benchmark in the virtual machine of the VM stage: one boot,
# one full-size player disk over usb-bot, check and repair and check only
# with read-ahead on and off; prints the table the machine sends back.
#
#   bench/vm_bench.sh [--build DIR] [--cache DIR]      (as tests/vm/run_vm_tests.sh)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build-vm
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do [ "${args[i]}" = --build ] && build=${args[i + 1]}; done
"$repo/tests/vm/run_vm_tests.sh" --cases "$repo/bench/vm-cases" --timeout 900 "$@"
cat "$build/vm-work/usb-readahead/stdout1"
