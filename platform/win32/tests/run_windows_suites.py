#!/usr/bin/env python3
"""Runs every Windows suite of agesweep under Wine, on a private X display.

  python3 platform/win32/tests/run_windows_suites.py BUILD_DIR

BUILD_DIR is a cross build (cmake/mingw-w64-x86_64.cmake). Suites: the
portable unit tests and the Windows unit tests (cross-built GoogleTest
programs), the window tests (agesweep_ui_tests.exe, which also takes the
screenshot BUILD_DIR/help-window.png), the end-to-end runs of agesweep.exe
in e2e_test.py, and the sweeps of a tree whose folders are swapped for links
meanwhile in race_test.py. Ends with the line "N passed, N failed", followed
by the number of expected failures when there are any: tests marked as
failing for a known fault, which are neither passed nor failed. A marked
test that passes fails the run, so that the mark is taken off.
What Wine itself says (its start-up and shutdown messages, the test
programs' stderr) goes to BUILD_DIR/wine-output.log, named on failure.
"""
import importlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = None  # the build's AGESWEEP_WINE, read by main()
SUITE_TIMEOUT = 600  # seconds; a hung suite fails instead of stalling CI


def wine_environment(prefix):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        # English (United States) conventions, and UTF-8 for Unix file names.
        "LC_ALL": "C.UTF-8",
    })
    env.pop("LANGUAGE", None)
    return env


def start_display(env):
    """Starts Xvfb on a free display; returns the process."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    with os.fdopen(read_fd, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    env["DISPLAY"] = ":" + number.decode().strip()
    return xvfb


GTEST_COUNTS = {
    "passed": re.compile(r"^\[  PASSED  \] (\d+) tests?", re.M),
    "failed": re.compile(r"^\[  FAILED  \] (\d+) tests?, listed below", re.M),
    "skipped": re.compile(r"^\[  SKIPPED \] (\d+) tests?", re.M),
}


def run_gtest(build, env, exe, noise, extra_env=None):
    """Runs one GoogleTest program; returns (passed, failed, skipped, 0).
    Its stderr, where Wine's own messages land, is appended to `noise`."""
    log_path = os.path.join(build, "test-logs", exe + ".log")
    run_env = dict(env, **(extra_env or {}))
    try:
        done = subprocess.run([WINE, os.path.join(build, exe)], env=run_env,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=SUITE_TIMEOUT, cwd=build)
        output = done.stdout.decode("utf-8", "replace")
        errors = done.stderr or b""
        status = done.returncode
    except subprocess.TimeoutExpired as e:
        output = (e.stdout or b"").decode("utf-8", "replace") + "\n(timed out)\n"
        errors = e.stderr or b""
        status = -1
    noise.write(f"--- {exe} (stderr) ---\n".encode())
    noise.write(errors)
    noise.flush()
    with open(log_path, "w") as f:
        f.write(output)
    counts = {k: sum(int(n) for n in r.findall(output))
              for k, r in GTEST_COUNTS.items()}
    passed, failed, skipped = counts["passed"], counts["failed"], counts["skipped"]
    if status != 0 and failed == 0:
        failed = 1  # crashed or hung: the suite itself counts as failed
    print(f"{exe}: {passed} passed, {failed} failed, {skipped} skipped")
    if failed:
        print(output)
    for line in output.splitlines():
        if line.startswith("[  SKIPPED ]") and "tests" not in line:
            print("  " + line)
    return passed, failed, skipped, 0


def run_python_suite(build, env, module_name):
    """Runs the tests of one Python module next to this file; returns
    (passed, failed, skipped, expected failures)."""
    os.environ.update({k: v for k, v in env.items()})
    os.environ["AGESWEEP_BUILD_WIN"] = build
    if HERE not in sys.path:
        sys.path.insert(0, HERE)
    # Configured through the environment above.
    module = importlib.import_module(module_name)
    suite = unittest.defaultTestLoader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    unexpected = len(result.unexpectedSuccesses)
    failed = len(result.failures) + len(result.errors) + unexpected
    skipped = len(result.skipped)
    expected = len(result.expectedFailures)
    # An error in a class's setting up is not one of the tests run.
    errors_in_tests = sum(isinstance(test, unittest.TestCase)
                          for test, _ in result.errors)
    passed = (result.testsRun - len(result.failures) - errors_in_tests -
              skipped - expected - unexpected)
    line = (f"{module_name}.py: {passed} passed, {failed} failed, "
            f"{skipped} skipped")
    if expected:
        line += f", {expected} expected failures (a known fault)"
    print(line)
    if unexpected:
        print(f"{module_name}.py: {unexpected} tests marked as known to fail "
              "passed: take their mark off")
    return passed, failed, skipped, expected


