#include "platform/fake_platform.h"

#include <utility>

namespace {

FakeNode MakeDir(const std::string& name) {
  FakeNode node;
  node.name = name;
  node.is_dir = true;
  for (const char* dot : {".", ".."}) {
    FakeNode d;
    d.name = dot;
    d.is_dir = true;
    node.children.push_back(d);
  }
  return node;
}

std::vector<std::string> SplitPath(const std::string& path, char sep) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == sep) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

FakeNode* Child(FakeNode& node, const std::string& name) {
  for (FakeNode& c : node.children)
    if (c.name == name) return &c;
  return nullptr;
}

class FakeListing : public Listing {
 public:
  FakeListing(FakePlatform& platform, FakeNode* folder, std::string path,
              bool is_root, const ReadAheadPlan* plan = nullptr)
      : platform_(platform), folder_(folder), path_(std::move(path)),
        is_root_(is_root), plan_(plan) {}

  // Read ahead as a platform would, but at once: the facts of a file the
  // plan will read come with its entry.
  void ReadAhead(const ReadAheadPlan& plan) override { plan_ = &plan; }

  bool Next(DirEntry* entry, int64_t* error_number,
            std::string* error_text) override {
    if (pos_ >= folder_->children.size()) {
      if (platform_.Count(FakeCall::kNext, path_)) {
        *error_number = kFakeFaultErrorNumber;
        *error_text = kFakeFaultText;
      } else if (!folder_->list_error.empty()) {
        *error_number = kFakeFaultErrorNumber;
        *error_text = folder_->list_error;
      }
      return false;
    }
    const std::string path = path_ + folder_->children[pos_].name;
    if (platform_.Count(FakeCall::kNext, path)) {
      *error_number = kFakeFaultErrorNumber;
      *error_text = kFakeFaultText;
      return false;
    }
    const FakeNode& node = folder_->children[pos_++];
    platform_.current_entry = path;
    entry->name = node.name;
    entry->is_dir = node.is_dir || node.listed != FakeNode::Listed::kAsIs;
    entry->type_unsure = node.listed == FakeNode::Listed::kUnsure;
    entry->early = nullptr;
    if (plan_ && !entry->is_dir && plan_->WillRead(node.name)) {
      early_ = EntryFacts{node.early_times.value_or(node.times),
                          FileIdentity{1, platform_.FileNumberOf(node), 1u}};
      entry->early = &early_;
    }
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder(int64_t* error_number,
                                             std::string* error_text) override {
    FakeNode& node = folder_->children[pos_ - 1];
    not_a_folder_ = !node.is_dir;
    if (platform_.Count(FakeCall::kOpenSubfolder, CurrentPath())) {
      if (platform_.fail_with_trouble) {
        *error_number = kFakeTroubleErrorNumber;
        *error_text = kFakeFaultTrouble;
      }
      return nullptr;
    }
    if (!node.open_trouble.empty()) {
      *error_number = kFakeTroubleErrorNumber;
      *error_text = node.open_trouble;
      return nullptr;
    }
    if (node.unlistable) {
      *error_number = 13;
      *error_text = "Permission denied";
      return nullptr;
    }
    if (node.is_link || not_a_folder_) return nullptr;
    return std::make_unique<FakeListing>(
        platform_, &node, CurrentPath() + platform_.separator, false, plan_);
  }

  bool CurrentIsNotAFolder() const override { return not_a_folder_; }

  TopFolderVerdict JudgeAsTopFolder() override {
    return is_root_ ? TopFolderVerdict::kFileSystemRoot
                    : TopFolderVerdict::kAllowed;
  }

  std::string FinalPath() override { return platform_.FinalPathOf(path_); }

  bool ReadCurrent(EntryFacts* facts, int64_t* error_number,
                   std::string* error_text) override {
    const FakeNode& node = folder_->children[pos_ - 1];
    if (platform_.Count(FakeCall::kReadTimes, CurrentPath())) {
      *error_number = kFakeFaultErrorNumber;
      *error_text = kFakeFaultText;
      return false;
    }
    facts->times = node.times;
    facts->identity =
        FileIdentity{1, platform_.FileNumberOf(node), node.is_dir ? 2u : 1u};
    return true;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    FakeNode& node = folder_->children[pos_ - 1];
    if (platform_.Count(FakeCall::kRemove, CurrentPath())) {
      *error_number = kFakeFaultErrorNumber;
      *error_text = kFakeFaultText;
      return false;
    }
    if (node.delete_error != 0) {
      *error_number = node.delete_error;
      *error_text = "Permission denied";
      return false;
    }
    folder_->children.erase(folder_->children.begin() + (pos_ - 1));
    --pos_;
    return true;
  }

 private:
  std::string CurrentPath() const {
    return path_ + folder_->children[pos_ - 1].name;
  }

  FakePlatform& platform_;
  FakeNode* folder_;
  std::string path_;  // the folder text, ending in the separator
  bool is_root_;
  const ReadAheadPlan* plan_;
  EntryFacts early_;
  size_t pos_ = 0;
  bool not_a_folder_ = false;
};

}  // namespace

