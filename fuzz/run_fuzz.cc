// The whole run on the in-memory platform, from a fuzzed argument text and
// fuzzed answers over a fixed tree with awkward names, to the finished log
// block. Input: the argument text up to the first NUL byte; each byte after
// it answers one confirmation (odd: Yes).
//
// The expectations come from what the run did to the tree and what it
// showed, never from the program's own reading of the words, so a fault in
// that reading cannot hide itself. What must hold for every input:
// - no line of a log file (lines end in CR LF) holds a control character,
//   and at most one log file is written, only when the text holds /L or /l;
// - a help run (the window is to be displayed), a version run (it printed
//   "agesweep "), a usage run (it printed "Usage: agesweep "), a dry run
//   (it printed paths) and a refused run (status 2) ask nothing and leave
//   the tree exactly as it was; help, version, usage and dry runs write no
//   log;
// - a sweep ends with status 0 or 1; folders are never removed; files are
//   only removed, never added;
// - every prompt names a file of the tree, each at most once, no more of
//   them than the Found total;
// - when the run asked, exactly the files answered Yes were tried, in the
//   order asked; a run that tried without asking has /Q or /q in its text;
//   without /S or /s in the text, every file asked about or tried is in one
//   folder; without "/." in it, none is in a folder whose name starts with
//   a dot; without /CT or /ct, the file with no last-write time is never
//   asked about or tried;
// - the log's "Delete: PATH" lines are the files that disappeared, names
//   masked as the log shows them; each failed deletion ("Error: N: TEXT",
//   then "File:  PATH") names a file still there that refuses deletion,
//   with its error number, or a folder that could not be read (its PATH
//   ending in the separator, in a run ending with status 1); nothing else
//   stands between the arguments and
//   the summary lines, whose totals are the window's;
// - Found is at most the files in the tree and at least the files tried;
//   Searched is at least Found and at most the entries in the tree;
// - a failed deletion gives status 1, status 0 has none, and status 1 is
//   always explained by a message;
// - the same input over the same tree in which no file can be deleted
//   ends the same kind of way (help, version, refused, sweep) and, when it
//   sweeps, asks the same questions, tries the same files and counts the
//   same totals: a deletion changes nothing else about the walk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "run/run.h"
#include "ui/window.h"

namespace {

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

void Check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) Fail(what, detail);
}

// Errors the fake gives for the file that refuses deletion, and for every
// file of the locked-down copy of the tree.
constexpr int kLockedError = 13;
constexpr int kAllLockedError = 1;

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
  p.AddFile("/data/csi\xC2\x9B" "2J\xFF\xED\xA0\x80.log", old_time);
  p.AddFile("/data/locked.log", old_time).delete_error = kLockedError;
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

void LockEveryFile(FakeNode& node) {
  for (FakeNode& child : node.children) {
    if (child.is_dir)
      LockEveryFile(child);
    else if (child.delete_error == 0)
      child.delete_error = kAllLockedError;
  }
}

// As the log and the prompts show a name: a control character (C0, DEL,
// C1) as one '?', and each byte of anything that is not well-formed UTF-8
// (surrogates included) as a '?' of its own.
std::string Masked(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2
                   : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    bool ok = n > 0 && i + n <= text.size();
    for (size_t k = 1; ok && k < n; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      ok = (t & 0xC0) == 0x80;
      c = c << 6 | (t & 0x3F);
    }
    ok = ok && !(n == 3 && c < 0x800) && !(n == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
         !(c >= 0xD800 && c <= 0xDFFF);
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
      out += '?';
    else
      out.append(text, i, n);
    i += n;
  }
  return out;
}

