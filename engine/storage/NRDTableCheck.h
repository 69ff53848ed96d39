// The check of every disk table of an open database file, as the nrd-check tool runs it: for each
// table of the table list its record pages (type, owner, slot counts against the record page index
// and the stored record count), its BLOB values (every reference of every record read back, shared
// pages' allocated space against the BLOB page index), and over the whole file the free space
// accounting (every page the free space map marks used is owned by a system structure, a table's
// internal file, record, BLOB or index pages, and no owned page is marked free).
//
// Every index entry is compared with its record: the entry's record exists and has no other entry,
// its key is the record's key now, and the index has as many entries as the table has records.
// Index pages are owned by their trees; a page that fails its page check is damage.
//
// Output, one line each: "table <name> ok (<records> records, <blobs> BLOB values, <n> indexes)" or
// "table <name> damaged: <what>", then "pages ok (<used> used)" or "pages damaged: <what>", then,
// when there are any, "leaked pages: <count> (<bytes> bytes): <page numbers>": pages a transaction
// took and never committed (used, owned by nothing, never written or written as removed). They
// are not damage. Reads only, as the given session, whose page list is dropped afterwards. Returns
// true when all is sound.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace nrd {

class TNRDDiskPageManager;

// leakedPages, when given, receives the used pages that nothing owns and that hold no live content
// (reported on the "leaked pages" line, which is not damage).
bool CheckDatabaseTables(TNRDDiskPageManager& pageManager, std::ostream& out, std::int32_t sessionID = 1,
                         std::vector<std::int32_t>* leakedPages = nullptr);

}  // namespace nrd
