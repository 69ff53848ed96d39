#include "platform/FileLocks.h"

#include <algorithm>

namespace platform {

bool LockRegistry::Overlaps(std::int64_t offset, std::int64_t count) const {
  const std::int64_t end = offset + count;
  return std::any_of(ranges_.begin(), ranges_.end(), [&](const LockedRange& r) {
    return r.Offset < end && offset < r.Offset + r.Count;
  });
}

bool LockRegistry::Holds(std::int64_t offset, std::int64_t count) const {
  return std::find(ranges_.begin(), ranges_.end(), LockedRange{offset, count}) != ranges_.end();
}

void LockRegistry::Add(std::int64_t offset, std::int64_t count) { ranges_.push_back({offset, count}); }

bool LockRegistry::Remove(std::int64_t offset, std::int64_t count) {
  auto it = std::find(ranges_.begin(), ranges_.end(), LockedRange{offset, count});
  if (it == ranges_.end()) return false;
  ranges_.erase(it);
  return true;
}

}  // namespace platform
