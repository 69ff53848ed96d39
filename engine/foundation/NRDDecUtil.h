// Text formats of the cipher library: byte strings to printable text and back (copy, Base64, and the
// registered but alphabet-less hexadecimal and UU/XX formats), the module-wide format list, and the
// exception classes the cipher library raises.
// Formats are stateless: a "class reference" is a pointer to the one static instance of a format class.
// Results are single-byte strings (std::string holding bytes). Thread safety: the format list is only
// changed at start-up; conversions are stateless.
// Throws EStringFormat for an unknown format or invalid input; a format without an alphabet raises a
// plain Exception ("Not implemented N") on every conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

// Raised for a missing format or input that a format cannot convert.
class EStringFormat : public Exception {
 public:
  using Exception::Exception;
};

// Raised by protection chains (a circular chain).
class EProtection : public Exception {
 public:
  using Exception::Exception;
};

// Raised by ciphers; ErrorCode 3 = the cipher is not initialised.
class ECipherException : public Exception {
 public:
  ECipherException(const std::string& message, int errorCode) : Exception(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// Base format: "copy Input to Output". Every method is a "class function": formats have no state.
// `value`/`len`: bytes at `value`; a negative `len` means up to the first zero byte.
class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  // Text in this format -> bytes.
  virtual std::string ToStr(const char* value, int len) const;
  // Bytes -> text in this format.
  virtual std::string StrTo(const char* value, int len) const;
  virtual std::string Name() const;
  virtual int Format() const;
  // Whether the input converts in the direction `toStr` names (true: text -> bytes).
  virtual bool IsValid(const char* value, int len, bool toStr) const;

  static const TStringFormat* Class();

 protected:
  TStringFormat() = default;
};

using TStringFormatClass = const TStringFormat*;

// Formats with an alphabet. This one provides none: "Not Implemented 2".
class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const char* value, int len) const override;
  std::string StrTo(const char* value, int len) const override;
  std::string Name() const override;
  int Format() const override;
  bool IsValid(const char* value, int len, bool toStr) const override;
  // The format's alphabet; raises a plain exception when the format has none.
  virtual std::string_view CharTable() const;

  static const TStringFormat* Class();
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  std::string Name() const override;
  int Format() const override;
  std::string_view CharTable() const override;
  static const TStringFormat* Class();
};

// Base64 without line breaks; the alphabet's 65th character "=" pads.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  std::string ToStr(const char* value, int len) const override;
  std::string StrTo(const char* value, int len) const override;
  std::string Name() const override;
  int Format() const override;
  std::string_view CharTable() const override;
  static const TStringFormat* Class();
};

class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const char* value, int len) const override;
  std::string StrTo(const char* value, int len) const override;
  std::string Name() const override;
  int Format() const override;
  bool IsValid(const char* value, int len, bool toStr) const override;
  virtual std::string_view CharTable() const;
  static const TStringFormat* Class();
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  std::string Name() const override;
  int Format() const override;
  std::string_view CharTable() const override;
  static const TStringFormat* Class();
};

// The registered formats in registration order; the six built-in formats are registered on first use.
const std::vector<TStringFormatClass>& StringFormatList();
// Adds each class; one whose Format is already listed replaces it in place; Format -1 is skipped.
void AddStringFormatClasses(const std::vector<TStringFormatClass>& classes);
// The first registered class with that identifier (-1: the default), or nullptr.
TStringFormatClass StringFormatById(int format);
int DefaultStringFormatId();

// Bytes -> text. Empty for no value, format 0 or no bytes. Throws EStringFormat.
std::string BytesToStringFormat(const char* value, int len, int format);
std::string BytesToStringFormat(std::string_view value, int format);
// Text -> bytes. Empty for no value, format 0 or no text. Throws EStringFormat.
std::string StringFormatToBytes(const char* value, int len, int format);
std::string StringFormatToBytes(std::string_view value, int format);

}  // namespace nrd
