#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_platform_internal.h"

#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "platform/posix/local_time.h"
#include "platform/posix/posix_listing.h"
#include "platform/posix/posix_log_file.h"
#include "platform/utf8.h"
#include "ui/window.h"

namespace {

// The first of SIGINT, SIGTERM and SIGHUP to arrive. The handler only notes
// it: the run then stops after the entry at hand and still writes its
// account, instead of ending with deletions nobody logged.
volatile sig_atomic_t g_interrupt_signal = 0;

extern "C" void NoteInterruption(int signal) {
  if (g_interrupt_signal == 0) g_interrupt_signal = signal;
}

void InstallSignalHandlers() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = NoteInterruption;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a waiting read returns at once
  for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  // A closed pipe on stdout or stderr is a failed write like any other,
  // not the end of the run; so is a write past the file-size limit
  // (RLIMIT_FSIZE): it fails with EFBIG, and the log's block is taken back
  // as after any failed write.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

// An answer line is at most this long. A longer one is no answer, and
// what runs past this is read to the line's end and dropped, so that
// endless input cannot fill the memory.
constexpr size_t kMaxAnswerBytes = 4096;

// Whether a stop signal is pending that the signal mask `outside` lets in.
bool StopSignalPending(const sigset_t& outside) {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    if (sigismember(&pending, signal) == 1 &&
        sigismember(&outside, signal) == 0)
      return true;
  return false;
}

// Reads one answer line from stdin, byte by byte so that nothing meant for
// a later prompt is taken. False at end of input, on a read error and on an
// interruption. A line longer than kMaxAnswerBytes sets `*too_long`.
// The stop signals are held back except while ppoll waits, so one that
// arrives just before the wait still ends it instead of leaving the run
// waiting for an answer. Input that is always ready (a file, /dev/zero)
// never makes ppoll wait, and then ppoll lets no held-back signal in: one
// that is pending is let in before each read.
bool ReadAnswerLine(std::string* line, bool* too_long) {
  line->clear();
  *too_long = false;
  sigset_t stop, saved;
  sigemptyset(&stop);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, signal);
  sigprocmask(SIG_BLOCK, &stop, &saved);
  bool answered = false;
  for (;;) {
    if (StopSignalPending(saved)) {
      // Its handler runs as the mask is put back.
      sigprocmask(SIG_SETMASK, &saved, nullptr);
      sigprocmask(SIG_BLOCK, &stop, nullptr);
    }
    if (g_interrupt_signal != 0) break;
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&input, 1, nullptr, &saved);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (input.revents & POLLNVAL)) break;
    char c;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) {
      if (c == '\n') {
        answered = true;
        break;
      }
      if (line->size() < kMaxAnswerBytes)
        line->push_back(c);
      else
        *too_long = true;
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // A last line without its line end still counts.
    answered = n == 0 && !line->empty();
    break;
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  return answered && g_interrupt_signal == 0;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The locale name in force for a category, by POSIX's order of precedence.
std::string LocaleNameFor(const char* category_variable) {
  for (const char* name : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

bool IsCLocale(const std::string& name) {
  const std::string lower = LowerAscii(name);
  return lower == "c" || lower == "posix" || lower.rfind("c.", 0) == 0;
}

CivilTime FromTm(const struct tm& tm) {
  return CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                   tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

// Expands the strftime shorthands that hold separators of their own.
std::string ExpandShorthands(const std::string& format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      const char c = format[i + 1];
      const char* expansion = c == 'D'   ? "%m/%d/%y"
                              : c == 'F' ? "%Y-%m-%d"
                              : c == 'T' ? "%H:%M:%S"
                              : c == 'R' ? "%H:%M"
                              : c == 'r' ? "%I:%M:%S %p"
                                         : nullptr;
      if (expansion) {
        out += expansion;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

class PosixPlatform : public Platform {
 public:
  PosixPlatform(int argc, char** argv) {
    InstallSignalHandlers();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    argument_text_ = JoinArguments(args);
    if (!IsCLocale(LocaleNameFor("LC_TIME"))) time_locale_ = newlocale(LC_TIME_MASK, "", nullptr);
  }
  ~PosixPlatform() override {
    if (time_locale_) freelocale(time_locale_);
  }

  std::string ArgumentText() override { return argument_text_; }

  std::string GetEnv(const std::string& name) override {
    const char* value = getenv(name.c_str());
    return value ? value : "";
  }

  std::string ProgramFolder() override {
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    // Unknown (no /proc), or a path that filled the buffer and may have been
    // cut: never a folder it is not.
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return "";
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
  }

  char Separator() override { return '/'; }
  bool EveryWordCounts() override { return true; }

  // Read for every matching file; the clock is read each time, the
  // conversion only when the second has changed.
  CivilTime Now() override {
    const time_t now = time(nullptr);
    if (now != now_seconds_ || !now_known_) {
      CivilTime local;
      if (!local_time_.Convert(now, &local)) {
        struct tm tm = {};
        localtime_r(&now, &tm);
        local = FromTm(tm);
      }
      now_local_ = local;
      now_seconds_ = now;
      now_known_ = true;
    }
    return now_local_;
  }

  double MonotonicSeconds() override {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
  }

  bool ToLocal(FileTime time, CivilTime* local) override {
    if (!time.valid) return false;
    // Whole seconds, rounding toward the past as the file system's fraction
    // of a second is dropped.
    const int64_t seconds =
        FloorDiv(time.ticks - kUnixEpochTicks, kTicksPerSecond);
    // The offset in force at that instant, as localtime_r applies it, so
    // stamps across a daylight-saving change keep their true local time.
    return local_time_.Convert(seconds, local);
  }

  LocaleInfo Locale() override { return PosixLocaleInfo(); }

  std::string FormatGeneralDate(const CivilTime& t) override {
    if (!time_locale_) return FormatUsGeneralDate(t);
    struct tm tm = {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_wday = Weekday(DayNumber(t));
    tm.tm_isdst = -1;
    const std::string format = std::string(nl_langinfo_l(D_FMT, time_locale_)) +
                               " " + nl_langinfo_l(T_FMT, time_locale_);
    char buf[256];
    const size_t n = strftime_l(buf, sizeof buf, format.c_str(), &tm,
                                time_locale_);
    return n ? std::string(buf, n) : FormatUsGeneralDate(t);
  }

  std::unique_ptr<Listing> OpenFolder(const std::string& path,
                                      int64_t* error_number,
                                      std::string* error_text) override {
    return OpenPosixFolder(path, error_text, error_number);
  }

  std::unique_ptr<LogFile> OpenLogFile(const std::string& path,
                                       std::string* error_text) override {
    return OpenPosixLogFile(path, error_text);
  }

  bool AskYesNo(const std::string& title, const std::string& prompt) override {
    EraseStatus();
    for (;;) {
      if (g_interrupt_signal != 0) return false;
      fprintf(stderr, "%s: %s [Y/n] ", title.c_str(), prompt.c_str());
      fflush(stderr);
      std::string line;
      bool too_long = false;
      if (!ReadAnswerLine(&line, &too_long)) {
        // No answer is No; the line end keeps one prompt per line, so a
        // run with no input lists what it would have asked about.
        fputc('\n', stderr);
        fflush(stderr);
        return false;
      }
      // Answers that come from a pipe or a file are not echoed by a
      // terminal: shown, one prompt a line, so that a scripted run says
      // which file got which answer.
      if (!isatty(STDIN_FILENO)) {
        const std::string shown = Printable(line.substr(0, 80));
        fprintf(stderr, "%s%s\n", shown.c_str(), too_long ? "..." : "");
        fflush(stderr);
      }
      bool yes = false;
      if (!too_long && ParseYesNo(line, &yes)) return yes;
      fputs("Please answer y or n.\n", stderr);
    }
  }

  void ReportError(const std::string& text) override {
    EraseStatus();
    fprintf(stderr, "%s\n", text.c_str());
    fflush(stderr);
  }

  using Platform::Print;
  bool Print(const std::string& text, std::string* error_text) override {
    EraseStatus();  // stdout may be the same terminal
    errno = 0;
    const bool whole = fwrite(text.data(), 1, text.size(), stdout) ==
                           text.size() &&
                       fflush(stdout) == 0;
    const int error = errno;
    clearerr(stdout);
    if (whole || error == EPIPE) return true;
    if (error_text) *error_text = strerror(error != 0 ? error : EIO);
    return false;
  }

  bool WatchedAtTerminal() override { return isatty(STDERR_FILENO) == 1; }

  // Back to the start of the line, the text, and what is left of a longer
  // line before it cleared.
  void ShowStatus(const std::string& line) override {
    if (line.empty() && !status_shown_) return;
    fprintf(stderr, "\r%s\x1b[K", line.c_str());
    fflush(stderr);
    status_shown_ = !line.empty();
  }

  int InterruptSignal() override { return g_interrupt_signal; }

 private:
  void EraseStatus() { ShowStatus(""); }
  std::string argument_text_;
  locale_t time_locale_ = nullptr;
  LocalTimeCache local_time_;
  time_t now_seconds_ = 0;
  bool now_known_ = false;
  CivilTime now_local_;
  bool status_shown_ = false;  // a status line is on the terminal
};

// The window as the terminal shows it: the help text on stdout, then, where
// someone sees the screen and can press a key, a wait for Close.
class TerminalWindow : public WindowDisplay {
 public:
  int Show(const WindowModel& window) override {
    const std::string text = RenderForTerminal(window);
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    // Not when the help goes to a pipe or a file.
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) WaitForClose();
    return 0;
  }

 private:
  // Waits in raw mode for a key that presses Close: Enter, Space, c, C, or
  // Alt+C (ESC then c), and q, Q or Esc as terminal programs close. Ctrl+C
  // is read as a key too and closes, so that the terminal's settings are
  // always put back; so does a signal.
  static void WaitForClose() {
    struct termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    for (;;) {
      char c;
      const ssize_t n = read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR && g_interrupt_signal == 0) continue;
      if (n <= 0) break;
      if (c != 0 && strchr("\r\n cCqQ\x1b\x03", c)) break;
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  }
};

}  // namespace

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ' ';
    const std::string& a = args[i];
    if (a.empty() || a.find_first_of(" \t") != std::string::npos)
      text += '"' + a + '"';
    else
      text += a;
  }
  return text;
}

std::string FieldSeparator(const std::string& strftime_format) {
  const std::string format = ExpandShorthands(strftime_format);
  // Finds the end of the conversion starting at `i` (a '%').
  const auto conversion_end = [&](size_t i) {
    ++i;
    while (i < format.size() && format[i] != '\0' &&
           strchr("-_0^#", format[i]))
      ++i;
    while (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
    return i + 1;
  };
  size_t first = format.find('%');
  while (first != std::string::npos && first + 1 < format.size() &&
         format[first + 1] == '%')
    first = format.find('%', first + 2);
  if (first == std::string::npos) return "";
  const size_t after = conversion_end(first);
  const size_t second = format.find('%', after);
  if (second == std::string::npos) return "";
  return format.substr(after, second - after);
}

LocaleInfo PosixLocaleInfo() {
  LocaleInfo info;  // English (United States) conventions
  if (!IsCLocale(LocaleNameFor("LC_NUMERIC"))) {
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", nullptr)) {
      info.thousands_separator = nl_langinfo_l(THOUSEP, loc);
      info.decimal_separator = nl_langinfo_l(RADIXCHAR, loc);
      if (info.decimal_separator.empty()) info.decimal_separator = std::string(".");
      freelocale(loc);
    }
  }
  if (!IsCLocale(LocaleNameFor("LC_TIME"))) {
    if (locale_t loc = newlocale(LC_TIME_MASK, "", nullptr)) {
      const std::string date = FieldSeparator(nl_langinfo_l(D_FMT, loc));
      const std::string time = FieldSeparator(nl_langinfo_l(T_FMT, loc));
      if (!date.empty()) info.date_separator = date;
      if (!time.empty()) info.time_separator = time;
#ifdef __GLIBC__
      // The week starts on day first_weekday (1-based) counted from the
      // locale's reference date, given as a number such as 19971130.
      // glibc hands the reference date over as a number in the place of
      // the string pointer: its bits are the value.
      const int first = nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, loc)[0];
      const uintptr_t word =
          reinterpret_cast<uintptr_t>(nl_langinfo_l(_NL_TIME_WEEK_1STDAY, loc));
      const long ymd = static_cast<long>(word & 0xFFFFFFFFu);
      if (first >= 1 && first <= 7 && ymd > 10000101) {
        const int reference_weekday = Weekday(DayNumber(
            static_cast<int>(ymd / 10000), static_cast<int>(ymd / 100 % 100),
            static_cast<int>(ymd % 100)));
        info.first_weekday = (reference_weekday + first - 1) % 7;
      }
#endif
      freelocale(loc);
    }
  }
  return info;
}

bool ParseYesNo(const std::string& line, bool* yes) {
  std::string answer = LowerAscii(line);
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
    answer.pop_back();
  if (answer.empty() || answer == "y" || answer == "yes") {
    *yes = true;
    return true;
  }
  if (answer == "n" || answer == "no") {
    *yes = false;
    return true;
  }
  return false;
}

std::unique_ptr<Platform> MakePosixPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

std::unique_ptr<WindowDisplay> MakeTerminalWindow() {
  return std::make_unique<TerminalWindow>();
}
