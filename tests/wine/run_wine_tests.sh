#!/usr/bin/env bash
# The Windows stage: cross-builds tessaly.exe and the two test WNASPI32.DLLs
# for i686 and x86_64, checks both programs' imports against their oldest
# Windows (check_imports.py), runs the Windows platform unit tests under Wine,
# then the end-to-end scenarios of scenarios.toml with each test DLL and real
# message boxes on a headless X server, answered with xdotool; then once more
# with no DLL, through Windows' SCSI pass-through (the 64-bit program, Wine's
# SG_IO answered by a preloaded fake driver). Box pictures go to docs/boxes/.
#
# The cross builds are Release builds, as the zips of the package stage are;
# given the package stage's folders, this stage runs the zipped programs.
#
# Environment (all optional):
#   TESSALY_WIN32_BUILD, TESSALY_WIN64_BUILD   cross build folders
#   TESSALY_HOST_BUILD   native build folder for the disk maker and the fake
#                        SCSI generic driver; one already configured (such
#                        as the test build) is used as it is
#   TESSALY_WINE_WORK    Wine prefix and scenario work folders
#   TESSALY_SHOTS        where the box pictures go ("" for none)
#   TESSALY_POST_ON_REFUSAL  whether the paced test DLL also posts a request
#                        it refused: never (default), inside (before
#                        SendASPI32Command returns) or thread (afterwards)
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
win32_build="${TESSALY_WIN32_BUILD:-$repo/build-win32}"
win64_build="${TESSALY_WIN64_BUILD:-$repo/build-win64}"
host_build="${TESSALY_HOST_BUILD:-$repo/build-f}"
work="${TESSALY_WINE_WORK:-$host_build/wine-work}"
shots="${TESSALY_SHOTS-$repo/docs/boxes}"

step() { printf '\n--- %s\n' "$*"; }

step "cross builds (i686, x86_64) and the disk maker"
for arch in i686:"$win32_build" x86_64:"$win64_build"; do
  cmake -S "$repo" -B "${arch#*:}" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-${arch%%:*}.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=ON >/dev/null
  cmake --build "${arch#*:}" -j2 --target tessaly test_wnaspi32 test_paced_wnaspi32 test_half_aspi \
        win32_platform_tests
done
[ -f "$host_build/CMakeCache.txt" ] || cmake -S "$repo" -B "$host_build" -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$host_build" -j2 --target tessaly-mkdisk fake_sg_preload

status=0
step "imports of both programs against their oldest Windows"
python3 "$repo/tests/wine/check_imports.py" "$win32_build/tessaly.exe" "$win64_build/tessaly.exe" || status=1

# Wine's 32-bit loader (package wine32) needs a kernel that runs 32-bit
# programs. Where the loader is missing or the kernel was built without that,
# the 64-bit loader alone serves the 64-bit program; the 32-bit one is still
# built (and its imports checked) but not run.
builds_to_run=("$win32_build" "$win64_build")
arches_to_run=(--arch "win32=$win32_build" --arch "win64=$win64_build")
export TESSALY_WINE=wine
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if [ -x /usr/lib/wine/wine ]; then
    echo "this machine's kernel does not run 32-bit programs: the i686 build is not run under Wine"
  else
    echo "Wine's 32-bit loader (wine32) is not installed: the i686 build is not run under Wine"
  fi
  TESSALY_WINE=/usr/lib/wine/wine64
  builds_to_run=("$win64_build")
  arches_to_run=(--arch "win64=$win64_build")
fi
# `command`: with TESSALY_WINE=wine the function would call itself.
wine() { command "$TESSALY_WINE" "$@"; }

mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEARCH=win64

xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

step "headless X server and Wine prefix"
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >/dev/null 2>&1
  # Without a window manager Wine draws the title bars itself, so the box
  # pictures show their captions.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
wineserver -p 2>/dev/null || true  # one server for all runs: each start then takes well under a second

for build in "${builds_to_run[@]}"; do
  step "Windows platform unit tests: $build"
  # An empty device list: no \\.\PhysicalDriveN, as Wine has none to lock.
  (cd "$build" && WINEDLLOVERRIDES=wnaspi32=n TESSALY_PASSTHROUGH_DEVICES= \
     wine win32_platform_tests.exe --gtest_brief=1) || status=1
done

step "end-to-end scenarios under Wine"
python3 "$repo/tests/wine/run_wine_cases.py" \
  --scenarios "$repo/tests/wine/scenarios.toml" --cases "$repo/tests/e2e/cases" \
  --maker "$host_build/tessaly-mkdisk" --work "$work/cases" \
  ${shots:+--shots "$shots"} --post-on-refusal "${TESSALY_POST_ON_REFUSAL:-thread}" \
  "${arches_to_run[@]}" || status=1

# The preload library is 64-bit, as is the Wine process it goes into.
step "end-to-end scenarios under Wine through SCSI pass-through, no ASPI DLL"
python3 "$repo/tests/wine/run_wine_cases.py" \
  --scenarios "$repo/tests/wine/scenarios.toml" --cases "$repo/tests/e2e/cases" \
  --maker "$host_build/tessaly-mkdisk" --work "$work/cases" \
  --passthrough "$host_build/libfake_sg_preload.so" --arch "win64=$win64_build" || status=1

exit $status
