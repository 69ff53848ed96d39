// The engine's small run-time layer: the error classes of the run-time library, the message
// formatter `Format`, format settings with Russian defaults, text <-> number and date conversions,
// date encoding, explicit overflow and division checks, GUIDs, temporary files and critical sections.
// Engine code uses these in place of a platform run-time library. Plain C++, no Qt.
// Single-byte texts are std::string holding ANSI (Windows-1251 by default) bytes.
// Thread safety: every routine is reentrant; the global format settings are meant to be set at
// start-up and only read afterwards.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace nrd {

// ---------------------------------------------------------------------------------------------
// Error classes of the run-time layer. `Exception` is the base of every error the engine raises
// (ENRDException derives from it too); `Message()` is the text, also returned by what().
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// A text could not be converted, or a format string does not fit its arguments.
class EConvertError : public Exception { using Exception::Exception; };
// Integer arithmetic left the range of its type where the engine expects a check.
class EIntOverflow : public Exception { using Exception::Exception; };
// Integer division by zero.
class EDivByZero : public Exception { using Exception::Exception; };
// Float division of a non-zero value by zero.
class EZeroDivide : public Exception { using Exception::Exception; };
// Float result too large (infinite).
class EOverflow : public Exception { using Exception::Exception; };
// Invalid float operation (NaN result, 0/0, conversion out of range).
class EInvalidOp : public Exception { using Exception::Exception; };
// A value outside its allowed range (date parts, indexes).
class ERangeError : public Exception { using Exception::Exception; };
// The allocator could not provide memory.
class EOutOfMemory : public Exception { using Exception::Exception; };
// An operating-system call failed; ErrorCode() is errno.
class EOSError : public Exception {
 public:
  EOSError(std::string message, int errorCode) : Exception(std::move(message)), error_code_(errorCode) {}
  int ErrorCode() const noexcept { return error_code_; }

 private:
  int error_code_;
};

// Texts of the run-time errors, used where a caller wraps them in its own message.
inline constexpr const char* kIntOverflowText = "Integer overflow";
inline constexpr const char* kDivByZeroText = "Division by zero";
inline constexpr const char* kZeroDivideText = "Floating point division by zero";
inline constexpr const char* kOverflowText = "Floating point overflow";
inline constexpr const char* kInvalidOpText = "Invalid floating point operation";
inline constexpr const char* kOutOfMemoryText = "Out of memory";

// ---------------------------------------------------------------------------------------------
// One argument of `Format`. Integers keep their signedness and width class (32 or 64 bit), floats
// are long double, texts are ANSI (std::string) or UTF-16 (converted through the ANSI code page).
// Texts are held as views: a TVarRec lives only as long as the text it was made from (as in a call
// `Format(f, {a, b})`).
class TVarRec {
 public:
  enum class Kind { Integer, Int64, UInt64, Float, String, WideString, Boolean, Char, Pointer };

  TVarRec(bool v) : kind_(Kind::Boolean), i_(v ? 1 : 0) {}
  TVarRec(char v) : kind_(Kind::Char), i_(static_cast<unsigned char>(v)) {}
  TVarRec(signed char v) : kind_(Kind::Integer), i_(v) {}
  TVarRec(unsigned char v) : kind_(Kind::Integer), i_(v) {}
  TVarRec(short v) : kind_(Kind::Integer), i_(v) {}
  TVarRec(unsigned short v) : kind_(Kind::Integer), i_(v) {}
  TVarRec(int v) : kind_(Kind::Integer), i_(v) {}
  TVarRec(unsigned int v) : kind_(Kind::Int64), i_(v) {}
  TVarRec(long v) : kind_(Kind::Int64), i_(v) {}
  TVarRec(long long v) : kind_(Kind::Int64), i_(v) {}
  TVarRec(unsigned long v) : kind_(Kind::UInt64), u_(v) {}
  TVarRec(unsigned long long v) : kind_(Kind::UInt64), u_(v) {}
  TVarRec(float v) : kind_(Kind::Float), f_(v) {}
  TVarRec(double v) : kind_(Kind::Float), f_(v) {}
  TVarRec(long double v) : kind_(Kind::Float), f_(v) {}
  TVarRec(const char* v) : kind_(Kind::String), s_(v ? v : "") {}
  TVarRec(std::string_view v) : kind_(Kind::String), s_(v) {}
  TVarRec(const std::string& v) : kind_(Kind::String), s_(v) {}
  TVarRec(std::u16string_view v) : kind_(Kind::WideString), w_(v) {}
  TVarRec(const std::u16string& v) : kind_(Kind::WideString), w_(v) {}
  TVarRec(const void* v) : kind_(Kind::Pointer), p_(v) {}

  Kind kind() const { return kind_; }
  std::int64_t AsInt() const { return i_; }
  std::uint64_t AsUInt() const { return u_; }
  long double AsFloat() const { return f_; }
  std::string_view AsString() const { return s_; }
  std::u16string_view AsWide() const { return w_; }
  const void* AsPointer() const { return p_; }

