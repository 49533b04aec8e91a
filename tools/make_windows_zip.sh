#!/usr/bin/env bash
# Cross-builds agesweep.exe in Release with MinGW-w64 and packs it with its
# notes into BUILD_DIR/agesweep-VERSION-win64.zip (default BUILD_DIR:
# build-win-release); prints the zip's path. The build is the "release"
# preset of CMakePresets.json with the MinGW-w64 toolchain file; CMAKE_ARGs
# are added to its configuration (CI: -DAGESWEEP_WERROR=ON).
#   bash tools/make_windows_zip.sh [BUILD_DIR [CMAKE_ARG...]]
# The zip holds one folder, agesweep-VERSION-win64, with agesweep.exe,
# README.md, LICENSE.txt and WINDOWS.txt; the text files get CR LF line ends,
# and every entry the release date, so the same sources give the same zip.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win-release}
shift $(($# > 0))
jobs=$(nproc 2>/dev/null || echo 2)

# The toolchain file only counts at the first configure; later ones would
# warn that it went unused.
cmake --preset release -B "$build" --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "$@" >/dev/null
cmake --build "$build" -j "$jobs" --target agesweep
# The version this build was configured with (the project() version).
version=$(sed -n 's/^#define AGESWEEP_VERSION_TEXT "\(.*\)"$/\1/p' \
  "$build/generated/agesweep_version.h")
[ -n "$version" ] || { echo "make_windows_zip.sh: no version in $build/generated/agesweep_version.h" >&2; exit 1; }

zip=$build/agesweep-$version-win64.zip
python3 - "$zip" "agesweep-$version-win64" "$build/agesweep.exe" <<'PY'
import sys
import zipfile

zip_path, folder, exe = sys.argv[1:4]
stamp = (2026, 12, 7, 0, 0, 0)
texts = [("README.md", "README.md"), ("LICENSE", "LICENSE.txt"),
         ("doc/WINDOWS.txt", "WINDOWS.txt")]


def add(archive, name, data, mode):
    info = zipfile.ZipInfo(f"{folder}/{name}", date_time=stamp)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = mode << 16
    archive.writestr(info, data)


with zipfile.ZipFile(zip_path + ".part", "w") as archive:
    with open(exe, "rb") as f:
        add(archive, "agesweep.exe", f.read(), 0o100755)
    for source, name in texts:
        with open(source, "rb") as f:
            text = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        add(archive, name, text, 0o100644)
PY
mv "$zip.part" "$zip"
echo "$zip"
