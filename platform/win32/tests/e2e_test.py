"""End-to-end runs of agesweep.exe under Wine, each on a fresh temporary tree.

Run by run_windows_suites.py, which sets up Wine and the display and names
the build folder in AGESWEEP_BUILD_WIN. Every test copies agesweep.exe into
its own tree (the log is written beside the program), sets file times with
touch on the Linux side, and reaches the tree through Wine's drive Z:.
"""
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

BUILD = os.environ.get("AGESWEEP_BUILD_WIN", "build-win")
WINE = os.environ["AGESWEEP_WINE"]  # set by run_windows_suites.py
RUN_TIMEOUT = 120  # seconds; only a bound for a hung run

TITLE = "Quillfen Utilities Age Sweeper (agesweep.exe)"
GENERAL_DATE = r"\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M"
RUN_TIME = r"Run Time:\d+\.\d\d  seconds"


def win(path):
    """The Windows name of a Linux path, through drive Z:."""
    return "Z:" + path.replace("/", "\\")


class Tree:
    """A fresh temporary folder with its own copy of agesweep.exe."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="agesweep-e2e-")
        self.exe = os.path.join(self.root, "agesweep.exe")
        shutil.copy(os.path.join(BUILD, "agesweep.exe"), self.exe)
        self.log_path = os.path.join(self.root, "agesweep.log")

    def remove(self):
        for folder, dirs, files in os.walk(self.root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)
        shutil.rmtree(self.root)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def folder(self, relative):
        os.makedirs(self.path(relative), exist_ok=True)
        return self.path(relative)

    def file(self, relative, when=None):
        """A file last written `when` (any date touch -d reads)."""
        path = self.path(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("x")
        if when:
            subprocess.run(["touch", "-d", when, path], check=True)
        return path

    def exists(self, relative):
        return os.path.lexists(self.path(relative))

    def run(self, *args):
        """Runs agesweep.exe with `args` (Wine quotes each as needed)."""
        done = subprocess.run([WINE, self.exe, *args], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=RUN_TIMEOUT)
        return done.returncode

    def run_exact(self, arguments, temp=None, no_temp=False):
        """Runs agesweep.exe with exactly this argument text."""
        env = dict(os.environ)
        env["AGESWEEP_SPAWN_COMMAND_LINE"] = '"%s" %s' % (win(self.exe), arguments)
        if temp is not None:
            env["AGESWEEP_SPAWN_TEMP"] = temp
        if no_temp:
            env["AGESWEEP_SPAWN_NO_TEMP"] = "1"
        done = subprocess.run([WINE, os.path.join(BUILD, "spawn_exact.exe")],
                              env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=RUN_TIMEOUT)
        return done.returncode

    def log(self):
        """The log file as text (it is written in code page 1252)."""
        with open(self.log_path, "rb") as f:
            return f.read().decode("cp1252")

    def blocks(self):
        """The log's blocks, each as its list of lines."""
        text = self.log()
        assert text.startswith("\r\n") and text.endswith("\r\n\r\n"), repr(text)
        return [block.split("\r\n")
                for block in text[2:-4].split("\r\n\r\n\r\n")]


class TreeTest(unittest.TestCase):
    def setUp(self):
        self.tree = Tree()

    def tearDown(self):
        self.tree.remove()

    def assertLines(self, patterns, lines):
        """Each line matches its regular expression (a plain text must be
        matched exactly)."""
        self.assertEqual(len(patterns), len(lines), "\n".join(lines))
        for pattern, line in zip(patterns, lines):
            if isinstance(pattern, str):
                self.assertEqual(pattern, line)
            else:
                self.assertRegex(line, pattern)


