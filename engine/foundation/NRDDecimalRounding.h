// Decimal rounding of floats under ten modes, with an allowance for the binary representation
// error of the value (so 2.675 rounds to 2.68 at two places). Used by the SQL function ROUND.
// Modes: 0 none; 1 half even; 2 half up (+inf); 3 half down (-inf); 4 half toward zero;
// 5 half away from zero; 6 down (floor); 7 up (ceiling); 8 toward zero; 9 away from zero;
// 10 and above the floating-point unit's default (half even, no allowance).
#pragma once

#include <cstdint>

namespace nrd {

enum TNRDDecimalRoundMode : std::uint8_t {
  drNone = 0, drHalfEven = 1, drHalfPos = 2, drHalfNeg = 3, drHalfDown = 4, drHalfUp = 5,
  drRndNeg = 6, drRndPos = 7, drRndDown = 8, drRndUp = 9
};

inline constexpr double kDecimalRoundMaxRelErr = 5.481726184209375e-16;

// Rounds to ndfd decimal places (negative: to tens, hundreds, ...). NaN, infinity and mode 0 return
// the value. Digits beyond the exponent range return the value (ndfd >= 0) or 0 (ndfd < 0); a
// scaled value already integral beyond 2^63 is returned as it is. Never traps.
long double DecimalRound(long double value, int ndfd, double maxRelErr, std::uint8_t mode);
long double DecimalRoundDouble(double value, int ndfd, std::uint8_t mode);

}  // namespace nrd
