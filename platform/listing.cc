// What every listing can do with the operations each platform gives it.
#include <utility>

#include "platform/platform.h"

namespace {

class Made final : public PendingRemoval {
 public:
  explicit Made(RemovalOutcome outcome) : outcome_(std::move(outcome)) {}
  bool Ready() override { return true; }
  RemovalOutcome Finish() override { return std::move(outcome_); }
  bool Cancel() override { return false; }

 private:
  RemovalOutcome outcome_;
};

}  // namespace

std::unique_ptr<PendingRemoval> MadeRemoval(RemovalOutcome outcome) {
  if (outcome.error_text.empty() && outcome.error_wording)
    outcome.error_text = outcome.error_wording;
  return std::make_unique<Made>(std::move(outcome));
}

std::unique_ptr<PendingRemoval> Listing::RemoveCurrentLater(
    const RemovalRule& rule) {
  RemovalOutcome outcome;
  if (!ReadCurrent(&outcome.facts, &outcome.error_text)) {
    outcome.kind = RemovalOutcome::kUnreadable;
  } else if (!rule.StillToRemove(outcome.facts)) {
    outcome.kind = RemovalOutcome::kKept;
  } else {
    outcome.kind = RemoveCurrent(&outcome.error_number, &outcome.error_text)
                       ? RemovalOutcome::kRemoved
                       : RemovalOutcome::kFailed;
  }
  return MadeRemoval(std::move(outcome));
}
