// Decimal rounding.
#include "engine/foundation/NRDDecimalRounding.h"

#include <cmath>

namespace nrd {

long double DecimalRound(long double value, int ndfd, double maxRelErr, std::uint8_t mode) {
  if (std::isnan(value) || std::isinf(value) || mode == 0) return value;
  long double e = 1.0L;
  const int digits = ndfd < 0 ? -ndfd : ndfd;
  for (int i = 0; i < digits && !std::isinf(e); ++i) e *= 10.0L;
  if (std::isinf(e)) return ndfd >= 0 ? value : 0.0L;
  long double y, a;
  if (ndfd >= 0) {
    y = value * e;
    a = std::fabs(value * maxRelErr) * e;
  } else {
    y = value / e;
    a = std::fabs(value * maxRelErr) / e;
  }
  if (std::isinf(y)) return value;
  // Beyond 2^63 every extended value is already an integer; the allowance would only move it.
  if (std::fabs(y) >= 9223372036854775808.0L) return value;
  const long double ay = std::fabs(y);
  long double n;
  auto R = [](long double x) { return std::nearbyint(x); };  // ties to even
  switch (mode) {
    case 1:
      n = R(y - a);
      if (std::fmod(n, 2.0L) != 0) n = R(y + a);
      break;
    case 2: n = R(y + a); break;
    case 3: n = R(y - a); break;
    case 4: n = R(ay - a); break;
    case 5: n = R(ay + a); break;
    case 6: n = R(y + a - 0.5L); break;
    case 7: n = R(y - a + 0.5L); break;
    case 8: n = R(ay + a - 0.5L); break;
    case 9: n = R(ay - a + 0.5L); break;
    default: n = R(y); break;
  }
  long double r = ndfd >= 0 ? n / e : n * e;
  if ((mode == 4 || mode == 5 || mode == 8 || mode == 9) && value < 0) r = -r;
  return r;
}

long double DecimalRoundDouble(double value, int ndfd, std::uint8_t mode) {
  return DecimalRound(value, ndfd, kDecimalRoundMaxRelErr, mode);
}

}  // namespace nrd
