// The full-name layout of an ".at4" database: the single row of the table "global" holds, in its BLOB
// column fullname, an XML document (UTF-16LE) whose document element lists one element per part of a
// person's full name, with the attributes "fieldID", "prefix", "suffix", "emptyval" and "abbr" (a missing
// attribute is an empty text). The group edit tools rebuild full names from it.
//
// The document comes from a file we did not write: it is read with an XML reader that limits entity
// expansion (a document that expands without end is an error, not a hang), a leading byte-order mark is
// dropped, the document element is used whether an XML declaration comes before it or not, and only its
// element children count (text, comments and processing instructions between them are skipped).
// Errors: EAt4Read BadLayout (naming the file and what is wrong). Main thread only.
#pragma once

#include "app/core/Model.h"
#include "sources/At4Reader.h"
#include "sources/Unit2.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The layout of a document given as its UTF-16LE bytes (up to the first NUL character). path names the
// file in a message.
std::vector<TFullName> ParseFullNameLayout(const QByteArray& utf16le, const QString& path);

// The layout of the database the module has open (its "global" row, read through Query_TMP).
std::vector<TFullName> LoadFullNameLayout(TDataModule2& dm);
