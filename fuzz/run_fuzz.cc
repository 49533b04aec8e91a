// The whole run on the in-memory platform, from a fuzzed argument text and
// fuzzed answers over a fixed tree with awkward names, to the finished log
// block. Input: the argument text up to the first NUL byte; each byte after
// it answers one confirmation (odd: Yes).
//
// What must hold for every input: help, retired and refused runs neither
// ask nor delete; the prompts are exactly the due files in walk order; the
// deletions attempted are the due files (confirmed ones, without /Q), each
// with exactly one trace in the log; the totals are what the walk examined
// and matched; no line of the log holds a control character.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "run/command_line.h"
#include "run/run.h"
#include "run/run_log.h"
#include "run/totals.h"
#include "sweep/intervals.h"
#include "sweep/wildcard.h"
#include "ui/window.h"

namespace {

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

void Check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) Fail(what, detail);
}

void BuildTree(FakePlatform& p) {
  const FileTime old_time = FakeFileTime(2020, 2, 29, 23, 59, 59);
  const FileTime young = FakeFileTime(2026, 12, 6, 12, 0, 0);
  const FileTime future = FakeFileTime(2031, 1, 1);
  p.AddFile("/data/a.log", old_time);
  p.AddFile("/data/B.TXT", young, old_time);
  p.AddFile("/data/evil\r\nError: 5: Access is denied\r\nFile:  x", old_time);
  p.AddFile("/data/sp ace.log", old_time, young);
  p.AddFile("/data/*.log", future);
  p.AddFile("/data/q?.log", FakeFileTime(2026, 11, 30));
  p.AddFile("/data/.profile", old_time);
  p.AddFile("/data/caf\xC3\xA9.LOG", old_time);
  p.AddFile("/data/\x1b[2J\x7f.log", old_time);
  p.AddFile("/data/locked.log", old_time).delete_error = 13;
  FakeNode& no_times = p.AddFile("/data/no-times.log", old_time);
  no_times.times.last_write = FileTime{};
  p.AddFile("/data/sub/inner.log", old_time);
  p.AddFile("/data/sub/deeper/x.txt", FakeFileTime(2026, 12, 1));
  p.AddFile("/data/.cache/hidden.log", old_time);
  p.AddFile("/data/archive.txt/kept.log", old_time);
  p.Add("/data/link", true).is_link = true;
  p.Add("/data/closed", true).unlistable = true;
  p.AddFile("/old.log", old_time);
}

// A file the walk meets: its path as the run builds it, and whether it is
// due by the settings.
struct Expected {
  std::vector<std::string> due;  // in walk order
  int64_t searched = 0;
  int64_t found = 0;
};

