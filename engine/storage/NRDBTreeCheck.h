// The integrity check over every B-tree of an open database, as the nrd-check tool runs it.
//
// Output, one line each: "index <table>.<name> ok" or "index <table>.<name> damaged: <what>", then
// "ok" or "damaged". Returns true when every tree is sound. Reads only; the session's page list is
// dropped afterwards.
//
// What it can see grows with the disk engine. Today it finds the trees by their root pages (index
// pages with the root flag) and names them "#<root page>". A tree with 4-byte keys is checked as a
// page index (keys are page numbers, so their order is checked too); any other tree is checked for
// its structure (headers, level links, circular links, entry counts) without key order, since the
// order of record keys needs the table's field definitions, which come with the table metadata.
#pragma once

#include <cstdint>
#include <ostream>

namespace nrd {

class TNRDPageManager;

bool CheckDatabaseIndexes(TNRDPageManager& pageManager, std::ostream& out, std::int32_t sessionID = 1);

}  // namespace nrd