// A line of a dry run's list as the shell reads it: $'...' undone, any
// other line as it is.
std::string ReadBack(const std::string& line) {
  if (!line.starts_with("$'") || line.size() < 3 || line.back() != '\'')
    return line;
  std::string out;
  for (size_t i = 2; i + 1 < line.size(); ++i) {
    if (line[i] != '\\' || i + 2 >= line.size()) {
      out += line[i];
      continue;
    }
    const char c = line[++i];
    if (c == 'n') out += '\n';
    else if (c == 't') out += '\t';
    else if (c == 'r') out += '\r';
    else if (c == 'x' && i + 2 < line.size()) {
      out += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

// A path's names joined by single slashes after a leading one: the folder
// text the user typed may double its separators.
std::string Canonical(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) out += "/" + path.substr(start, end - start);
    start = end + 1;
  }
  return out;
}

std::string Parent(const std::string& canonical) {
  return canonical.substr(0, canonical.rfind('/'));
}

bool Contains(const std::string& text, const char* a, const char* b) {
  return text.find(a) != std::string::npos || text.find(b) != std::string::npos;
}

struct FileFacts {
  int delete_error = 0;
  bool has_write_time = true;
};

// The tree as walked here: every entry in depth-first listing order, and the
// files by their masked canonical path.
struct Snapshot {
  std::vector<std::string> entries;  // folders end in '/'
  std::vector<std::string> folders;
  std::map<std::string, FileFacts> files;
  size_t file_count = 0;
};

void TakeSnapshot(const FakeNode& folder, const std::string& path, Snapshot* s) {
  for (const FakeNode& n : folder.children) {
    const std::string child = path + "/" + n.name;
    if (n.is_dir) {
      s->entries.push_back(child + "/");
      s->folders.push_back(child);
      TakeSnapshot(n, child, s);
      continue;
    }
    s->entries.push_back(child);
    ++s->file_count;
    s->files[Masked(child)] =
        FileFacts{n.delete_error, n.times.last_write.valid};
  }
}

Snapshot TakeSnapshot(const FakeNode& root) {
  Snapshot s;
  TakeSnapshot(root, "", &s);
  // The masked paths tell the files apart, so the log's lines can be
  // matched to them.
  Check(s.files.size() == s.file_count, "two files of the tree mask alike");
  return s;
}

// Whether `word` stands in `text` as a word of its own (words are split at
// spaces and tabs).
bool HasWord(const std::string& text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos;
       at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if ((at == 0 || text[at - 1] == ' ' || text[at - 1] == '\t') &&
        (end == text.size() || text[end] == ' ' || text[end] == '\t'))
      return true;
  }
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

// A count as the window shows it: digits grouped in threes by commas, no
// leading zero.
std::optional<int64_t> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 15) return std::nullopt;
  // A head of 1 to 3 digits, then groups of a comma and 3 digits.
  const size_t head = text.size() % 4;
  if (head == 0) return std::nullopt;
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  int64_t value = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool comma_place = i >= head && (i - head) % 4 == 0;
    if (comma_place) {
      if (text[i] != ',') return std::nullopt;
      continue;
    }
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

enum class Kind { kHelp, kVersion, kUsage, kDryRun, kRefused, kSwept };

const char kPromptStart[] =
    "Confirm Delete: Are you sure you want to delete ";

// One run and what it left behind.
struct Result {
  Kind kind = Kind::kSwept;
  RunOutcome outcome;
  std::vector<std::string> prompts;  // masked canonical paths, in order
  std::vector<bool> answered_yes;    // per prompt
  int64_t searched = 0;
  int64_t found = 0;
  bool logged = false;
  // From the log: the files tried, in order (masked canonical paths), and
  // which of them failed.
  std::vector<std::string> tried;
  std::vector<bool> tried_failed;
};

