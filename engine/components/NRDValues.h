// The layer's value type (TVariantValue) and its text forms: integers decimal, floats the shortest
// text that reads back to the same value with "." as separator, booleans "True"/"False", dates ISO
// ("2024-02-29", "2024-02-29 13:05:00", "13:05:00"). Dates are day numbers since 1899-12-30.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDVariant.h"

namespace nrd {

// ----- values -----------------------------------------------------------------------------------------------

// Helpers over TVariantValue, the layer's value type: null, bool, int64, double, text, wide text,
// date-time (varDate: days since 1899-12-30) and bytes (varString holding raw bytes).
TVariantValue NullValue();
TVariantValue BoolValue(bool v);
TVariantValue IntValue(std::int64_t v);
TVariantValue FloatValue(double v);
TVariantValue TextValue(std::string_view v);
TVariantValue WideValue(std::u16string_view v);
TVariantValue DateTimeValue(TDateTime v);
inline bool IsNullValue(const TVariantValue& v) { return v.VType == varNull || v.VType == varEmpty; }
// The text form of a value (the rules at the top of this file); "" for null.
std::string ValueToText(const TVariantValue& v);
// Values of the same kind compare by content; null equals only null.
bool SameValue(const TVariantValue& a, const TVariantValue& b);

// The text of numbers and dates used by fields.
std::string FloatToShortestText(double v);
std::string DateToISO(TDateTime v);
std::string TimeToISO(TDateTime v);
std::string DateTimeToISO(TDateTime v);

}  // namespace nrd