uint64_t FakeNode::NextFakeFileNumber() {
  static uint64_t last = 0;
  return ++last;
}

const char* FakeCallName(FakeCall call) {
  switch (call) {
    case FakeCall::kOpenFolder: return "open folder";
    case FakeCall::kNext: return "next entry";
    case FakeCall::kOpenSubfolder: return "open subfolder";
    case FakeCall::kReadTimes: return "read times";
    case FakeCall::kRemove: return "remove";
    case FakeCall::kLogOpen: return "log open";
    case FakeCall::kLogWrite: return "log write";
    case FakeCall::kAsk: return "confirmation";
    case FakeCall::kNow: return "now";
    case FakeCall::kMonotonic: return "monotonic clock";
  }
  return "?";
}

FileTime FakeFileTime(int year, int month, int day, int hour, int minute,
                      int second) {
  const CivilTime t{year, month, day, hour, minute, second};
  return FileTime{SecondNumber(t) * kTicksPerSecond + kUnixEpochTicks, true};
}

FakePlatform::FakePlatform() : root(MakeDir("")) {}

FakeNode& FakePlatform::Add(const std::string& path, bool is_dir) {
  std::vector<std::string> parts = SplitPath(path, separator);
  FakeNode* node = &root;
  for (size_t i = 0; i < parts.size(); ++i) {
    FakeNode* next = Child(*node, parts[i]);
    if (!next) {
      const bool last = i + 1 == parts.size();
      if (last && !is_dir) {
        FakeNode file;
        file.name = parts[i];
        node->children.push_back(file);
      } else {
        node->children.push_back(MakeDir(parts[i]));
      }
      next = &node->children.back();
    }
    node = next;
  }
  return *node;
}

FakeNode& FakePlatform::AddFile(const std::string& path, FileTime last_write,
                                FileTime creation) {
  FakeNode& node = Add(path);
  node.times.last_write = last_write;
  node.times.creation = creation.valid ? creation : last_write;
  return node;
}

FakeNode* FakePlatform::Find(const std::string& path) {
  FakeNode* node = &root;
  for (const std::string& part : SplitPath(path, separator)) {
    node = Child(*node, part);
    if (!node) return nullptr;
  }
  return node;
}

std::string FakePlatform::FinalPathOf(const std::string& path) const {
  std::string final_path;
  for (const std::string& part : SplitPath(path, separator))
    final_path += separator + part;
  return final_path.empty() ? std::string(1, separator) : final_path;
}

std::string FakePlatform::GetEnv(const std::string& name) {
  auto it = env.find(name);
  return it == env.end() ? "" : it->second;
}

bool FakePlatform::Count(FakeCall call, const std::string& path) {
  const bool fail = calls.size() + 1 == fail_call;
  calls.push_back(FakeCallRecord{call, path, fail});
  return fail;
}

CivilTime FakePlatform::Now() {
  if (Count(FakeCall::kNow, current_entry))
    return fail_into_future ? CivilTime{9999, 12, 31, 23, 59, 59}
                            : CivilTime{1601, 1, 1, 0, 0, 0};
  return now;
}

double FakePlatform::MonotonicSeconds() {
  double t = 0;
  if (!ticks.empty()) {
    t = ticks[std::min(tick_index_, ticks.size() - 1)];
    ++tick_index_;
  }
  if (Count(FakeCall::kMonotonic, current_entry)) t = last_tick_ - 3600;
  last_tick_ = t;
  return t;
}

bool FakePlatform::ToLocal(FileTime time, CivilTime* local) {
  if (!time.valid || time.ticks < 0) return false;
  const int64_t seconds = FloorDiv(time.ticks - kUnixEpochTicks, kTicksPerSecond);
  *local = CivilFromSecondNumber(seconds + utc_offset_minutes * 60);
  return true;
}

