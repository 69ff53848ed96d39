// The check of every disk table of an open database file, as the nrd-check tool runs it: for each
// table of the table list its record pages (type, owner, slot counts against the record page index
// and the stored record count), its BLOB values (every reference of every record read back, shared
// pages' allocated space against the BLOB page index), and over the whole file the free space
// accounting (every page the free space map marks used is owned by a system structure, a table's
// internal file, record, BLOB or index pages, and no owned page is marked free).
//
// Output, one line each: "table <name> ok (<records> records, <blobs> BLOB values)" or "table <name>
// damaged: <what>", then "pages ok (<used> used)" or "pages damaged: <what>". Reads only, as the
// given session, whose page list is dropped afterwards. Returns true when all is sound.
#pragma once

#include <cstdint>
#include <ostream>

namespace nrd {

class TNRDDiskPageManager;

bool CheckDatabaseTables(TNRDDiskPageManager& pageManager, std::ostream& out, std::int32_t sessionID = 1);

}  // namespace nrd
