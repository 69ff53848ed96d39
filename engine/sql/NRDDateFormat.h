// Date format strings of TODATE and TOSTRING: a format such as "YYYY-MM-DD HH24:NN:SS" is cut into
// tokens once (case-insensitively, longest token first; everything else, and text in single or
// double quotes, is literal), then converts texts to date-times (ToDate) and back (ToString),
// tells the longest text a format produces and whether it describes a date, a time or both.
//
// Twelve-hour tokens (HH12, HH, H12, H) print 12 for noon and midnight, as clocks do; ToDate reads
// 12 AM as hour 0 and 12 PM as hour 12, and still accepts 00.
// ToDate throws ENRDException: 30129 for a missing AM/PM word, 30510 for a text that holds no number
// where the format wants one or that names no real date or time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDRuntime.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

enum TDateFormatType : std::uint8_t {
  dfYYYY, dfYY, dfYEAR, dfQ, dfMONTH, dfMON, dfMM, dfM, dfRM, dfDDD, dfDD, dfDAY, dfDY, dfDW, dfD,
  dfHH12, dfHH24, dfHH, dfH12, dfH24, dfH, dfNN, dfN, dfSS, dfS, dfAMPM, dfText
};

struct TDateFormatToken {
  TDateFormatType TokenType = dfText;
  std::string Text;
};

class TDateFormater {
 public:
  explicit TDateFormater(std::string_view dateFormat);

  TDateTime ToDate(std::string_view str) const;
  std::string ToString(TDateTime dateTime) const;
  std::int32_t GetStringMaxSize() const;
  TNRDAdvancedFieldType GetDataType() const;
  std::string DebugGetTotenList() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FDateFormat; }

 private:
  std::string FFormat;
  std::vector<TDateFormatToken> FDateFormat;
};

}  // namespace nrd