 private:
  Kind kind_;
  union {
    std::int64_t i_;
    std::uint64_t u_;
    long double f_;
    const void* p_;
  };
  std::string_view s_;
  std::u16string_view w_;
};

using TVarRecs = std::initializer_list<TVarRec>;

// ---------------------------------------------------------------------------------------------
// Format settings. The defaults are those of the Russian locale (1049), which the program sets at
// start: "dd.MM.yyyy", "H:mm:ss", decimal comma, no-break-space thousands, "р." currency.
struct TFormatSettings {
  std::string CurrencyString;
  std::uint8_t CurrencyFormat = 3;   // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  std::uint8_t NegCurrFormat = 8;    // 8 "-1 $"; the others as the platform numbers them
  char ThousandSeparator = '\xA0';
  char DecimalSeparator = ',';
  std::uint8_t CurrencyDecimals = 2;
  char DateSeparator = '.';
  char TimeSeparator = ':';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  std::string TimeAMString;
  std::string TimePMString;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::string ShortMonthNames[12];
  std::string LongMonthNames[12];
  std::string ShortDayNames[7];  // Sunday first
  std::string LongDayNames[7];
  int TwoDigitYearCenturyWindow = 50;

  // The Russian (1049) settings.
  static TFormatSettings Russian();
  // Neutral settings for machine texts: "yyyy-mm-dd", "hh:nn:ss", '.' decimal, no thousands.
  static TFormatSettings Invariant();
};

// The process-wide settings, Russian unless changed at start-up.
TFormatSettings& FormatSettings();

// ---------------------------------------------------------------------------------------------
// The message formatter. Specifiers: "%" ["index:"] ["-"] [width] ["." precision] type, with
// width and precision also given as "*" (taken from the arguments); types d u x (integers; the
// precision is the minimum digit count), e f g n m (floats; n with thousands separators, m as
// currency), s (texts; the precision cuts), p (pointer); "%%" is a percent sign.
// A missing argument, an argument of the wrong kind or a bad specifier raises EConvertError;
// arguments beyond those the format uses are ignored.
std::string Format(std::string_view format, TVarRecs args);
std::string Format(std::string_view format, TVarRecs args, const TFormatSettings& settings);
std::string Format(std::string_view format, std::span<const TVarRec> args, const TFormatSettings& settings);

// ---------------------------------------------------------------------------------------------
// Number <-> text. Integer texts accept leading blanks, a sign, decimal digits or hexadecimal
// after "$", "0x" or "x"; nothing may follow. Float texts accept leading and trailing blanks, a sign,
// digits with the settings' decimal separator or '.', and an exponent; no thousands separators,
// no "inf" or "nan". Failures raise EConvertError "'%s' is not a valid integer value" or
// "'%s' is not a valid floating point value".
std::string IntToStr(std::int64_t value);
std::string UIntToStr(std::uint64_t value);
std::string IntToHex(std::uint64_t value, int digits);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToUInt64(std::string_view text, std::uint64_t& value);
std::int64_t StrToInt64(std::string_view text);
std::int32_t StrToInt(std::string_view text);

// General float text: up to `precision` significant digits, fixed when the exponent allows,
// else "1,5E-10" style; trailing zeros removed.
std::string FloatToStr(long double value);
std::string FloatToStr(long double value, const TFormatSettings& settings);
std::string FloatToStrGeneral(long double value, int precision, int expDigits,
                              const TFormatSettings& settings);
bool TryStrToFloat(std::string_view text, long double& value);
bool TryStrToFloat(std::string_view text, long double& value, const TFormatSettings& settings);
long double StrToFloat(std::string_view text);
long double StrToFloat(std::string_view text, const TFormatSettings& settings);
// Currency is held as a double rounded to four decimals.
std::string CurrToStr(double value);
double StrToCurr(std::string_view text);
bool TryStrToCurr(std::string_view text, double& value);

// ---------------------------------------------------------------------------------------------
// Dates. A date-time is a double: whole days since 1899-12-30 plus the fraction of the day.
// Before that day the serial is negative and the fraction still counts forward from midnight
// (-1.25 is 1899-12-29 06:00). Years 1..9999.
using TDateTime = double;
inline constexpr double kMinDateTime = -693593.0;          // 0001-01-01
inline constexpr double kMaxDateTime = 2958465.99999999;   // 9999-12-31 23:59:59.999
inline constexpr double kMSecsPerDay = 86400000.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
TDateTime EncodeDate(int year, int month, int day);  // ERangeError when invalid
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
// Date part of a serial, by the negative-serial rule. False when the serial is outside 1..9999.
bool TryDecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
// Time part (of the absolute fraction), rounded to the millisecond.
void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime date);  // 1 = Sunday .. 7 = Saturday
// Combine a date serial and a time fraction the platform way (the time counts away from zero
// for negative dates).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
// Whole days of a serial (toward zero) and its time fraction (absolute).
double DatePart(TDateTime value);
double TimePart(TDateTime value);
// The current local date and time.
TDateTime Now();
// Days since 0000-12-31 (1 = 0001-01-01) and milliseconds since midnight of a serial, with the
// time rounded to the millisecond and a rounding to midnight carried into the next day.
struct TTimeStamp {
  std::int32_t Time = 0;
  std::int32_t Date = 0;
};
inline constexpr std::int32_t kDateDelta = 693594;  // days from 0001-01-01 (day 1) to 1899-12-30
// ERangeError when the serial is NaN, infinite or outside years 1..9999.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