def bmp_to_png(bmp_path, png_path):
    """Converts the 24-bit bottom-up BMP the window test writes."""
    import struct
    import zlib
    with open(bmp_path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]  # BGR to RGB
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    with open(png_path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height),
                                           8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
        f.write(chunk(b"IEND", b""))


def wine_of_build(build):
    """The Wine loader the cross build was configured with."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as cache:
            for line in cache:
                if line.startswith("AGESWEEP_WINE:"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    sys.exit(f"{build} is not a cross build with AGESWEEP_WINE in its cache")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    global WINE
    WINE = os.environ.get("AGESWEEP_WINE") or wine_of_build(build)
    os.environ["AGESWEEP_WINE"] = WINE  # for e2e_test.py and race_test.py
    for tool in (WINE, shutil.which("Xvfb") or "Xvfb"):
        if not os.path.exists(tool):
            sys.exit(f"missing {tool}: install wine64 and xvfb")
    os.makedirs(os.path.join(build, "test-logs"), exist_ok=True)
    noise_path = os.path.join(build, "wine-output.log")
    noise = open(noise_path, "wb")
    quiet = {"stdin": subprocess.DEVNULL, "stdout": noise, "stderr": noise}
    # A prefix of its own for every run, so that nothing carries over from
    # an earlier run or from the user's ~/.wine.
    scratch = tempfile.mkdtemp(prefix="agesweep-wine-")
    env = wine_environment(os.path.join(scratch, "prefix"))
    wineserver = os.path.join(os.path.dirname(WINE), "wineserver")

    xvfb = start_display(env)
    totals = [0, 0, 0, 0]  # passed, failed, skipped, expected failures
    try:
        started = time.monotonic()
        # One server for the whole run instead of one per program.
        # Its messages, also those it writes when the prefix is removed
        # under it at the end, go to the noise file.
        subprocess.run([wineserver, "-p"], env=env, timeout=60, **quiet)
        subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=SUITE_TIMEOUT,
                       **quiet)
        # No window manager runs on the private display: Wine then draws the
        # windows' captions and borders itself, so the screenshot shows them.
        subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver",
                        "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"],
                       env=env, timeout=SUITE_TIMEOUT, **quiet)
        print(f"Wine prefix ready in {time.monotonic() - started:.0f} s "
              f"(display {env['DISPLAY']})")

        suites = [
            lambda: run_gtest(build, env, "agesweep_tests.exe", noise),
            # The time-zone tests expect a zone with daylight saving.
            lambda: run_gtest(build, env, "agesweep_win32_tests.exe", noise,
                              {"TZ": "America/New_York"}),
            lambda: run_gtest(build, env, "agesweep_ui_tests.exe", noise),
            lambda: run_python_suite(build, env, "e2e_test"),
            lambda: run_python_suite(build, env, "race_test"),
        ]
        for suite in suites:
            for i, n in enumerate(suite()):
                totals[i] += n

        bmp = os.path.join(build, "help-window.bmp")
        if os.path.exists(bmp):
            bmp_to_png(bmp, os.path.join(build, "help-window.png"))
            os.remove(bmp)
            print("screenshot: " + os.path.join(build, "help-window.png"))
    finally:
        subprocess.run([wineserver, "-k"], env=env, timeout=60, **quiet)
        xvfb.terminate()
        xvfb.wait(timeout=30)
        shutil.rmtree(scratch, ignore_errors=True)
        noise.close()

    passed, failed, skipped, expected = totals
    line = f"{passed} passed, {failed} failed"
    if skipped:
        line += f", {skipped} skipped"
    if expected:
        line += f", {expected} expected failures"
    if failed:
        print(f"Wine's own messages: {noise_path}")
    print(line)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