class Sweeping(TreeTest):
    def test_due_matching_files_are_deleted_and_everything_counted(self):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        t.file("data/new.log")
        t.file("data/old.txt", "40 days ago")
        t.file("data/sub/old.log", "40 days ago")
        data = win(t.path("data"))
        self.assertEqual(0, t.run("/Q", "/F", data, "/M", "d", "/T", "30",
                                  "/W", "*.log", "/L"))
        self.assertFalse(t.exists("data/old.log"))
        self.assertTrue(t.exists("data/new.log"))
        self.assertTrue(t.exists("data/old.txt"))
        self.assertTrue(t.exists("data/sub/old.log"))
        [block] = t.blocks()
        self.assertLines([
            TITLE,
            re.compile("^Start: " + GENERAL_DATE + "$"),
            "App Path: " + win(t.root),
            "Arguments:  /Q /F %s /M d /T 30 /W *.log /L " % data,
            "Delete: %s\\old.log" % data,
            "Searched: 6",  # ".", "..", three files and sub
            "Found: 2",
            re.compile("^" + RUN_TIME + "$"),
            re.compile("^Done: " + GENERAL_DATE + "$"),
        ], block)

    def test_subfolders_are_walked_except_those_starting_with_a_dot(self):
        t = self.tree
        t.file("data/top.log", "40 days ago")
        t.file("data/logs/a.log", "40 days ago")
        t.file("data/.cache/b.log", "40 days ago")
        t.file("data/archive.txt/c.log", "40 days ago")
        self.assertEqual(0, t.run("/Q", "/S", "/F", win(t.path("data")), "/W",
                                  "*.txt;*.log", "/L"))
        self.assertFalse(t.exists("data/top.log"))
        self.assertFalse(t.exists("data/logs/a.log"))
        self.assertFalse(t.exists("data/archive.txt/c.log"))
        self.assertTrue(t.exists("data/.cache/b.log"))
        self.assertTrue(t.exists("data/archive.txt"))
        [block] = t.blocks()
        self.assertIn("Searched: 12", block)  # 6 at the top, 3 in each of two
        self.assertIn("Found: 3", block)

    def test_hours_are_counted_by_the_clock(self):
        t = self.tree
        t.file("data/three-hours.log", "3 hours ago")
        t.file("data/half-hour.log", "30 minutes ago")
        self.assertEqual(0, t.run("/Q", "/F", win(t.path("data")), "/M", "h",
                                  "/T", "2"))
        self.assertFalse(t.exists("data/three-hours.log"))
        self.assertTrue(t.exists("data/half-hour.log"))

    def test_names_beyond_ascii_are_deleted_and_logged_in_the_ansi_code_page(self):
        t = self.tree
        for name in ("café.log", "日本.log", "😀.log"):
            t.file("data/" + name, "40 days ago")
        data = win(t.path("data"))
        self.assertEqual(0, t.run("/Q", "/F", data, "/L"))
        self.assertEqual([], os.listdir(t.path("data")))
        [block] = t.blocks()
        deletions = [line for line in block if line.startswith("Delete: ")]
        self.assertEqual(3, len(deletions))
        self.assertIn("Delete: %s\\café.log" % data, deletions)
        with open(t.log_path, "rb") as f:
            self.assertIn(b"caf\xe9.log", f.read())

    def test_a_name_with_a_trailing_dot_is_not_another_file(self):
        t = self.tree
        t.file("data/keep.", "40 days ago")
        t.file("data/keep")
        self.assertEqual(0, t.run("/Q", "/F", win(t.path("data")), "/M", "d",
                                  "/T", "30"))
        self.assertFalse(t.exists("data/keep."))
        self.assertTrue(t.exists("data/keep"))

    def test_a_failed_deletion_is_logged_and_the_sweep_goes_on(self):
        t = self.tree
        locked = t.file("data/a-locked.log", "40 days ago")
        t.file("data/b-free.log", "40 days ago")
        os.chmod(locked, 0o444)  # Wine shows this as the read-only attribute
        data = win(t.path("data"))
        self.assertEqual(1, t.run("/Q", "/F", data, "/L"))
        self.assertTrue(t.exists("data/a-locked.log"))
        self.assertFalse(t.exists("data/b-free.log"))
        [block] = t.blocks()
        at = block.index("File:  %s\\a-locked.log" % data)
        self.assertRegex(block[at - 1], r"^Error: 5: \S.*[^\r\n]$")
        self.assertIn("Delete: %s\\b-free.log" % data, block)
        self.assertIn("Found: 2", block)

    def test_a_link_to_a_folder_is_counted_but_never_entered(self):
        t = self.tree
        t.file("outside/victim.log", "40 days ago")
        t.folder("data")
        os.symlink(t.path("outside"), t.path("data/link"))
        self.assertEqual(0, t.run("/Q", "/S", "/F", win(t.path("data")), "/L"))
        self.assertTrue(t.exists("outside/victim.log"))
        [block] = t.blocks()
        self.assertIn("Searched: 3", block)
        self.assertIn("Found: 0", block)

    def test_folders_swapped_for_links_during_the_sweep_lead_nowhere(self):
        # While three sweeps run, every subfolder is again and again put
        # aside and replaced by a link to an outside folder of due files.
        # Their names are not the tree's, so that no path built before a
        # swap can reach them either.
        t = self.tree
        for k in range(50):
            t.file("outside/victim-%d.dat" % k, "40 days ago")
        folders = [t.path("data/d%d" % i) for i in range(20)]
        for folder in folders:
            for k in range(10):
                t.file(os.path.join(folder, "f%d.log" % k), "40 days ago")
        stop = threading.Event()

        def swap():
            while not stop.is_set():
                for folder in folders:
                    os.rename(folder, folder + "-aside")
                    os.symlink(t.path("outside"), folder)
                time.sleep(0.03)
                for folder in folders:
                    os.unlink(folder)
                    os.rename(folder + "-aside", folder)
                time.sleep(0.03)

        swapper = threading.Thread(target=swap)
        swapper.start()
        try:
            for _ in range(3):  # deletions may fail meanwhile: status 1
                self.assertIn(t.run("/Q", "/S", "/F", win(t.path("data")),
                                    "/M", "d", "/T", "30"), (0, 1))
        finally:
            stop.set()
            swapper.join()
        self.assertEqual(50, len(os.listdir(t.path("outside"))))

    def test_paths_longer_than_max_path(self):
        t = self.tree
        deep = "data/" + "/".join(["d" * 60 + str(i) for i in range(6)])
        t.file(deep + "/deep.log", "40 days ago")
        self.assertGreater(len(win(t.path(deep))), 260)
        self.assertEqual(0, t.run("/Q", "/S", "/F", win(t.path("data")), "/L"))
        self.assertFalse(t.exists(deep + "/deep.log"))
        self.assertIn("Delete: %s\\deep.log" % win(t.path(deep)), t.log())

    def test_a_folder_that_does_not_exist_is_an_empty_sweep(self):
        # The run completes, and its status says the folder was not there.
        t = self.tree
        self.assertEqual(1, t.run("/Q", "/F", win(t.path("missing")), "/L"))
        [block] = t.blocks()
        # The log is a Windows user's only report: it names the folder.
        at = block.index("File:  %s\\" % win(t.path("missing")))
        self.assertRegex(block[at - 1], r"^Error: \d+: \S.*[^\r\n]$")
        self.assertIn("Searched: 0", block)
        self.assertIn("Found: 0", block)


