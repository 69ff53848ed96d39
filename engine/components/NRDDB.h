// The engine's own data-set layer: what the table, query and database components and their users
// need from a data-access framework, and nothing more. Components with owners, field and index
// definitions, fields with typed accessors and BLOB streams, parameters, data sources and links,
// and the data set with its states, navigation, editing, bookmarks, filters, locate and lookup.
//
// One active record buffer: the data set shows one record at a time (no grid window). The record
// buffer's form belongs to the concrete data set (the engine data set uses the cursor's in-memory
// record); this layer only holds it and hands it to the concrete class's hooks.
//
// Values are the engine's own (TNRDVariant, TVariantValue): dates are day numbers since
// 1899-12-30, times fractions of a day, exactly as the engine keeps them.
// Text forms of values: integers decimal, floats the shortest text that reads back to the same
// value with "." as separator, booleans "True"/"False", dates ISO ("2024-02-29",
// "2024-02-29 13:05:00", "13:05:00"), single-byte text in the configured code page.
//
// Misuse (wrong state, unknown names) raises EDatabaseError with the component's name in front.
// Not thread-safe: a data set and its fields belong to one thread.
//
// This header gathers the layer's headers, one per class (or collection with its item).
#pragma once

#include "engine/components/NRDComponent.h"
#include "engine/components/NRDDataSetBase.h"
#include "engine/components/NRDDataSource.h"
#include "engine/components/NRDField.h"
#include "engine/components/NRDFieldDefs.h"
#include "engine/components/NRDIndexDefs.h"
#include "engine/components/NRDParams.h"
#include "engine/components/NRDValues.h"
