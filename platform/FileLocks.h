// The byte ranges one file handle holds locked. Windows byte-range locks are not merged or split the
// way POSIX locks are: a handle may not lock a range overlapping one it already holds, and an unlock
// must name exactly a range that was locked. The registry keeps those rules in front of the
// system's locks and lets a reopened handle take its locks again. Plain C++, no Qt.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct LockedRange {
  std::int64_t Offset = 0;
  std::int64_t Count = 0;
  friend bool operator==(const LockedRange&, const LockedRange&) = default;
};

class LockRegistry {
 public:
  // True when a held range shares at least one byte with [offset, offset + count).
  bool Overlaps(std::int64_t offset, std::int64_t count) const;
  // True when exactly this range is held.
  bool Holds(std::int64_t offset, std::int64_t count) const;
  void Add(std::int64_t offset, std::int64_t count);
  // Removes exactly this range; false when it is not held.
  bool Remove(std::int64_t offset, std::int64_t count);
  void Clear() { ranges_.clear(); }
  const std::vector<LockedRange>& Ranges() const { return ranges_; }

 private:
  std::vector<LockedRange> ranges_;
};

}  // namespace platform
