// One door to a family tree on disk: the reader is chosen by the file's type, taken from the last three
// letters of its name in upper case ("GED" the GEDCOM reader, "AT4" the ".at4" reader, "AT5" the ".at5"
// reader), as the window opens a file. The window (TForm1::OpenDataFiles) and every tool load through it,
// so a file opens the same way everywhere and a new reader is plugged in here once.
// Errors: the readers' EFamilyTreeRead (a keyed message), after which the model is in an unspecified but
// valid state and the caller resets it. Single thread.
#pragma once

#include "app/core/GedcomReader.h"
#include "app/core/Model.h"

#include <QString>

enum class TFamilyTreeType { Unknown, Gedcom, At4, At5 };

// The type of the file at path, by its name alone.
TFamilyTreeType FamilyTreeType(const QString& path);

// Reads the file at path into model (replacing what it held) and returns true; returns false, reading
// nothing and leaving the model as it was, for a type that has no reader (an unknown name). progress is
// called as the readers say (every 100 lines or 10 rows); nameTemplate is the person-list name template
// for the display names (an ".at4" file keeps its own full names). An ".at4" or ".at5" file is read
// through the program's data module when there is one (its database or connection then stays open, as
// the module's does), else through one of its own.
bool LoadFamilyTree(Model& model, const QString& path, const GedProgress& progress = {},
                    const QString& nameTemplate = QString::fromUtf16(kDefaultNameTemplate));
