#!/usr/bin/env bash
# Builds the Debian package in a Release build folder (default build-deb)
# with the compiler and linker flags Debian builds its packages with, and
# prints the path of the .deb it made.
#   bash tools/build_deb.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
jobs=$(nproc 2>/dev/null || echo 2)

for tool in dpkg-buildflags dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || {
    echo "build_deb.sh: $tool not found (Debian packages dpkg-dev, cmake)" >&2
    exit 1
  }
done

# Every hardening feature, as lintian expects of a package. CMake reads no
# CPPFLAGS, so they join CXXFLAGS; the flags are given as cache values so
# that they take effect in an existing build folder too.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# AGESWEEP_CMAKE_ARGS adds settings (CI: -DAGESWEEP_WERROR=ON).
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DAGESWEEP_TESTS=OFF \
  "-DCMAKE_CXX_FLAGS=${CPPFLAGS:-} ${CXXFLAGS:-}" \
  "-DCMAKE_EXE_LINKER_FLAGS=${LDFLAGS:-}" ${AGESWEEP_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$jobs" --target agesweep
rm -f "$build"/agesweep_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/agesweep_*.deb)
echo "$deb"
