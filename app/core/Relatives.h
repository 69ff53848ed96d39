// Relation marks of every person to the root person (FAVOR): "0" root, "1" direct ancestor, "2" descendant,
// "3" child of a direct ancestor (ancestor level 2), "4" further descendant of a collateral line at the
// root's generation or below (descendant level 2 and more), empty when unrelated within the levels.
// Tag1/Tag2 of every person are scratch flags of the walk (taken as a parent / as a child), so each person
// enters the walk at most twice and the walk ends on any data, cycles included. The walk keeps its own
// stack. A person already marked "0" or "1" keeps that mark. Single thread.
#pragma once

#include <cstdint>

#include "app/core/Model.h"

// ancestorLevel B: 0 (off), 1 or 2; descendantLevel C: 0 (off) .. 10. Root 0 clears every mark.
void MarkRelatives(Model& model, std::int64_t root, int ancestorLevel, int descendantLevel);
