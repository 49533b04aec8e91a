#include "run/command_line.h"

#include "run/run_log.h"
#include "sweep/intervals.h"

const char kWildcardSyntaxError[] =
    "Error: Do not put anything other than a semicolons between wildcards. "
    "No spaces allowed. (When using multiple wildcards, use the following "
    "syntax: /W *.ppt;*.htm;?testfile.txt;*.doc)";
const char kRetiredSwitchText[] =
    "/I and /E are no longer supported. Try using /W instead.";

std::vector<std::string> GetCommandLine(std::string_view text, int max_args) {
  std::vector<std::string> words(1);
  bool in_word = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      in_word = false;
      continue;
    }
    if (!in_word) {
      if (static_cast<int>(words.size()) - 1 == max_args) break;
      words.emplace_back();
      in_word = true;
    }
    words.back() += c;
  }
  return words;
}

std::optional<int> ParseTimeFrame(std::string_view word) {
  size_t i = 0;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) {
    negative = word[i] == '-';
    ++i;
  }
  if (i == word.size()) return std::nullopt;
  long value = 0;
  for (; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return std::nullopt;
    value = value * 10 + (word[i] - '0');
    if (value > 32768) return std::nullopt;  // stops long digit runs early
  }
  if (negative) value = -value;
  if (value < -32768 || value > 32767) return std::nullopt;
  return static_cast<int>(value);
}

namespace {

bool IsOneOf(const std::string& word, const char* a, const char* b) {
  return word == a || word == b;
}

}  // namespace

SwitchLoopResult RunSwitchLoop(const std::vector<std::string>& words,
                               RunSettings* settings, RunLog* log) {
  SwitchLoopResult result;
  log->Append("Arguments: ");
  const size_t last = words.size() - 1;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    log->Append(word);
    log->Append(" ");
    const bool has_next = i < last;
    const std::string* next = has_next ? &words[i + 1] : nullptr;

    const bool takes_value = IsOneOf(word, "/F", "/f") ||
                             IsOneOf(word, "/m", "/M") ||
                             IsOneOf(word, "/t", "/T");
    if (takes_value && !has_next) {
      result.missing_value_switch = word;
      continue;
    }

    if (IsOneOf(word, "/Q", "/q")) {
      settings->QuietMode = true;
    } else if (IsOneOf(word, "/F", "/f")) {
      settings->Folder = *next;
    } else if (IsOneOf(word, "/m", "/M")) {
      settings->Interval = *next;
    } else if (IsOneOf(word, "/i", "/I")) {
      if (next) settings->IncludeSpec = *next;
      result.retired = true;
    } else if (IsOneOf(word, "/e", "/E")) {
      if (next) settings->ExcludeSpec = *next;
      result.retired = true;
    } else if (IsOneOf(word, "/t", "/T")) {
      if (std::optional<int> value = ParseTimeFrame(*next)) {
        settings->TimeFrame = *value;
        result.bad_time_frame.reset();
      } else {
        result.bad_time_frame = *next;
      }
    } else if (IsOneOf(word, "/MT", "/mt")) {
      settings->UseModifiedTime = true;
    } else if (IsOneOf(word, "/CT", "/ct")) {
      settings->UseModifiedTime = false;
    } else if (IsOneOf(word, "/s", "/S")) {
      settings->IncludeSubdirs = true;
    } else if (IsOneOf(word, "/W", "/w")) {
      if (next) settings->Wildcard = *next;
      if (i + 2 <= last && words[i + 2][0] != '/') {
        log->Append(kCrLf);
        log->Append(kWildcardSyntaxError);
        log->Append(kCrLf);
      }
    } else if (IsOneOf(word, "/L", "/l")) {
      settings->LogToFile = true;
    } else if (word == "/?" || word == "/help" || word == "-help") {
      result.help = true;
      return result;
    }
  }
  return result;
}

void ApplyDefaults(RunSettings* settings, const std::string& temp) {
  if (settings->Folder.empty()) settings->Folder = temp;
  // Double quotes in the folder are kept: stripping them from a path split
  // at a space would sweep a different, existing folder.
  if (settings->Interval.empty()) settings->Interval = "y";
  if (settings->TimeFrame == 0) settings->TimeFrame = 20;
  if (settings->Wildcard.empty()) settings->Wildcard = "*.*";
  if (!settings->UseModifiedTime.has_value()) settings->UseModifiedTime = true;
}

std::optional<SweepSettings> SettleSettings(const SwitchLoopResult& loop,
                                            RunSettings* run,
                                            const std::string& temp,
                                            char separator,
                                            std::vector<std::string>* refusals) {
  ApplyDefaults(run, temp);
  const RunSettings& settings = *run;
  refusals->clear();
  if (!loop.missing_value_switch.empty())
    refusals->push_back("Error: " + loop.missing_value_switch +
                        " needs a value.");
  if (loop.bad_time_frame)
    refusals->push_back(
        "Error: /T needs a whole number from -32768 to 32767, not " +
        *loop.bad_time_frame + ".");
  const std::optional<IntervalCode> interval =
      ParseIntervalCode(settings.Interval);
  if (!interval)
    refusals->push_back("Error: Unknown interval " + settings.Interval +
                        ". Use yyyy, q, m, y, d, w, ww, h, n or s.");
  // The folder is still empty when TEMP was empty too.
  if (settings.Folder.empty())
    refusals->push_back(
        "Error: No folder to sweep. Give /F folder or set TEMP.");
  if (!refusals->empty()) return std::nullopt;

  SweepSettings sweep;
  sweep.folder = AddBackslash(settings.Folder, separator);
  sweep.wildcard = settings.Wildcard;
  sweep.include_subdirs = settings.IncludeSubdirs;
  sweep.quiet_mode = settings.QuietMode;
  sweep.use_modified_time = *settings.UseModifiedTime;  // set by the defaults
  sweep.interval = *interval;
  sweep.time_frame = settings.TimeFrame;
  return sweep;
}

std::string AddBackslash(std::string path, char separator) {
  if (path.empty() || path.back() != separator) path += separator;
  return path;
}
