// What every listing can do with the operations each platform gives it.
#include <utility>

#include "platform/platform.h"

RemovalOutcome MadeRemoval::Finish() { return std::move(outcome); }

std::unique_ptr<PendingRemoval> Listing::RemoveCurrentLater(
    const RemovalRule& rule) {
  auto made = std::make_unique<MadeRemoval>();
  RemovalOutcome& outcome = made->outcome;
  if (!ReadCurrent(&outcome.facts, &outcome.error_number, &outcome.error_text)) {
    outcome.kind = RemovalOutcome::kUnreadable;
  } else if (!rule.StillToRemove(outcome.facts)) {
    outcome.kind = RemovalOutcome::kKept;
  } else {
    outcome.kind = RemoveCurrent(&outcome.error_number, &outcome.error_text)
                       ? RemovalOutcome::kRemoved
                       : RemovalOutcome::kFailed;
  }
  return made;
}