// Tokens: d dd ddd dddd ddddd(short date) dddddd(long date) m mm mmm mmmm (minutes after h),
// yy yyyy, h hh, n nn, s ss, z zzz, t tt, am/pm a/p ampm, c, / :, 'quoted' "quoted".
std::string FormatDateTime(std::string_view format, TDateTime value);
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& settings);
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
std::string DateToStr(TDateTime value, const TFormatSettings& settings);
std::string TimeToStr(TDateTime value, const TFormatSettings& settings);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings);
// Texts in the order of ShortDateFormat with the settings' date separator; a two-digit year
// follows TwoDigitYearCenturyWindow; a missing year is the current year. Times "h:n[:s[.z]]"
// with an optional AM/PM marker. Failures raise EConvertError "'%s' is not a valid date" (time,
// date and time).
bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& settings);
bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& settings);
bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& settings);
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);
TDateTime StrToDate(std::string_view text, const TFormatSettings& settings);
TDateTime StrToTime(std::string_view text, const TFormatSettings& settings);
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& settings);

// ---------------------------------------------------------------------------------------------
// Explicit checks in place of hardware traps. The integer routines raise EIntOverflow or
// EDivByZero; the float routines raise EZeroDivide, EOverflow or EInvalidOp; none ever traps.
std::int32_t CheckedAdd32(std::int32_t a, std::int32_t b);
std::int32_t CheckedSub32(std::int32_t a, std::int32_t b);
std::int32_t CheckedMul32(std::int32_t a, std::int32_t b);
std::int32_t CheckedNeg32(std::int32_t a);
std::int64_t CheckedAdd64(std::int64_t a, std::int64_t b);
std::int64_t CheckedSub64(std::int64_t a, std::int64_t b);
std::int64_t CheckedMul64(std::int64_t a, std::int64_t b);
std::int64_t CheckedNeg64(std::int64_t a);
// Quotient truncated toward zero; the smallest value divided by -1 wraps as the width allows.
std::int64_t CheckedDiv64(std::int64_t a, std::int64_t b);
std::uint64_t CheckedDivU64(std::uint64_t a, std::uint64_t b);
std::int64_t CheckedMod64(std::int64_t a, std::int64_t b);
// Wrapping arithmetic in two's complement, without undefined behaviour.
template <typename T> T WrapAdd(T a, T b);
template <typename T> T WrapSub(T a, T b);
template <typename T> T WrapMul(T a, T b);
template <typename T> T WrapNeg(T a);
// Float division and the check of a float result.
long double CheckedFloatDiv(long double a, long double b);
long double CheckFloat(long double value);
// Float to integer with truncation (Trunc) or nearest, ties to even (Round); EInvalidOp when
// NaN, infinite or outside the 64-bit range.
std::int64_t TruncToInt64(long double value);
std::int64_t RoundToInt64(long double value);

// ---------------------------------------------------------------------------------------------
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::uint8_t D4[8] = {};
  friend bool operator==(const TGUID&, const TGUID&) = default;
};
// A random (version 4) GUID.
TGUID CreateGUID();
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters, upper-case hexadecimal.
std::string GUIDToString(const TGUID& guid);

// ---------------------------------------------------------------------------------------------
// The temporary folder (TMPDIR, else /tmp), without a trailing separator.
std::string GetTempDirectory();
// Creates a new empty file "<prefix>XXXXXX" in the temporary folder with mkstemp, unlinks it at
// once and returns its open read-write descriptor; `fileName` receives the name it had. The file
// vanishes when the descriptor closes. Raises EOSError on failure.
int CreateTemporaryFile(std::string_view prefix, std::string& fileName);

// Critical sections: the engine re-enters its own locks.
using TCriticalSection = std::recursive_mutex;
using TCriticalSectionGuard = std::lock_guard<std::recursive_mutex>;

// ---------------------------------------------------------------------------------------------
template <typename T> T WrapAdd(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(static_cast<U>(a) + static_cast<U>(b)));
}
template <typename T> T WrapSub(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(static_cast<U>(a) - static_cast<U>(b)));
}
template <typename T> T WrapMul(T a, T b) {
  using U = std::make_unsigned_t<T>;
  // Promote to at least unsigned int so that 16-bit products do not overflow a signed int.
  using P = std::conditional_t<(sizeof(U) < sizeof(unsigned)), unsigned, U>;
  return static_cast<T>(static_cast<U>(static_cast<P>(static_cast<U>(a)) * static_cast<P>(static_cast<U>(b))));
}
template <typename T> T WrapNeg(T a) {
  using U = std::make_unsigned_t<T>;
  using P = std::conditional_t<(sizeof(U) < sizeof(unsigned)), unsigned, U>;
  return static_cast<T>(static_cast<U>(P(0) - static_cast<P>(static_cast<U>(a))));
}

}  // namespace nrd
