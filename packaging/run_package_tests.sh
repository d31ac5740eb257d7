#!/usr/bin/env bash
# The package stage: builds the Debian package from a Release build with
# Debian's hardening flags, checks it with lintian, unpacks it into an empty
# folder and runs the program and man from there; then builds the Windows
# zips (i686, x86_64), checks what they hold and runs the 64-bit program from
# the unpacked zip under Wine. Every build must be free of warnings.
#
# Needs cmake, g++, dpkg-dev, file, lintian, man-db, the mingw-w64 compilers
# and wine64. Environment (optional): TESSALY_PACKAGE_WORK, the work folder
# (default build-packages); the packages end up in its packages/ folder.
# TESSALY_WIN32_BUILD, TESSALY_WIN64_BUILD: build folders for the zips
# outside the work folder, configured with the Windows tests as well, so that
# the Wine stage (tests/wine/run_wine_tests.sh, given the same folders) runs
# its tests in the very builds that are zipped, without building them again.
# The warnings check sees what this run compiles: give it fresh folders.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
work="${TESSALY_PACKAGE_WORK:-$repo/build-packages}"
win_builds=("i686:${TESSALY_WIN32_BUILD:-}" "x86_64:${TESSALY_WIN64_BUILD:-}")
version=$(sed -n 's/^project(tessaly VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")

step() { printf '\n--- %s\n' "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# Configures and builds one folder (a later -D overrides an earlier one);
# any compiler or linker warning fails. The logs go to the work folder.
build() {
  local folder="$1"; shift
  local log
  log="$work/$(basename "$folder")"
  cmake -S "$repo" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF "$@" > "$log.configure.log"
  cmake --build "$folder" -j2 > "$log.build.log" 2>&1 || { cat "$log.build.log" >&2; fail "build of $folder"; }
  if grep -q 'warning:' "$log.build.log"; then
    grep -B3 -A6 'warning:' "$log.build.log" >&2
    fail "warnings in the build of $folder"
  fi
  (cd "$folder" && cpack > "$log.cpack.log") || { cat "$log.cpack.log" >&2; fail "cpack in $folder"; }
}

# Runs "PROGRAM ?" (through the command in front, if any) and checks the
# banner, the help page and the exit status 0.
check_help() {
  local out status=0
  out=$("$@" '?') || status=$?
  printf '%s\n' "$out"
  [ "$status" -eq 0 ] || fail "$* ? exited with $status"
  grep -q "Pellora Hard Drive Check Utility - .* Ver $version" <<< "$out" || fail "$* ?: no banner"
  grep -q '?    : display help page' <<< "$out" || fail "$* ?: no help page"
}

rm -rf "$work"
mkdir -p "$work/packages"

step "Debian package (Release, hardening flags of dpkg-buildflags)"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" build "$work/deb"
deb=$(echo "$work"/deb/packages/tessaly_"$version"-*.deb)
[ -f "$deb" ] || fail "no .deb for version $version"
cp "$deb" "$work/packages/"
dpkg-deb --field "$deb"
dpkg-deb --contents "$deb"
description=$(dpkg-deb --field "$deb" Description)
for program in tessaly tessaly-undo tessaly-mkdisk; do
  grep -qw -- "$program" <<< "$description" || fail "the description does not name $program"
done

step "lintian"
status=0
lintian --fail-on error --display-info --pedantic "$deb" > "$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian found errors (exit $status)"

step "the package unpacked into an empty folder"
root="$work/root"
dpkg-deb -x "$deb" "$root"
check_help "$root/usr/bin/tessaly"
for page in tessaly tessaly-undo tessaly-mkdisk; do
  path=$(MANPATH="$root/usr/share/man" man -w "$page")
  echo "man -w $page: $path"
  [ "$path" = "$root/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page"
done

for entry in "${win_builds[@]}"; do
  arch=${entry%%:*} folder=${entry#*:} tests=ON
  [ -n "$folder" ] || folder=$work/win-$arch tests=OFF
  step "Windows zip ($arch)"
  rm -rf "$folder/packages"  # no zip of an earlier version from a kept folder
  build "$folder" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-$arch.cmake" -DTESSALY_TESTS=$tests
  cp "$folder"/packages/*.zip "$work/packages/"
done
for bits in 32 64; do
  zip="$work/packages/tessaly-$version-win$bits.zip"
  [ -f "$zip" ] || fail "no $zip"
  mkdir -p "$work/unzip$bits"
  (cd "$work/unzip$bits" && cmake -E tar xf "$zip")
  folder="$work/unzip$bits/tessaly-$version-win$bits"
  echo "$(basename "$zip"):"
  cmake -E tar tvf "$zip"
  for file in tessaly.exe tessaly-undo.exe README.txt LICENSE.txt; do
    [ -f "$folder/$file" ] || fail "$file missing from $zip"
  done
  for text in README.txt LICENSE.txt; do
    # Every line ends in CR LF.
    if grep -q $'[^\r]$\|^$' "$folder/$text"; then fail "$text in $zip has lines without CR LF"; fi
  done
done

step "the 64-bit program from its zip under Wine"
# No X server needed: "?" shows no box. A fresh prefix takes half a minute.
export WINEPREFIX="$work/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
unset DISPLAY
(cd "$work/unzip64/tessaly-$version-win64" && check_help /usr/lib/wine/wine64 tessaly.exe)
wineserver -k 2>/dev/null || true

echo
ls -l "$work/packages"