class Logging(TreeTest):
    def test_without_l_no_log_file_is_written(self):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        self.assertEqual(0, t.run("/Q", "/F", win(t.path("data"))))
        self.assertFalse(t.exists("data/old.log"))
        self.assertFalse(os.path.exists(t.log_path))

    def test_each_logged_run_appends_one_block(self):
        t = self.tree
        t.folder("data")
        for _ in range(2):
            self.assertEqual(0, t.run("/Q", "/F", win(t.path("data")), "/L"))
        blocks = t.blocks()
        self.assertEqual(2, len(blocks))
        for block in blocks:
            self.assertEqual(TITLE, block[0])
            self.assertIn("Searched: 2", block)

    def test_the_sweeps_own_log_is_kept_though_due(self):
        t = self.tree
        with open(t.log_path, "w") as f:
            f.write("an earlier block\r\n")
        subprocess.run(["touch", "-d", "400 days ago", t.log_path], check=True)
        t.file("old.log", "400 days ago")
        self.assertEqual(0, t.run("/Q", "/F", win(t.root), "/W", "*.log",
                                  "/M", "d", "/T", "30", "/L"))
        self.assertFalse(t.exists("old.log"))
        self.assertTrue(t.log().startswith("an earlier block\r\n"))
        self.assertIn("\r\nDelete: %s\\old.log\r\n" % win(t.root), t.log())

    def test_the_logs_spool_beside_it_is_left_alone_though_due(self):
        t = self.tree
        t.file("new.tmp", "now")
        self.assertEqual(0, t.run("/Q", "/F", win(t.root), "/W", "*.tmp",
                                  "/M", "d", "/T", "-1", "/L"))
        self.assertFalse(t.exists("new.tmp"))
        self.assertNotIn("spool", t.log())

    def test_a_log_that_cannot_be_opened_refuses_the_run(self):
        t = self.tree
        t.folder("agesweep.log")  # a folder where the file goes
        t.file("data/old.log", "40 days ago")
        self.assertEqual(2, t.run("/Q", "/F", win(t.path("data")), "/L"))
        self.assertTrue(t.exists("data/old.log"))

    def test_a_wildcard_list_with_a_space_logs_the_syntax_error(self):
        t = self.tree
        t.file("data/old.txt", "40 days ago")
        t.file("data/old.doc", "40 days ago")
        data = win(t.path("data"))
        self.assertEqual(0, t.run("/Q", "/F", data, "/W", "*.txt", "*.doc",
                                  "/L"))
        self.assertFalse(t.exists("data/old.txt"))
        self.assertTrue(t.exists("data/old.doc"))
        self.assertIn(
            "\r\nArguments:  /Q /F %s /W \r\nError: Do not put anything other "
            "than a semicolons between wildcards. No spaces allowed. (When "
            "using multiple wildcards, use the following syntax: /W "
            "*.ppt;*.htm;?testfile.txt;*.doc)\r\n*.txt *.doc /L \r\n" % data,
            t.log())


