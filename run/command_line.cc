#include "run/command_line.h"

#include "platform/platform.h"
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

enum class Switch {
  kNone,
  kQuiet,
  kFolder,
  kInterval,
  kInclude,
  kExclude,
  kTimeFrame,
  kModifiedTime,
  kCreationTime,
  kSubdirs,
  kWildcard,
  kLog,
  kHelp,
  kVersion,
  kUsage,
  kDryRun,
  kNullList,
};

// Every switch word, whole and case-sensitive: only these forms count.
struct SwitchWord {
  const char* word;
  Switch kind;
};
constexpr SwitchWord kSwitchWords[] = {
    {"/Q", Switch::kQuiet},         {"/q", Switch::kQuiet},
    {"/F", Switch::kFolder},        {"/f", Switch::kFolder},
    {"/m", Switch::kInterval},      {"/M", Switch::kInterval},
    {"/i", Switch::kInclude},       {"/I", Switch::kInclude},
    {"/e", Switch::kExclude},       {"/E", Switch::kExclude},
    {"/t", Switch::kTimeFrame},     {"/T", Switch::kTimeFrame},
    {"/MT", Switch::kModifiedTime}, {"/mt", Switch::kModifiedTime},
    {"/CT", Switch::kCreationTime}, {"/ct", Switch::kCreationTime},
    {"/s", Switch::kSubdirs},       {"/S", Switch::kSubdirs},
    {"/W", Switch::kWildcard},      {"/w", Switch::kWildcard},
    {"/L", Switch::kLog},           {"/l", Switch::kLog},
    {"/?", Switch::kHelp},          {"/help", Switch::kHelp},
    {"-help", Switch::kHelp},
};

// The words a POSIX user types by habit; elsewhere they are ordinary words.
constexpr SwitchWord kPosixWords[] = {
    {"--help", Switch::kUsage},
    {"--version", Switch::kVersion},
    {"--dry-run", Switch::kDryRun},
    {"-0", Switch::kNullList},
};

Switch SwitchOf(const std::string& word, bool posix_words) {
  for (const SwitchWord& s : kSwitchWords)
    if (word == s.word) return s.kind;
  if (posix_words)
    for (const SwitchWord& s : kPosixWords)
      if (word == s.word) return s.kind;
  return Switch::kNone;
}

// The switches that cannot do without their value: given as the last word,
// they refuse the run. /W then keeps its list, and /I and /E retire the run
// all the same.
bool NeedsValue(Switch kind) {
  return kind == Switch::kFolder || kind == Switch::kInterval ||
         kind == Switch::kTimeFrame;
}

// The switches whose next word is their value (it is still read as a word
// of its own too).
bool TakesValue(Switch kind) {
  return NeedsValue(kind) || kind == Switch::kInclude ||
         kind == Switch::kExclude || kind == Switch::kWildcard;
}