Result RunOnce(const std::string& args, const std::deque<bool>& answers,
               bool lock_every_file) {
  FakePlatform p;
  p.env["TEMP"] = "/data";
  p.now = {2026, 12, 7, 6, 48, 36};
  p.argument_text = args;
  p.answers = answers;
  BuildTree(p);
  if (lock_every_file) LockEveryFile(p.root);
  const Snapshot before = TakeSnapshot(p.root);

  WindowModel window;
  Result r;
  r.outcome = Form_Load(p, window);
  const Snapshot after = TakeSnapshot(p.root);
  const int status = r.outcome.exit_status;

  // The log file, whichever path it went to.
  Check(p.files_written.size() <= 1, "more than one log file", args);
  std::vector<std::string> lines;
  r.logged = !p.files_written.empty();
  if (r.logged) {
    Check(Contains(args, "/L", "/l"), "a log written without /L", args);
    lines = Lines(p.files_written.begin()->second);
    for (const std::string& line : lines)
      for (char c : line)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
              "a control character in the log", line);
  }

  if (StartsWith(p.printed, "agesweep ")) {
    r.kind = Kind::kVersion;
    Check(p.printed.find('\n') == p.printed.size() - 1,
          "printed more than the version line", p.printed);
    Check(args.find("--version") != std::string::npos,
          "the version without --version", args);
  } else if (StartsWith(p.printed, "Usage: agesweep ")) {
    r.kind = Kind::kUsage;
    Check(HasWord(args, "--help"),
          "the usage text without --help", args);
  } else if (HasWord(args, "--dry-run") && status != kExitRefused) {
    // The paths printed are files of the tree; nothing else is done.
    r.kind = Kind::kDryRun;
    Check(status == kExitOk || status == kExitFailed,
          "a dry run ended with a status other than 0 or 1", args);
    Check(!r.logged, "a dry run wrote a log", args);
    // Each entry, read back as a script would (a NUL ends each with -0, else
    // a line end, and $'...' is undone), is exactly a file of the tree.
    const char end = HasWord(args, "-0") ? '\0' : '\n';
    for (size_t at = 0; at < p.printed.size();) {
      const size_t stop = p.printed.find(end, at);
      Check(stop != std::string::npos, "a dry run's list cut short", p.printed);
      const std::string entry = p.printed.substr(at, stop - at);
      const std::string path = end == '\n' ? ReadBack(entry) : entry;
      Check(before.files.count(Masked(Canonical(path))) == 1,
            "a dry run listed what is no file of the tree", entry);
      at = stop + 1;
    }
  } else if (!p.printed.empty()) {
    Check(false, "printed something other than the version, the usage "
                 "text or a dry run's paths", p.printed);
  } else if (r.outcome.display_window) {
    r.kind = Kind::kHelp;
    Check(Contains(args, "/?", "help"), "help without a help word", args);
  } else if (status == kExitRefused) {
    r.kind = Kind::kRefused;
  }
  if (r.kind != Kind::kSwept) {
    Check(p.prompts.empty(), "a run that does not sweep asked", args);
    Check(before.entries == after.entries,
          "a run that does not sweep changed the tree", args);
    if (r.kind != Kind::kRefused && r.kind != Kind::kDryRun) {
      Check(!r.outcome.display_window || r.kind == Kind::kHelp,
            "the version run displays the window", args);
      Check(status == kExitOk, "help or version without status 0", args);
      Check(!r.logged, "help or version wrote a log", args);
    }
    return r;
  }

  Check(status == kExitOk || status == kExitFailed,
        "a sweep ended with a status other than 0 or 1", args);
  Check(before.folders == after.folders, "a folder went or came", args);
  std::vector<std::string> gone;
  for (const auto& [path, facts] : before.files) {
    if (after.files.count(path)) continue;
    Check(facts.delete_error == 0, "a file that refuses deletion went", path);
    gone.push_back(path);
  }
  for (const auto& entry : after.files)
    Check(before.files.count(entry.first) != 0, "a file appeared", entry.first);

  const std::optional<int64_t> searched = ParseCount(window.Text3);
  const std::optional<int64_t> found = ParseCount(window.Text4);
  Check(searched.has_value(), "the Searched total is not a count", window.Text3);
  Check(found.has_value(), "the Found total is not a count", window.Text4);
  r.searched = *searched;
  r.found = *found;
  Check(r.found <= static_cast<int64_t>(before.file_count),
        "more found than files in the tree", window.Text4);
  Check(r.searched >= r.found, "more found than searched",
        window.Text3 + " / " + window.Text4);
  Check(r.searched <= static_cast<int64_t>(before.entries.size()),
        "more searched than entries in the tree", window.Text3);

  // The questions, and what they were answered.
  std::set<std::string> asked;
  std::deque<bool> left = answers;
  for (const std::string& prompt : p.prompts) {
    Check(StartsWith(prompt, kPromptStart), "an unknown question", prompt);
    const std::string path =
        Canonical(prompt.substr(sizeof kPromptStart - 1));
    Check(before.files.count(path) != 0, "asked about no file of the tree",
          prompt);
    Check(asked.insert(path).second, "asked twice about one file", prompt);
    r.prompts.push_back(path);
    r.answered_yes.push_back(!left.empty() && left.front());
    if (!left.empty()) left.pop_front();
  }
  Check(static_cast<int64_t>(r.prompts.size()) <= r.found,
        "more questions than files found", args);

  std::vector<std::string> confirmed;
  for (size_t i = 0; i < r.prompts.size(); ++i)
    if (r.answered_yes[i]) confirmed.push_back(r.prompts[i]);
  bool confirmed_locked = false;
  std::vector<std::string> confirmed_deletable;
  for (const std::string& path : confirmed) {
    if (before.files.at(path).delete_error != 0)
      confirmed_locked = true;
    else
      confirmed_deletable.push_back(path);
  }
  std::sort(confirmed_deletable.begin(), confirmed_deletable.end());
  if (!r.prompts.empty()) {
    Check(gone == confirmed_deletable,
          "the files gone are not the deletable ones answered Yes", args);
    if (confirmed_locked)
      Check(status == kExitFailed, "a failed deletion with status 0", args);
  } else if (!gone.empty()) {
    Check(Contains(args, "/Q", "/q"), "deleted without asking, without /Q",
          args);
  }
  if (status == kExitFailed)
    Check(!p.errors.empty(), "status 1 with no message", args);

  // Sweep-wide rules that the text alone settles.
  std::vector<std::string> touched = r.prompts;
  touched.insert(touched.end(), gone.begin(), gone.end());

  if (r.logged) {
    // The arguments lines each end in the space after a word, and the
    // user's words may read like any line; no line the sweep writes ends
    // in a space, as no name in the tree does. The summary starts at the
    // last Searched line.
    size_t summary = lines.size();
    for (size_t i = lines.size(); i-- > 0;)
      if (StartsWith(lines[i], "Searched: ")) {
        summary = i;
        break;
      }
    Check(summary + 1 < lines.size(), "a sweep's log without its summary",
          p.files_written.begin()->second);
    Check(lines[summary] == "Searched: " + window.Text3 &&
              lines[summary + 1] == "Found: " + window.Text4,
          "the log's totals are not the window's",
          lines[summary] + "\n" + lines[summary + 1]);
    size_t arguments = summary;
    for (size_t i = 0; i < summary; ++i)
      if (StartsWith(lines[i], "Arguments: ")) {
        arguments = i;
        break;
      }
    Check(arguments < summary, "a sweep's log without its arguments",
          p.files_written.begin()->second);
    size_t first = arguments + 1;
    for (size_t i = arguments; i < summary; ++i)
      if (!lines[i].empty() && lines[i].back() == ' ') first = i + 1;

    std::vector<std::string> deleted;
    for (size_t i = first; i < summary; ++i) {
      const std::string& line = lines[i];
      if (StartsWith(line, "Delete: ")) {
        const std::string path = Canonical(line.substr(8));
        deleted.push_back(path);
        r.tried.push_back(path);
        r.tried_failed.push_back(false);
        continue;
      }
      Check(StartsWith(line, "Error: ") && i + 1 < summary &&
                StartsWith(lines[i + 1], "File:  "),
            "a line of the sweep that is no trace of a deletion", line);
      const std::string named = lines[++i].substr(7);
      // A folder that could not be listed or read is told the same way, its
      // text ending in the separator; the run fails for it.
      if (!named.empty() && named.back() == p.separator) {
        Check(status == kExitFailed, "an unread folder with status 0", named);
        continue;
      }
      const std::string path = Canonical(named);
      const auto still = after.files.find(path);
      Check(still != after.files.end(),
            "a failed deletion of a file that is gone or never was",
            lines[i]);
      Check(still->second.delete_error != 0,
            "a failed deletion of a file that can be deleted", lines[i]);
      Check(StartsWith(line, "Error: " +
                                 std::to_string(still->second.delete_error) +
                                 ": "),
            "a failed deletion without its error number", line);
      r.tried.push_back(path);
      r.tried_failed.push_back(true);
    }
    std::sort(deleted.begin(), deleted.end());
    Check(deleted == gone, "the Delete lines are not the files gone",
          p.files_written.begin()->second);
    Check(static_cast<int64_t>(r.tried.size()) <= r.found,
          "more files tried than found", args);
    const bool any_failed =
        std::find(r.tried_failed.begin(), r.tried_failed.end(), true) !=
        r.tried_failed.end();
    if (any_failed)
      Check(status == kExitFailed, "a failed deletion with status 0", args);
    if (!r.prompts.empty())
      Check(r.tried == confirmed,
            "the files tried are not those answered Yes, in order",
            p.files_written.begin()->second);
    else if (!r.tried.empty())
      Check(Contains(args, "/Q", "/q"), "tried without asking, without /Q",
            args);
    touched.insert(touched.end(), r.tried.begin(), r.tried.end());
  }

  if (!Contains(args, "/S", "/s")) {
    std::set<std::string> folders;
    for (const std::string& path : touched) folders.insert(Parent(path));
    Check(folders.size() <= 1, "files of a subfolder touched without /S",
          args);
  }
  // Hidden folders such as .cache are passed over unless the folder typed
  // lies in one.
  if (args.find("/.") == std::string::npos)
    for (const std::string& path : touched)
      Check(Parent(path).find("/.") == std::string::npos,
            "a file in a hidden folder touched", path);
  if (!Contains(args, "/CT", "/ct"))
    for (const std::string& path : touched)
      Check(before.files.at(path).has_write_time,
            "a file with no last-write time was judged by it", path);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string args = input.substr(0, nul);
  std::deque<bool> answers;
  if (nul != std::string::npos)
    for (size_t i = nul + 1; i < input.size(); ++i)
      answers.push_back(input[i] & 1);

  const Result run = RunOnce(args, answers, false);
  const Result locked = RunOnce(args, answers, true);

  Check(run.kind == locked.kind, "locked files changed how the run ended",
        args);
  if (run.kind != Kind::kSwept) {
    Check(run.outcome.exit_status == locked.outcome.exit_status,
          "locked files changed the status of a run that does not sweep",
          args);
    return 0;
  }
  Check(run.prompts == locked.prompts, "locked files changed the questions",
        args);
  Check(run.searched == locked.searched && run.found == locked.found,
        "locked files changed the totals", args);
  Check(run.logged == locked.logged, "locked files changed the logging", args);
  Check(run.tried == locked.tried, "locked files changed the files tried",
        args);
  return 0;
}
