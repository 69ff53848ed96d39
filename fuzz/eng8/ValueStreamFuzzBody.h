// One fuzz input for the engine's value layer: the first byte picks what the rest feeds —
// a typed value or a bit array loaded from a stream, a conversion of raw bytes between two storage
// types, a LIKE match, or a text parsed as number or date. Every input must end in a value or an
// ENRDException/run-time error, never in a crash, an out-of-bounds read or a leaked engine block.
// Shared by the libFuzzer target and the test that replays the kept corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/foundation/NRDVariant.h"

// Returns false when engine memory was left allocated.
inline bool ValueStreamFuzzOne(const std::uint8_t* data, std::size_t size) {
  using namespace nrd;
  if (size == 0) return true;
  const std::size_t liveBefore = GlobalMemoryManager().LiveBlockCount();
  const std::uint8_t mode = data[0] % 5;
  const std::uint8_t* rest = data + 1;
  const auto n = static_cast<std::int32_t>(size - 1);
  try {
    switch (mode) {
      case 0: {
        TNRDMemoryStream s;
        if (n > 0) s.Write(rest, n);
        s.SetPosition(0);
        TNRDVariant v;
        v.LoadFromStream(s);
        TNRDVariant w;
        w.SetAsAnsiString("x");
        (void)v.Compare(w, false, true, true);
        (void)v.AsAnsiString();
        TNRDMemoryStream out;
        v.SaveToStream(out);
        break;
      }
      case 1: {
        TNRDMemoryStream s;
        if (n > 0) s.Write(rest, n);
        s.SetPosition(0);
        TNRDBitsArray b;
        b.LoadFromStream(s);
        if (b.NonZeroBitCount() > 0) (void)b.GetBitNoByBitPosition(b.NonZeroBitCount() - 1);
        if (b.Size() > 0) (void)b.GetBitPositionByBitNo(b.Size() - 1);
        break;
      }
      case 2: {
        if (n < 2) break;
        const auto from = static_cast<TNRDBaseFieldType>(rest[0] % kBaseFieldTypeCount);
        const auto to = static_cast<TNRDBaseFieldType>(rest[1] % kBaseFieldTypeCount);
        std::int32_t outSize = 0;
        void* p = ConvertValue(rest + 2, n - 2, from, outSize, to);
        GlobalMemoryManager().FreeMem(p);
        break;
      }
      case 3: {
        std::string text(reinterpret_cast<const char*>(rest), static_cast<std::size_t>(n));
        const std::size_t cut = text.find('\x01');
        const std::string value = text.substr(0, cut);
        const std::string pattern = cut == std::string::npos ? std::string() : text.substr(cut + 1);
        (void)MatchLikeAnsi(value, pattern, true, '\\', (n & 1) != 0);
        break;
      }
      default: {
        std::string text(reinterpret_cast<const char*>(rest), static_cast<std::size_t>(n));
        for (TNRDBaseFieldType t : {bftSignedInt64, bftDouble, bftDate, bftTime, bftDateTime, bftCurrency}) {
          try {
            TNRDVariant v(t);
            v.SetAsAnsiString(text);
          } catch (const std::exception&) {
          }
        }
        break;
      }
    }
  } catch (const std::exception&) {
    // Refusing the input is a valid outcome.
  }
  return GlobalMemoryManager().LiveBlockCount() == liveBefore;
}
