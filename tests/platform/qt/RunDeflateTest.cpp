// The run encoder's output read back by zlib's inflater: single parts and parts written one after
// another, runs at the length code borders, literal-only data over many blocks, empty parts.
#include "platform/qt/RunDeflate.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using platform::TRunDeflater;

namespace {

using Bytes = std::vector<unsigned char>;

// Inflates raw deflate; empty and `ok` false when the stream is bad or does not end where the bytes end.
Bytes Inflate(const Bytes& in, bool& ok) {
  z_stream z{};
  ok = inflateInit2(&z, -15) == Z_OK;
  Bytes out(1 << 16);
  std::size_t have = 0;
  z.next_in = const_cast<unsigned char*>(in.data());
  z.avail_in = uInt(in.size());
  int rc = Z_OK;
  while (ok && rc != Z_STREAM_END) {
    if (have == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + have;
    z.avail_out = uInt(out.size() - have);
    rc = inflate(&z, Z_NO_FLUSH);
    have = out.size() - z.avail_out;
    if (rc != Z_OK && rc != Z_STREAM_END) ok = false;
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out > 0) ok = false;  // the stream did not end
  }
  ok = ok && z.avail_in == 0;
  inflateEnd(&z);
  out.resize(have);
  return out;
}

Bytes Same(unsigned char value, std::size_t n) { return Bytes(n, value); }

Bytes Random(std::size_t n, unsigned seed, int runEvery) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    if (runEvery > 0 && rng() % runEvery == 0) {
      const Bytes r = Same(static_cast<unsigned char>(rng() % 3), rng() % 700);
      b.insert(b.end(), r.begin(), r.end());
    } else {
      b.push_back(static_cast<unsigned char>(rng()));
    }
  }
  b.resize(n);
  return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(RunDeflate, InflatesToTheBytesGiven) {
  // Each case: the stream's parts, each part its Add calls.
  struct Case {
    std::string name;
    std::vector<std::vector<Bytes>> parts;
  };
  std::vector<Case> cases = {
      {"empty", {{}}},
      {"one byte", {{{7}}}},
      {"zeros of a picture", {{Same(0, 1 << 20)}}},
      {"a white first row", {{Join({{0}, Same(0xFF, 4563)})}}},
      {"literal-only data over several blocks", {{Random(300000, 1, 0)}}},
      {"runs mixed with literals", {{Random(400000, 2, 5)}}},
      {"rows as separate calls", {{Join({{2}, Same(0, 4000)}), Join({{2}, Same(0, 10), {9, 9}, Same(0, 300)}), {2, 0, 0}}}},
      {"parts one after another", {{Random(5000, 3, 4)}, {}, {Same(0, 70000), {1}}, {Random(100, 4, 2)}}},
  };
  // Runs of every length around the borders of the length codes and of the longest match.
  for (std::size_t len : {1, 2, 3, 4, 10, 11, 257, 258, 259, 260, 261, 515, 516, 517, 518, 519})
    cases.push_back(Case{"run of " + std::to_string(len), {{Join({Bytes{5}, Same(5, len), Bytes{6}})}}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes stream;
    Bytes expected;
    for (std::size_t p = 0; p < c.parts.size(); ++p) {
      Bytes out;
      TRunDeflater d(out);
      for (const Bytes& add : c.parts[p]) {
        d.Add(add.data(), add.size());
        expected.insert(expected.end(), add.begin(), add.end());
      }
      d.Finish(p + 1 == c.parts.size());
      stream.insert(stream.end(), out.begin(), out.end());
    }
    bool ok = false;
    const Bytes back = Inflate(stream, ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(back == expected) << back.size() << " bytes back of " << expected.size();
  }
}

TEST(RunDeflate, PacksRunsTightly) {
  Bytes out;
  TRunDeflater d(out);
  const Bytes zeros = Same(0, 1 << 20);
  d.Add(zeros.data(), zeros.size());
  d.Finish(true);
  EXPECT_LT(out.size(), zeros.size() / 500);
}

}  // namespace
