// The page types of a disk database file, as stored in a page header's PageType, one name each;
// PageTypeName (NRDDiskPageManager.h) gives their display names. A header of its own, so that files
// that only need the numbers do not see the whole disk page manager.
#pragma once

#include <cstdint>

namespace nrd {

enum : std::uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};

}  // namespace nrd
