// Person choice of the technical-field tool on the model (GEDCOM and ".at5" files): from the current
// person by the choice RadioGroup14 (0 the person alone, 1 descendants, 2 direct ancestors, 3 through
// fathers, 4 through mothers, 5 the clan: the fathers' line and its descendants through men, 6 every
// ancestor and every descendant of any of them, 7 the persons of the kinship path, 8 clear), the sex
// filter and the boxes "with spouses" (CheckBox55) and "with brothers and sisters" (CheckBox56). The
// choice is left in TINDI::TECH: "*" chosen, "+" added as spouse or child of a chosen person, "-" to be
// cleared (GEDCOM), "-DEL-" to be cleared (".at5").
//
// The walk ends on any data: it remembers each (person, direction) it walked, so parent links that form
// a loop end, and it keeps its own stack (no recursion), so a line of any length is walked.
// Single thread.
#pragma once

#include "app/core/Model.h"
#include "sources/GroupEdit.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The model field of the technical-field entry (0 NPFX, 1 NSFX, 2 RESI_PHON, 3 RESI_EMAIL, 4 RESI_WWW,
// 5 RESI_FAX); empty for another entry.
QString GetTechField(const TINDI& p, int entry);

// The protocol note for a chosen person, ", " first: the old value changes to the new one, was set
// already, or the new one is set (no old value).
QString SignChangeNote(platform::TIniFile* lang, const QString& newValue, const std::optional<QString>& oldValue);

// Clears every TECH mark and marks the chosen persons. `onMark` is called for each person in the order
// the marks are set, except for the ".at5" clear (every person "-DEL-", decided when writing); GEDCOM
// writes a protocol line there. current: person index of the walk's start (0: nobody); linkChain: the
// ";"-separated person indexes for item 7.
void ChooseModelPersons(Model& m, const TToolOptions& o, std::int64_t current, const QString& linkChain,
                        bool gedcom, const std::function<void(std::int64_t person)>& onMark);
