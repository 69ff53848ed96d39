// One fuzz input for the GEDCOM reader: any byte sequence must load into a model that passes the model
// checker, and the canonical dump of that model must be writable. Shared by the libFuzzer target and
// the test that replays the kept corpus.
#pragma once

#include "app/core/GedcomReader.h"
#include "app/core/ModelCheck.h"
#include "app/core/ModelDump.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// The checker's complaints for one input; empty when the model is sound.
inline QStringList GedcomFuzzOne(const std::uint8_t* data, std::size_t size) {
  Model m;
  Ged_IndiFromBytes(m, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
  QStringList problems = CheckModel(m);
  if (DumpModel(m, QStringLiteral("20260101")).isEmpty()) problems << QStringLiteral("empty dump");
  return problems;
}