// Whether `word` starts a switch, or is one where every word counts: it
// ends a pattern list the shell split.
bool IsSwitchWord(const std::string& word, bool posix_words) {
  return word[0] == '/' || SwitchOf(word, posix_words) != Switch::kNone;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// What the user most likely meant by the unknown word `words[i]`, as a
// parenthesised hint; empty when nothing is near.
std::string Meant(const std::vector<std::string>& words, size_t i) {
  const std::string& word = words[i];
  // A pattern list the shell split at its spaces, or expanded.
  size_t w = i;
  while (w > 1 && !IsSwitchWord(words[w - 1], true)) --w;
  if (w > 1 && w < i && SwitchOf(words[w - 1], true) == Switch::kWildcard) {
    // Built from the patterns as typed: without the quotes the joining
    // put around an argument that held a space, nor the commas a list
    // written with ", " has.
    std::string list;
    for (size_t k = w; k < words.size() && !IsSwitchWord(words[k], true); ++k) {
      std::string pattern;
      for (char c : words[k])
        if (c != '"') pattern += c;
      while (!pattern.empty() && pattern.back() == ',') pattern.pop_back();
      if (pattern.empty()) continue;
      list += (list.empty() ? "" : ";") + pattern;
    }
    return " (quote the pattern list for the shell: /W '" + list + "')";
  }
  // -Q for /Q.
  if (word.size() > 1 && word[0] == '-' && word[1] != '-') {
    std::string slashed = word;
    slashed[0] = '/';
    if (SwitchOf(slashed, false) != Switch::kNone)
      return " (did you mean " + slashed + "?)";
  }
  // /HELP for /help, /Mt for /MT.
  for (const SwitchWord& s : kSwitchWords)
    if (LowerAscii(word) == LowerAscii(s.word))
      return std::string(" (did you mean ") + s.word + "?)";
  // -h, -v, --Version, /version: how other programs spell them.
  const size_t bare_at = word.find_first_not_of("-/");
  if (bare_at >= 1 && bare_at <= 2 && bare_at != std::string::npos) {
    const std::string bare = LowerAscii(word.substr(bare_at));
    if (bare == "h" || bare == "help") return " (did you mean --help?)";
    if (bare == "v" || bare == "version") return " (did you mean --version?)";
  }
  // /T14 for /T 14, /Mm for /M m; not /tmp/x for /t mp/x.
  for (const SwitchWord& s : kSwitchWords) {
    const std::string name = s.word;
    if (TakesValue(s.kind) && word.size() > name.size() &&
        word.compare(0, name.size(), name) == 0 &&
        word.find('/', name.size()) == std::string::npos)
      return " (did you mean " + name + " " + word.substr(name.size()) + "?)";
  }
  // The rest of a folder split at its space.
  if (word[0] != '/' && i >= 2 && SwitchOf(words[i - 2], false) == Switch::kFolder)
    return " (a folder whose path holds a space cannot be given)";
  // A folder without its /F.
  if (word.find('/') != std::string::npos || word[0] == '.' || word[0] == '~')
    return " (did you mean /F " + word + "?)";
  return "";
}

// Applies one switch; `next` is the following word, null after the last.
void ApplySwitch(Switch kind, const std::string* next, RunSettings* settings,
                 SwitchLoopResult* result) {
  switch (kind) {
    case Switch::kQuiet:
      settings->QuietMode = true;
      break;
    case Switch::kFolder:
      settings->Folder = *next;
      break;
    case Switch::kInterval:
      settings->Interval = *next;
      break;
    case Switch::kInclude:
    case Switch::kExclude:
      result->retired = true;
      break;
    case Switch::kTimeFrame:
      if (std::optional<int> value = ParseTimeFrame(*next)) {
        settings->TimeFrame = *value;
        result->bad_time_frame.reset();
      } else {
        result->bad_time_frame = *next;
      }
      break;
    case Switch::kModifiedTime:
      settings->UseModifiedTime = true;
      break;
    case Switch::kCreationTime:
      settings->UseModifiedTime = false;
      break;
    case Switch::kSubdirs:
      settings->IncludeSubdirs = true;
      break;
    case Switch::kWildcard:
      if (next) settings->Wildcard = *next;
      break;
    case Switch::kLog:
      settings->LogToFile = true;
      break;
    case Switch::kHelp:
      result->help = true;
      break;
    case Switch::kVersion:
      result->help = true;
      result->version = true;
      break;
    case Switch::kUsage:
      result->help = true;
      result->usage = true;
      break;
    case Switch::kDryRun:
      settings->DryRun = true;
      break;
    case Switch::kNullList:
      settings->NullList = true;
      break;
    case Switch::kNone:
      break;
  }
}

// A wildcard list is one word: a second word after it that is not a switch
// means the list was written with spaces. The error breaks the arguments
// line right after the switch word.
void CheckWildcardSyntax(const std::vector<std::string>& words, size_t i,
                         bool posix_words, RunLog* log,
                         SwitchLoopResult* result) {
  if (i + 2 < words.size() && !IsSwitchWord(words[i + 2], posix_words)) {
    log->EndLine();
    log->Append(kWildcardSyntaxError);
    log->EndLine();
    result->wildcard_syntax_error = true;
  }
}

}  // namespace

