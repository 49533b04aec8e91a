// Every platform call of a run made to fail in turn. A clean run of each
// small tree counts its calls; then the run is repeated once for every call
// number, with that call failing, and each run is held to what must hold
// whatever the platform does: only due (and confirmed) files go, every
// attempted deletion leaves one trace in the log, the totals match what was
// listed, and the exit status tells of the failures that matter.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "run/run.h"
#include "ui/window.h"

namespace {

const char kLogPath[] = "/opt/agesweep/agesweep.log";
FileTime Old() { return FakeFileTime(2026, 1, 1); }
FileTime Young() { return FakeFileTime(2026, 12, 6); }  // a day before now

using Paths = std::set<std::string>;

struct Tree {
  const char* name;
  void (*build)(FakePlatform&);
  const char* args;  // without /Q and /L
  Paths due;         // what the clean run deletes or tries to
};

const Tree kTrees[] = {
    {"flat",
     [](FakePlatform& p) {
       p.AddFile("/data/old.log", Old());
       p.AddFile("/data/new.log", Young());
       p.AddFile("/data/old.txt", Old());
       p.AddFile("/data/rewritten.log", Old(), Young());  // born young
       p.AddFile("/data/sub/inner.log", Old());  // not entered without /S
     },
     "/F /data /M d /T 7 /W *.log",
     {"/data/old.log", "/data/rewritten.log"}},
    {"nested",
     [](FakePlatform& p) {
       p.AddFile("/data/a.log", Old());
       p.AddFile("/data/sub/b.log", Old());
       p.AddFile("/data/sub/young.log", Young());
       p.AddFile("/data/sub/locked.log", Old()).delete_error = 13;
       p.AddFile("/data/sub/deeper/c.log", Old());
       p.AddFile("/data/.hidden/h.log", Old());
       p.Add("/data/link", true).is_link = true;
       p.AddFile("/data/z.log", Old());
     },
     "/F /data /S /M d /T 7 /W *.log",
     {"/data/a.log", "/data/sub/b.log", "/data/sub/locked.log",
      "/data/sub/deeper/c.log", "/data/z.log"}},
    {"creation time",
     [](FakePlatform& p) {
       p.AddFile("/data/born-old.log", Young(), Old());
       p.AddFile("/data/born-young.log", Old(), Young());
       p.AddFile("/data/sub/born-old-too.log", Young(), Old());
     },
     "/F /data /S /CT /M d /T 7 /W *.log",
     {"/data/born-old.log", "/data/sub/born-old-too.log"}},
};

void AddFiles(const FakeNode& folder, const std::string& path, Paths* out) {
  for (const FakeNode& child : folder.children) {
    if (child.name == "." || child.name == "..") continue;
    if (child.is_dir)
      AddFiles(child, path + "/" + child.name, out);
    else
      out->insert(path + "/" + child.name);
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
       at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

struct Outcome {
  std::unique_ptr<FakePlatform> platform = std::make_unique<FakePlatform>();
  WindowModel window;
  Paths before;
  int status = -1;
};

// One run of `tree`; call number `fault` fails (none when 0).
Outcome RunTree(const Tree& tree, bool quiet, bool log, size_t fault,
                bool variant) {
  Outcome run;
  FakePlatform& p = *run.platform;
  p.env["TEMP"] = "/tmp";
  p.answers.assign(64, true);
  tree.build(p);
  p.argument_text =
      std::string(quiet ? "/Q " : "") + tree.args + (log ? " /L" : "");
  p.fail_call = fault;
  p.fail_with_trouble = p.fail_into_future = variant;
  AddFiles(p.root, "", &run.before);
  run.status = Form_Load(p, run.window).exit_status;
  return run;
}

// The invariants of one run, the clean run's calls being `clean`.
void Check(const Tree& tree, bool quiet, bool log, size_t fault, bool variant,
           const Outcome& run, const std::vector<FakeCallRecord>& clean) {
  FakePlatform& p = *run.platform;
  const std::vector<FakeCallRecord>& calls = p.calls;
  // Up to the failing call, the run made the same calls as the clean one.
  ASSERT_GE(calls.size(), fault);
  for (size_t i = 0; i < fault; ++i) {
    ASSERT_EQ(clean[i].call, calls[i].call) << "call " << i + 1;
    ASSERT_EQ(clean[i].path, calls[i].path) << "call " << i + 1;
  }
  // The file the failing call was about, and whether it made the file due
  // (the clock ahead at its age test).
  std::string concerned;
  bool made_due = false;
  bool top_failed = false, trouble = false, log_failed = false;
  bool unread = false;  // a folder or a file's times could not be read
  if (fault) {
    const FakeCallRecord& f = calls[fault - 1];
    ASSERT_TRUE(f.injected);
    const FakeCall kind = f.call;
    if (kind == FakeCall::kLogOpen) {
      // Refused before the sweep: nothing listed, nothing deleted or logged.
      EXPECT_EQ(kExitRefused, run.status);
      for (const FakeCallRecord& c : calls)
        EXPECT_NE(FakeCall::kOpenFolder, c.call);
      EXPECT_TRUE(p.files_written.empty());
      return;
    }
    // A folder or a file's times that cannot be read, even on the second
    // reading after its Yes, is a failure the user hears of.
    unread = kind == FakeCall::kNext || kind == FakeCall::kReadTimes;
    if (kind == FakeCall::kReadTimes || kind == FakeCall::kAsk ||
        kind == FakeCall::kRemove)
      concerned = f.path;
    if (kind == FakeCall::kNow && fault > 1 &&
        calls[fault - 2].call == FakeCall::kReadTimes) {
      concerned = f.path;
      made_due = variant;
    }
    // The age test on the times read ahead, right after the file was
    // listed: a clock far back passes the file over, one ahead only sends
    // it to be read and judged again.
    if (kind == FakeCall::kNow && fault > 1 &&
        calls[fault - 2].call == FakeCall::kNext && !variant)
      concerned = f.path;
    top_failed = kind == FakeCall::kOpenFolder;
    trouble = kind == FakeCall::kOpenSubfolder && variant;
    log_failed = kind == FakeCall::kLogWrite;
  }
  // A file whose times could not be read, whose age test saw the clock
  // far back, or that was not confirmed, is not due whatever the tree says.
  Paths allowed = tree.due;
  if (made_due)
    allowed.insert(concerned);
  else if (fault && calls[fault - 1].call != FakeCall::kRemove)
    allowed.erase(concerned);

  // What was listed, matched, and tried; and what the log must say of it.
  int64_t searched = 0, found = 0;
  Paths listed, attempted;
  std::vector<std::string> traces, messages;
  bool deletion_failed = false;
  const FakeCallRecord* last_ask = nullptr;
  for (const FakeCallRecord& c : calls) {
    if (c.injected) {
      // The injected failure, in its place among the deletions. A folder's
      // end is recorded under its own text.
      std::string number = std::to_string(kFakeFaultErrorNumber);
      std::string text = kFakeFaultText, path = c.path;
      bool told = true;
      switch (c.call) {
        case FakeCall::kNext:
          path = c.path.substr(0, c.path.rfind('/') + 1);
          break;
        case FakeCall::kOpenSubfolder:
          number = std::to_string(kFakeTroubleErrorNumber);
          text = kFakeFaultTrouble;
          path += "/";
          told = variant;
          break;
        case FakeCall::kNow:
          // After a Yes, a clock far back makes the file asked about no
          // longer due: it stays, and its deletion failed.
          text = "the file changed before it could be deleted";
          number = "2";
          told = !quiet && !variant && fault > 2 &&
                 calls[fault - 2].call == FakeCall::kReadTimes &&
                 calls[fault - 3].call == FakeCall::kAsk;
          if (told) {
            deletion_failed = true;
            messages.push_back("agesweep: cannot delete " + path + ": " + text);
          }
          break;
        case FakeCall::kReadTimes:
          if (fault > 1 && calls[fault - 2].call == FakeCall::kAsk)
            messages.push_back("agesweep: cannot delete " + path + ": " + text);
          break;
        case FakeCall::kOpenFolder:
          break;
        default:
          told = false;
      }
      if (told) {
        traces.push_back("Error: " + number + ": " + text);
        traces.push_back("File:  " + path);
      }
    }
    if (c.call == FakeCall::kNext && !c.path.ends_with("/") && !c.injected) {
      ++searched;
      listed.insert(c.path);
      if (c.path.ends_with(".log")) ++found;
    }
    if (c.call == FakeCall::kAsk) last_ask = &c;
    if (c.call != FakeCall::kRemove) continue;
    attempted.insert(c.path);
    EXPECT_TRUE(allowed.count(c.path)) << "tried to delete " << c.path;
    if (!quiet) {
      EXPECT_TRUE(last_ask && !last_ask->injected && last_ask->path == c.path)
          << "tried without a Yes: " << c.path;
    }
    const FakeNode* node = p.Find(c.path);
    if (!node) {
      traces.push_back("Delete: " + c.path);
      continue;
    }
    deletion_failed = true;
    const std::string text = c.injected ? kFakeFaultText : "Permission denied";
    traces.push_back("Error: " +
                     std::to_string(c.injected ? kFakeFaultErrorNumber
                                               : node->delete_error) +
                     ": " + text);
    traces.push_back("File:  " + c.path);
    messages.push_back("agesweep: cannot delete " + c.path + ": " + text);
  }
  Paths after;
  AddFiles(p.root, "", &after);
  for (const std::string& path : run.before) {
    EXPECT_TRUE(after.count(path) || allowed.count(path)) << "deleted " << path;
  }
  // Every due file that was listed was tried; but one that the clock made
  // due only for its question is no longer due when it is checked again.
  for (const std::string& path : allowed) {
    if (made_due && !quiet && path == concerned) continue;
    EXPECT_TRUE(!listed.count(path) || attempted.count(path))
        << "due but kept: " << path;
  }

  std::vector<std::string> reported;
  for (const std::string& e : p.errors)
    if (StartsWith(e, "agesweep: cannot delete ")) reported.push_back(e);
  EXPECT_EQ(messages, reported);

  EXPECT_EQ(std::to_string(searched), run.window.Text3);
  EXPECT_EQ(std::to_string(found), run.window.Text4);
  const bool written = log && !log_failed;
  EXPECT_EQ(written ? 1u : 0u, p.files_written.count(kLogPath));
  if (written) {
    // Between the arguments and the summary are the traces and only they,
    // and nothing elsewhere looks like one.
    const std::vector<std::string> lines = Lines(p.files_written[kLogPath]);
    std::vector<std::string> between, alike;
    bool in_sweep = false;
    for (const std::string& line : lines) {
      if (StartsWith(line, "Searched: ")) in_sweep = false;
      if (in_sweep) between.push_back(line);
      if (StartsWith(line, "Arguments: ")) in_sweep = true;
      if (StartsWith(line, "Delete: ") || StartsWith(line, "Error: ") ||
          StartsWith(line, "File: "))
        alike.push_back(line);
    }
    EXPECT_EQ(traces, between);
    EXPECT_EQ(traces, alike);
    EXPECT_NE(std::string::npos,
              p.files_written[kLogPath].find(
                  "\r\nSearched: " + std::to_string(searched) +
                  "\r\nFound: " + std::to_string(found) + "\r\n"));
  }

  const bool failed =
      deletion_failed || log_failed || top_failed || trouble || unread;
  EXPECT_EQ(failed ? kExitFailed : kExitOk, run.status);
}

}  // namespace

TEST(FaultInjection, EveryCallOfARunFailingInTurnKeepsTheInvariants) {
  size_t configurations = 0, positions = 0, runs = 0;
  for (const Tree& tree : kTrees) {
    for (const bool quiet : {true, false}) {
      for (const bool log : {true, false}) {
        const std::string config = std::string(tree.name) +
                                   (quiet ? " /Q" : " asking") +
                                   (log ? " /L" : "");
        const Outcome clean_run = RunTree(tree, quiet, log, 0, false);
        {
          SCOPED_TRACE(config + ", clean run");
          Paths attempted;
          for (const FakeCallRecord& c : clean_run.platform->calls)
            if (c.call == FakeCall::kRemove) attempted.insert(c.path);
          EXPECT_EQ(tree.due, attempted);
          Check(tree, quiet, log, 0, false, clean_run,
                clean_run.platform->calls);
        }
        const std::vector<FakeCallRecord>& clean = clean_run.platform->calls;
        ++configurations;
        positions += clean.size();
        for (size_t n = 1; n <= clean.size(); ++n) {
          const FakeCall kind = clean[n - 1].call;
          // Opening a subfolder fails silently or as the system ran short;
          // the clock jumps back or ahead.
          const bool two_kinds =
              kind == FakeCall::kOpenSubfolder || kind == FakeCall::kNow;
          for (const bool variant : {false, true}) {
            if (variant && !two_kinds) continue;
            SCOPED_TRACE(config + ", call " + std::to_string(n) + " of " +
                         std::to_string(clean.size()) + " failing: " +
                         FakeCallName(kind) + (variant ? " (other kind)" : "") +
                         " " + clean[n - 1].path);
            const Outcome run = RunTree(tree, quiet, log, n, variant);
            ++runs;
            Check(tree, quiet, log, n, variant, run, clean);
          }
        }
      }
    }
  }
  std::cout << "[ coverage ] " << configurations << " configurations, "
            << positions << " call positions, " << runs
            << " runs with one failing call\n";
  testing::Test::RecordProperty("configurations",
                                static_cast<int>(configurations));
  testing::Test::RecordProperty("positions", static_cast<int>(positions));
  testing::Test::RecordProperty("runs", static_cast<int>(runs));
}