void Walk(FakePlatform& p, const SweepSettings& s, const FakeNode& folder,
          const std::string& text, Expected* e) {
  const WildcardList wildcard(s.wildcard);
  for (const FakeNode& n : folder.children) {
    ++e->searched;
    if (n.is_dir) {
      if (n.name[0] != '.' && s.include_subdirs && !n.unlistable && !n.is_link)
        Walk(p, s, n, text + n.name + "/", e);
      continue;
    }
    if (!wildcard.Matches(n.name)) continue;
    ++e->found;
    const FileTime t = s.use_modified_time ? n.times.last_write : n.times.creation;
    CivilTime local;
    if (!p.ToLocal(t, &local)) continue;
    if (CountIntervals(s.interval, local, p.now, p.locale.first_weekday) >=
        s.time_frame)
      e->due.push_back(text + n.name);
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The arguments line as the rules build it, for runs that got past the loop.
std::string ArgumentsText(const std::vector<std::string>& words) {
  std::string out = "Arguments: ";
  for (size_t i = 0; i < words.size(); ++i) {
    out += Printable(words[i]) + " ";
    if ((words[i] == "/W" || words[i] == "/w") && i + 2 < words.size() &&
        words[i + 2][0] != '/')
      out += std::string("\r\n") + kWildcardSyntaxError + "\r\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string args = input.substr(0, nul);
  FakePlatform p;
  p.env["TEMP"] = "/data";
  p.now = {2026, 12, 7, 6, 48, 36};
  p.argument_text = args;
  if (nul != std::string::npos)
    for (size_t i = nul + 1; i < input.size(); ++i)
      p.answers.push_back(input[i] & 1);
  BuildTree(p);
  const std::deque<bool> answers = p.answers;

  // What the run should do, from its own reading of the words.
  const std::vector<std::string> words = GetCommandLine(args);
  RunSettings settings;
  RunLog scratch;
  const SwitchLoopResult loop = RunSwitchLoop(words, true, &settings, &scratch);
  std::vector<std::string> refusals;
  std::optional<SweepSettings> sweep;
  if (!loop.help && !loop.retired)
    sweep = SettleSettings(loop, &settings, "/data", '/', &refusals);
  Expected e;
  bool root = false;
  bool top_listed = false;
  if (sweep) {
    // The fake knows absolute folder texts only.
    const FakeNode* top =
        sweep->folder[0] == '/' ? p.Find(sweep->folder) : nullptr;
    root = top == &p.root;
    top_listed = top && top->is_dir && !top->unlistable && !top->is_link;
    if (top_listed && !root) Walk(p, *sweep, *top, sweep->folder, &e);
  }
  const FakeNode tree_before = p.root;

  WindowModel window;
  const RunOutcome outcome = Form_Load(p, window);

  const bool swept = sweep && !root;
  if (!swept) {
    Check(p.prompts.empty(), "a run that does not sweep asked", args);
    Check(p.files_written.size() <= 1, "more than one log file", args);
    Check(outcome.exit_status == (loop.help ? 0 : kExitRefused),
          "wrong status for a run that does not sweep", args);
    // Nothing changed: compare the trees by their listing.
    Expected before, after;
    SweepSettings all;
    all.wildcard = "*.*";
    all.include_subdirs = true;
    Walk(p, all, tree_before, "/", &before);
    Walk(p, all, p.root, "/", &after);
    Check(before.found == after.found, "a run that does not sweep deleted", args);
    return 0;
  }

  // Prompts: every due file, in walk order, until the answers deny or allow.
  std::vector<std::string> attempted;
  if (sweep->quiet_mode) {
    Check(p.prompts.empty(), "a quiet run asked", args);
    attempted = e.due;
  } else {
    Check(p.prompts.size() == e.due.size(), "prompts are not the due files", args);
    std::deque<bool> a = answers;
    for (size_t i = 0; i < e.due.size(); ++i) {
      Check(p.prompts[i] == "Confirm Delete: Are you sure you want to delete " +
                                Printable(e.due[i]),
            "prompt out of walk order", p.prompts[i]);
      const bool yes = !a.empty() && a.front();
      if (!a.empty()) a.pop_front();
      if (yes) attempted.push_back(e.due[i]);
    }
  }
  Check(window.Text3 == FormatCount(e.searched, p.locale), "searched total",
        window.Text3 + " against " + std::to_string(e.searched));
  Check(window.Text4 == FormatCount(e.found, p.locale), "found total",
        window.Text4 + " against " + std::to_string(e.found));
  Check(window.List1.size() == static_cast<size_t>(e.found),
        "results lines against the found total", window.Text4);

  bool failed = !top_listed;
  for (const std::string& path : attempted) {
    const FakeNode* n = p.Find(path);
    if (n && n->delete_error == 0) Fail("an attempted deletion left the file", path);
    if (n) failed = true;
  }
  if (!settings.LogToFile) return 0;

  const std::string& log = p.files_written.begin()->second;
  for (const std::string& line : Lines(log))
    for (char c : line)
      Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
            "a control character in the log", line);
  const std::string arguments = ArgumentsText(words);
  const size_t at = log.find(arguments);
  Check(at != std::string::npos, "arguments line does not echo the kept words",
        log);
  // The words typed are the user's own and may look like any line; the
  // sweep's lines are those after them.
  const std::vector<std::string> lines =
      Lines(log.substr(at + arguments.size() + 2));

  // Traces, in order: one per attempted deletion.
  std::vector<std::string> traces;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("Delete: ", 0) == 0) {
      traces.push_back(lines[i].substr(8));
    } else if (lines[i].rfind("Error: ", 0) == 0 && i + 1 < lines.size() &&
               lines[i + 1].rfind("File:  ", 0) == 0) {
      traces.push_back(lines[++i].substr(7));
    }
  }
  std::vector<std::string> shown;
  for (const std::string& path : attempted) shown.push_back(Printable(path));
  Check(traces == shown, "traces are not one per attempted deletion", log);
  Check(outcome.exit_status == (failed ? kExitFailed : kExitOk),
        "exit status does not say what happened", args);
  return 0;
}
