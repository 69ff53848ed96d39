// Text formats of the cipher library and the module-wide format list.
#include "engine/foundation/NRDDecUtil.h"

#include <cstring>

namespace nrd {

namespace {

// Resolves a negative length to the distance to the first zero byte.
int ResolveLen(const char* value, int len) {
  if (value == nullptr) return 0;
  if (len < 0) return static_cast<int>(std::strlen(value));
  return len;
}

// True when every character of the text is in the format's alphabet.
bool AllInTable(std::string_view table, const char* value, int len) {
  len = ResolveLen(value, len);
  for (int i = 0; i < len; ++i)
    if (table.find(value[i]) == std::string_view::npos) return false;
  return true;
}

std::string FormatMessage(const char* pattern, const std::string& arg) {
  std::string text(pattern);
  auto at = text.find("%s");
  if (at == std::string::npos) at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

}  // namespace

// ---- copy ----

std::string TStringFormat::ToStr(const char* value, int len) const {
  len = ResolveLen(value, len);
  return len > 0 ? std::string(value, static_cast<std::size_t>(len)) : std::string();
}

std::string TStringFormat::StrTo(const char* value, int len) const { return ToStr(value, len); }
std::string TStringFormat::Name() const { return "copy Input to Output"; }
int TStringFormat::Format() const { return 1; }
bool TStringFormat::IsValid(const char*, int, bool) const { return true; }

const TStringFormat* TStringFormat::Class() {
  static const TStringFormat instance;
  return &instance;
}

// ---- hexadecimal (registered, no alphabet) ----

std::string_view TStringFormat_HEX::CharTable() const { throw Exception("Not Implemented 2"); }

std::string TStringFormat_HEX::ToStr(const char*, int) const {
  (void)CharTable();
  return {};
}

std::string TStringFormat_HEX::StrTo(const char*, int) const {
  (void)CharTable();
  return {};
}

std::string TStringFormat_HEX::Name() const { return "Hexadecimal"; }
int TStringFormat_HEX::Format() const { return 16; }

bool TStringFormat_HEX::IsValid(const char* value, int len, bool toStr) const {
  return !toStr || AllInTable(CharTable(), value, len);
}

const TStringFormat* TStringFormat_HEX::Class() {
  static const TStringFormat_HEX instance;
  return &instance;
}

std::string TStringFormat_HEXL::Name() const { return "Hexadecimal lowercase"; }
int TStringFormat_HEXL::Format() const { return 1016; }
std::string_view TStringFormat_HEXL::CharTable() const { throw Exception("Not implemented 3"); }

const TStringFormat* TStringFormat_HEXL::Class() {
  static const TStringFormat_HEXL instance;
  return &instance;
}

// ---- Base64 ----

namespace {
constexpr std::string_view kMime64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
}  // namespace

std::string_view TStringFormat_MIME64::CharTable() const { return kMime64; }
std::string TStringFormat_MIME64::Name() const { return "MIME Base 64"; }
int TStringFormat_MIME64::Format() const { return 4196; }

std::string TStringFormat_MIME64::StrTo(const char* value, int len) const {
  const std::string_view table = CharTable();
  len = ResolveLen(value, len);
  std::string out;
  if (len <= 0) return out;
  out.reserve(static_cast<std::size_t>((len + 2) / 3) * 4);
  const auto* p = reinterpret_cast<const std::uint8_t*>(value);
  for (int i = 0; i < len; i += 3) {
    const int n = len - i < 3 ? len - i : 3;
    std::uint32_t group = static_cast<std::uint32_t>(p[i]) << 16;
    if (n > 1) group |= static_cast<std::uint32_t>(p[i + 1]) << 8;
    if (n > 2) group |= p[i + 2];
    out += table[(group >> 18) & 63];
    out += table[(group >> 12) & 63];
    out += n > 1 ? table[(group >> 6) & 63] : table[64];
    out += n > 2 ? table[group & 63] : table[64];
  }
  return out;
}

std::string TStringFormat_MIME64::ToStr(const char* value, int len) const {
  const std::string_view table = CharTable();
  len = ResolveLen(value, len);
  std::string out;
  if (len <= 0) return out;
  // The text counts as extended with "=" to a multiple of four; so does a group that skipped
  // characters left incomplete at the end.
  out.reserve(static_cast<std::size_t>(len) / 4 * 3 + 3);
  std::uint32_t group = 0;
  int count = 0;
  int pads = 0;
  auto flush = [&]() {
    // A group of four "=" would ask for minus one byte: that is not Base64.
    if (pads > 3) throw EStringFormat(FormatMessage("Input is not an valid %s Format.", Name()));
    const int bytes = 3 - pads;
    for (int k = 0; k < bytes; ++k) out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
    group = 0;
    count = 0;
    pads = 0;
  };
  for (int i = 0; i < len; ++i) {
    const auto at = table.find(value[i]);
    if (at == std::string_view::npos) continue;
    group <<= 6;
    if (at == 64)
      ++pads;
    else
      group |= static_cast<std::uint32_t>(at);
    if (++count == 4) flush();
  }
  if (count > 0) {
    while (count < 4) {
      group <<= 6;
      ++pads;
      ++count;
    }
    flush();
  }
  return out;
}

const TStringFormat* TStringFormat_MIME64::Class() {
  static const TStringFormat_MIME64 instance;
  return &instance;
}

// ---- UU / XX (registered, no alphabet) ----

std::string_view TStringFormat_UU::CharTable() const { throw Exception("Not implemented 5"); }

std::string TStringFormat_UU::ToStr(const char*, int) const {
  (void)CharTable();
  return {};
}

std::string TStringFormat_UU::StrTo(const char*, int) const {
  (void)CharTable();
  return {};
}

std::string TStringFormat_UU::Name() const { return "UU Coding"; }
int TStringFormat_UU::Format() const { return 21845; }

bool TStringFormat_UU::IsValid(const char* value, int len, bool toStr) const {
  return !toStr || AllInTable(CharTable(), value, len);
}

const TStringFormat* TStringFormat_UU::Class() {
  static const TStringFormat_UU instance;
  return &instance;
}

std::string TStringFormat_XX::Name() const { return "XX Coding"; }
int TStringFormat_XX::Format() const { return 22616; }
std::string_view TStringFormat_XX::CharTable() const { throw Exception("Not implemented 6"); }

const TStringFormat* TStringFormat_XX::Class() {
  static const TStringFormat_XX instance;
  return &instance;
}

// ---- format list ----

namespace {

std::vector<TStringFormatClass>& MutableList() {
  static std::vector<TStringFormatClass> list = {
      TStringFormat::Class(),        TStringFormat_HEX::Class(), TStringFormat_HEXL::Class(),
      TStringFormat_MIME64::Class(), TStringFormat_UU::Class(),  TStringFormat_XX::Class(),
  };
  return list;
}

}  // namespace

const std::vector<TStringFormatClass>& StringFormatList() { return MutableList(); }

void AddStringFormatClasses(const std::vector<TStringFormatClass>& classes) {
  auto& list = MutableList();
  for (TStringFormatClass cls : classes) {
    if (cls == nullptr || cls->Format() == -1) continue;
    bool replaced = false;
    for (auto& entry : list) {
      if (entry->Format() == cls->Format()) {
        entry = cls;
        replaced = true;
        break;
      }
    }
    if (!replaced) list.push_back(cls);
  }
}

int DefaultStringFormatId() { return 4196; }

TStringFormatClass StringFormatById(int format) {
  if (format == -1) format = DefaultStringFormatId();
  for (TStringFormatClass cls : MutableList())
    if (cls->Format() == format) return cls;
  return nullptr;
}

namespace {

TStringFormatClass RequireFormat(int format) {
  TStringFormatClass cls = StringFormatById(format);
  if (cls == nullptr)
    throw EStringFormat(FormatMessage("String Format \"%d\" not exists.", std::to_string(format)));
  return cls;
}

}  // namespace

std::string BytesToStringFormat(const char* value, int len, int format) {
  if (value == nullptr || format == 0) return {};
  len = ResolveLen(value, len);
  if (len <= 0) return {};
  TStringFormatClass cls = RequireFormat(format);
  if (!cls->IsValid(value, len, false))
    throw EStringFormat(FormatMessage("Input can not be convert to %s Format.", cls->Name()));
  return cls->StrTo(value, len);
}

std::string BytesToStringFormat(std::string_view value, int format) {
  return BytesToStringFormat(value.data(), static_cast<int>(value.size()), format);
}

std::string StringFormatToBytes(const char* value, int len, int format) {
  if (value == nullptr || format == 0) return {};
  len = ResolveLen(value, len);
  if (len <= 0) return {};
  TStringFormatClass cls = RequireFormat(format);
  if (!cls->IsValid(value, len, true))
    throw EStringFormat(FormatMessage("Input is not an valid %s Format.", cls->Name()));
  return cls->ToStr(value, len);
}

std::string StringFormatToBytes(std::string_view value, int format) {
  return StringFormatToBytes(value.data(), static_cast<int>(value.size()), format);
}

}  // namespace nrd