SwitchLoopResult RunSwitchLoop(const std::vector<std::string>& words,
                               bool posix_words, RunSettings* settings,
                               RunLog* log) {
  SwitchLoopResult result;
  // Which words a switch used, itself or as its value; element 0 is empty.
  std::vector<bool> used(words.size(), false);
  if (!used.empty()) used[0] = true;
  log->Append("Arguments: ");
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    log->Append(word);
    log->Append(" ");
    const Switch kind = SwitchOf(word, posix_words);
    const std::string* next = i + 1 < words.size() ? &words[i + 1] : nullptr;
    if (kind != Switch::kNone) used[i] = true;
    if (next && TakesValue(kind)) used[i + 1] = true;
    if (NeedsValue(kind) && !next) {
      result.missing_value_switch = word;
      continue;
    }
    ApplySwitch(kind, next, settings, &result);
    if (result.help) return result;
    if (kind == Switch::kWildcard)
      CheckWildcardSyntax(words, i, posix_words, log, &result);
  }
  // On POSIX every word counts: a word no switch used is a slip (a switch
  // mistyped, a folder without its /F, a pattern list the shell split),
  // and ignoring it would sweep something else.
  if (posix_words)
    for (size_t i = 0; i < words.size(); ++i)
      if (!used[i])
        result.unknown_words.push_back("agesweep: unknown word " + words[i] +
                                       Meant(words, i));
  return result;
}

std::optional<SweepSettings> SettleSettings(const SwitchLoopResult& loop,
                                            const RunSettings& settings,
                                            const std::string& temp,
                                            char separator,
                                            std::vector<std::string>* refusals) {
  // Every default of a run, here and nowhere else. Double quotes in the
  // folder are kept: stripping them from a path split at a space would
  // sweep a different, existing folder.
  const std::string folder = settings.Folder.empty() ? temp : settings.Folder;
  const std::string wildcard =
      settings.Wildcard.empty() ? std::string("*.*") : settings.Wildcard;
  const std::optional<IntervalCode> interval =
      settings.Interval.empty() ? IntervalCode::kDayOfYear
                                : ParseIntervalCode(settings.Interval);
  const int time_frame = settings.TimeFrame == 0 ? 20 : settings.TimeFrame;
  const bool use_modified_time = settings.UseModifiedTime.value_or(true);

  refusals->clear();
  *refusals = loop.unknown_words;
  if (!loop.missing_value_switch.empty())
    refusals->push_back("Error: " + loop.missing_value_switch +
                        " needs a value.");
  if (loop.bad_time_frame)
    refusals->push_back(
        "Error: /T needs a whole number from -32768 to 32767, not " +
        *loop.bad_time_frame + ".");
  if (!interval)
    refusals->push_back("Error: Unknown interval " + settings.Interval +
                        ". Use " + IntervalCodeList() + ".");
  // The folder is still empty when TEMP was empty too; after a word that
  // was not understood, that would only repeat the slip.
  if (folder.empty() && loop.unknown_words.empty())
    refusals->push_back(
        "Error: No folder to sweep. Give /F folder or set TEMP.");
  // A run that deletes lists nothing: -0 alone would be a slip.
  if (settings.NullList && !settings.DryRun)
    refusals->push_back(
        "Error: -0 writes the list of a dry run. Give --dry-run with it.");
  if (!refusals->empty()) return std::nullopt;

  SweepSettings sweep;
  sweep.folder = AddBackslash(folder, separator);
  sweep.wildcard = wildcard;
  sweep.include_subdirs = settings.IncludeSubdirs;
  sweep.quiet_mode = settings.QuietMode;
  sweep.use_modified_time = use_modified_time;
  sweep.interval = *interval;
  sweep.time_frame = time_frame;
  sweep.dry_run = settings.DryRun;
  return sweep;
}
