// The integrity check over every B-tree of an open database, as the nrd-check tool runs it.
//
// Output, one line each: for every table of the file's table list "table <name> records <n>", then
// for each of its indexes "index <table>.<name> ok" or "index <table>.<name> damaged: <what>" (the
// record page and BLOB page indexes as "RecordPageIndex" and "BlobPageIndex"); finally "ok" or
// "damaged". Returns true when every tree is sound. Reads only; the session's page list is dropped
// afterwards.
//
// Record index keys are ordered and compared with this engine's collation, so a text index that a
// file written elsewhere ordered differently is reported damaged. A table whose metadata cannot be
// read is reported as "table <name> damaged: <what>".
//
// A file without a table list (bare page files) is checked by its tree roots instead: every index
// page with the root flag, named "#<root page>"; a tree with 4-byte keys as a page index, any other
// for its structure only (headers, level links, circular links, entry counts).
#pragma once

#include <cstdint>
#include <ostream>

namespace nrd {

class TNRDDiskPageManager;
class TNRDPageManager;

bool CheckDatabaseIndexes(TNRDDiskPageManager& pageManager, std::ostream& out, std::int32_t sessionID = 1);
// The tree-root scan alone.
bool CheckIndexTreeRoots(TNRDPageManager& pageManager, std::ostream& out, std::int32_t sessionID = 1);

}  // namespace nrd