class Refusals(TreeTest):
    """Inputs refused before anything is deleted: exit status 2."""

    def refused(self, *args):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        status = t.run("/Q", "/F", win(t.path("data")), *args, "/L")
        self.assertEqual(2, status)
        self.assertTrue(t.exists("data/old.log"))
        [block] = t.blocks()
        self.assertRegex(block[-1], "^Quit: " + GENERAL_DATE + "$")
        self.assertFalse(any(line.startswith("Searched:") for line in block))
        return block

    def test_retired_switches(self):
        for switch in ("/I", "/e"):
            with self.subTest(switch=switch):
                block = self.refused(switch, "*.log")
                self.assertEqual(
                    "/I and /E are no longer supported. Try using /W instead.",
                    block[-2])
                self.tree.remove()
                self.tree = Tree()

    def test_an_unknown_interval(self):
        block = self.refused("/M", "zz")
        self.assertIn("Error: Unknown interval zz. Use yyyy, q, m, y, d, w, "
                      "ww, h, n or s.", block)

    def test_a_time_frame_that_is_not_a_number(self):
        block = self.refused("/T", "abc")
        self.assertTrue(any(line.startswith("Error: /T ") for line in block))

    def test_a_switch_without_its_value(self):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        self.assertEqual(2, t.run("/Q", "/L", "/F", win(t.path("data")), "/T"))
        self.assertTrue(t.exists("data/old.log"))
        self.assertIn("Error: /T needs a value.", t.blocks()[0])


class CommandLine(TreeTest):
    """The argument text exactly as typed, through spawn_exact.exe."""

    def test_tabs_and_runs_of_blanks_separate_words(self):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        data = win(t.path("data"))
        self.assertEqual(0, t.run_exact("\t /Q\t\t/F  %s \t/L  " % data))
        self.assertFalse(t.exists("data/old.log"))
        self.assertEqual("Arguments:  /Q /F %s /L " % data, t.blocks()[0][3])

    def test_the_default_folder_is_temp(self):
        t = self.tree
        t.file("data/old.log", "40 days ago")
        self.assertEqual(0, t.run_exact("/Q /L", temp=win(t.path("data"))))
        self.assertFalse(t.exists("data/old.log"))
        self.assertIn("Delete: %s\\old.log" % win(t.path("data")), t.log())

    def test_no_folder_at_all_is_refused(self):
        t = self.tree
        self.assertEqual(2, t.run_exact("/Q /L", no_temp=True))
        self.assertIn("Error: No folder to sweep. Give /F folder or set TEMP.",
                      t.blocks()[0])

    def test_a_quoted_folder_with_a_space_is_two_words(self):
        t = self.tree
        t.file("a b/old.log", "40 days ago")
        quoted = '"%s"' % win(t.path("a b"))
        # The first word names a folder that does not exist.
        self.assertEqual(1, t.run_exact("/Q /F %s /L" % quoted))
        self.assertTrue(t.exists("a b/old.log"))
        [block] = t.blocks()
        self.assertEqual("Arguments:  /Q /F %s /L " % quoted, block[3])
        self.assertIn("Searched: 0", block)


if __name__ == "__main__":
    unittest.main()