std::unique_ptr<Listing> FakePlatform::OpenFolder(const std::string& path,
                                                  int64_t* error_number,
                                                  std::string* error_text) {
  // Folder texts are absolute in the fake; the root is the separator alone.
  if (Count(FakeCall::kOpenFolder, path)) {
    *error_number = kFakeFaultErrorNumber;
    *error_text = kFakeFaultText;
    return nullptr;
  }
  FakeNode* node =
      path.empty() || path[0] != separator ? nullptr : Find(path);
  if (!node) {
    *error_number = 2;
    *error_text = "No such file or directory";
    return nullptr;
  }
  if (!node->is_dir) {
    *error_number = 20;
    *error_text = "Not a directory";
    return nullptr;
  }
  if (node->unlistable || node->is_link) {
    *error_number = 13;
    *error_text = "Permission denied";
    return nullptr;
  }
  std::string folder = path;
  if (folder.back() != separator) folder += separator;
  return std::make_unique<FakeListing>(*this, node, folder, node == &root);
}

namespace {

// The spool in memory: what a real one would hold in its file.
class FakeLogSpool : public LogSpool {
 public:
  explicit FakeLogSpool(FakePlatform& platform) : platform_(platform) {
    if (!platform.named_spool.empty())
      identity_ = FileIdentity{
          1, platform.AddFile(platform.named_spool, FakeFileTime(2000, 1, 1)).id,
          1};
  }

  std::optional<FileIdentity> Identity() override { return identity_; }

  bool Write(std::string_view text, std::string* error_text) override {
    if (platform_.spool_write_fails) {
      *error_text = "No space left on device";
      return false;
    }
    text_.append(text);
    platform_.spooled_bytes += text.size();
    return true;
  }

  const std::string& text() const { return text_; }

 private:
  FakePlatform& platform_;
  std::string text_;
  std::optional<FileIdentity> identity_;
};

class FakeLogFile : public LogFile {
 public:
  FakeLogFile(FakePlatform& platform, std::string path, FileIdentity identity)
      : platform_(platform), path_(std::move(path)), identity_(identity) {}

  FileIdentity Identity() override {
    if (platform_.unstable_identities)
      identity_.file = FakeNode::NextFakeFileNumber();
    return identity_;
  }
  std::string FinalPath() override { return platform_.FinalPathOf(path_); }

  std::unique_ptr<LogSpool> MakeSpool(std::string* error_text) override {
    if (platform_.spool_make_fails) {
      *error_text = "Read-only file system";
      return nullptr;
    }
    return std::make_unique<FakeLogSpool>(platform_);
  }

  using LogFile::Append;
  bool Append(LogSpool* spool, std::string_view text, bool* lock_held,
              std::string* error_text) override {
    if (platform_.Count(FakeCall::kLogWrite, path_)) {
      *error_text = kFakeFaultText;
      return false;
    }
    if (platform_.log_write_fails) {
      *error_text = "Read-only file system";
      return false;
    }
    *lock_held = !platform_.log_lock_busy;
    std::string& file = platform_.files_written[path_];
    if (spool) file.append(static_cast<FakeLogSpool*>(spool)->text());
    file.append(text);
    return true;
  }

 private:
  FakePlatform& platform_;
  std::string path_;
  FileIdentity identity_;
};

}  // namespace

std::unique_ptr<LogFile> FakePlatform::OpenLogFile(const std::string& path,
                                                   std::string* error_text) {
  if (Count(FakeCall::kLogOpen, path)) {
    *error_text = kFakeFaultText;
    return nullptr;
  }
  // A log inside the fake tree is that file; any other is a file of its own
  // on another volume.
  const FakeNode* node = Find(path);
  const FileIdentity identity =
      node ? FileIdentity{1, node->id, 1}
           : FileIdentity{2, std::hash<std::string>()(path), 1};
  return std::make_unique<FakeLogFile>(*this, path, identity);
}

bool FakePlatform::AskYesNo(const std::string& title,
                            const std::string& prompt) {
  prompts.push_back(title + ": " + prompt);
  if (Count(FakeCall::kAsk, current_entry)) return false;
  if (signal_at_prompt != 0) {
    interrupt_signal = signal_at_prompt;
    signal_at_prompt = 0;
    return false;
  }
  if (answers.empty()) return false;
  const bool yes = answers.front();
  answers.pop_front();
  return yes;
}
