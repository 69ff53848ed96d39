// One column of an engine data set, read where the value lies in the current record's buffer.
// A field's own getters copy the value into an engine value first (an allocation from the engine's
// tracked memory per read); a reader that walks whole tables reads millions of fields, and this view
// reads them without that copy. The results are the field's own: a text column gives what
// TField::AsString and AsWideString give, an integer column what AsInteger gives, a Boolean column
// what AsBoolean gives, NULL as the field shows it ("" , 0, false). Any other column (BLOBs,
// numbers with fractions, dates, calculated fields) and a data set that is not browsing are read
// through the field itself, so the view never changes what is read.
// The view lives while its data set stays open with the same fields; a value is read from the record
// current at the call. Throws what the field's getters throw (a value out of range, a bad number).
#pragma once

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDField.h"

#include <QString>

#include <cstdint>
#include <string>

class TRecordColumn {
 public:
  TRecordColumn(nrd::TNRDDataSet& ds, nrd::TField& field);

  bool IsNull() const;
  std::string AsString() const;
  std::u16string AsWideString() const;
  // AsWideString as a QString, without the detour through std::u16string.
  QString AsQString() const;
  std::int32_t AsInteger() const;
  bool AsBoolean() const;
  nrd::TField& Field() const { return field_; }

 private:
  enum class Kind { Field, Narrow, Wide, Integer, Logical };
  // The value's bytes in the current record, or null when it is NULL; false when the view cannot look
  // (no record buffer of a browsing data set): the caller then asks the field.
  bool Look(const std::uint8_t*& at) const;

  nrd::TNRDDataSet& ds_;
  nrd::TField& field_;
  Kind kind_ = Kind::Field;
  nrd::TNRDBaseFieldType type_ = nrd::bftUnknown;
  std::int32_t tableFieldNo_ = 0;
  std::int32_t offset_ = 0;
  std::int32_t size_ = 0;
};
