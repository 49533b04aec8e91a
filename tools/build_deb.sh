#!/usr/bin/env bash
# Builds the Debian package in a Release build folder (default build-deb)
# with the compiler and linker flags Debian builds its packages with, and
# prints the path of the .deb it made. The build is the "release" preset of
# CMakePresets.json with Debian's flags; CMAKE_ARGs are added to its
# configuration (CI: -DAGESWEEP_WERROR=ON); JOBS, if set, is the number of
# compiler jobs (default: the cores).
#   bash tools/build_deb.sh [BUILD_DIR [CMAKE_ARG...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
shift $(($# > 0))
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

for tool in dpkg-buildflags dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || {
    echo "build_deb.sh: $tool not found (Debian packages dpkg-dev, cmake)" >&2
    exit 1
  }
done

# Every hardening feature, as lintian expects of a package. CMake reads no
# CPPFLAGS, so they join CXXFLAGS; the flags are given as cache values so
# that they take effect in an existing build folder too. The installed
# program cannot write its log beside itself in /usr/bin, so runs with /L
# write /var/log/agesweep.log unless AGESWEEP_LOG names another file.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake --preset release -B "$build" \
  "-DCMAKE_CXX_FLAGS=${CPPFLAGS:-} ${CXXFLAGS:-}" \
  "-DCMAKE_EXE_LINKER_FLAGS=${LDFLAGS:-}" \
  -DAGESWEEP_DEFAULT_LOG=/var/log/agesweep.log "$@" >/dev/null
cmake --build "$build" -j "$jobs" --target agesweep
rm -f "$build"/agesweep_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/agesweep_*.deb)
echo "$deb"
