// The container walker's one rule, on atoms built byte by byte.
#include "movie/atom_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "movie/four_cc.h"
#include "movie_writer.h"

namespace {

using testmovie::Bytes;

struct Seen {
  std::string type;
  uint64_t start, payload, end;
  bool clamped;
};

// The top-level atoms of bytes, as the walker hands them over.
OSErr Walk(const Bytes& bytes, std::vector<Seen>* seen, const char** reason) {
  qtm::SpanSource source(bytes.data(), bytes.size());
  *reason = nullptr;
  return qtm::WalkAtoms(
      source, qtm::WholeSource(bytes.size()),
      [&](const qtm::Atom& a) {
        seen->push_back({qtm::FourCCText(a.type), a.start, a.payload, a.end, a.clamped});
        return OSErr(noErr);
      },
      reason);
}

TEST(AtomWalker, SizesAndTheirLimits) {
  // 32-bit, 64-bit and zero sizes; a child that claims more than is left is
  // held to what is left; fewer than 8 bytes at the end end the list.
  Bytes b = testmovie::Atom("free", Bytes(4, 0));
  testmovie::Append(b, testmovie::Atom64("wide", Bytes(2, 0)));
  Bytes last = testmovie::Atom("mdat", Bytes(8, 0));
  last[3] = 0;  // size 0: to the end
  testmovie::Append(b, last);
  std::vector<Seen> seen;
  const char* reason;
  ASSERT_EQ(Walk(b, &seen, &reason), noErr);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].type, "free");
  EXPECT_EQ(seen[0].end, 12u);
  EXPECT_EQ(seen[1].type, "wide");
  EXPECT_EQ(seen[1].payload, 12u + 16);
  EXPECT_EQ(seen[1].end, 12u + 18);
  EXPECT_EQ(seen[2].end, b.size());
  EXPECT_FALSE(seen[2].clamped);

  b = testmovie::Atom("free", Bytes(4, 0));
  b[3] = 200;
  b.insert(b.begin(), {0, 0, 0, 8, 's', 'k', 'i', 'p'});
  b.insert(b.end(), {0, 0, 0, 0});  // 'free' claims 200 bytes: it is held to the end
  seen.clear();
  ASSERT_EQ(Walk(b, &seen, &reason), noErr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].end, b.size());
  EXPECT_TRUE(seen[1].clamped);

  b = testmovie::Atom("skip", {});
  b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0});
  seen.clear();
  EXPECT_EQ(Walk(b, &seen, &reason), noErr);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(AtomWalker, BrokenHeadersAndDepth) {
  struct Case {
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {{0, 0, 0, 4, 'f', 'r', 'e', 'e'}, "atom size smaller than its header"},
      {{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0}, "64-bit atom size cut short"},
      {{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 12}, "atom size smaller than its header"},
  };
  for (const Case& c : cases) {
    Bytes b = testmovie::Atom("skip", {});
    testmovie::Append(b, c.bytes);
    std::vector<Seen> seen;
    const char* reason;
    EXPECT_EQ(Walk(b, &seen, &reason), invalidMovie);
    EXPECT_STREQ(reason, c.reason);
    EXPECT_EQ(seen.size(), 1u);  // what came before is handed over
  }

  // A visitor's failure stops the walk and is its own.
  Bytes two = testmovie::Atom("skip", {});
  testmovie::Append(two, testmovie::Atom("free", {}));
  qtm::SpanSource source(two.data(), two.size());
  const char* reason = nullptr;
  int visits = 0;
  EXPECT_EQ(qtm::WalkAtoms(
                source, qtm::WholeSource(two.size()),
                [&](const qtm::Atom&) { return ++visits == 1 ? OSErr(badFileFormat) : OSErr(noErr); }, &reason),
            badFileFormat);
  EXPECT_EQ(visits, 1);
  EXPECT_EQ(reason, nullptr);

  // Nesting: a walk below the deepest level allowed fails.
  Bytes nested = testmovie::Atom("free", {});
  for (int i = 0; i < 40; ++i) nested = testmovie::Atom("edts", nested);
  qtm::SpanSource deep(nested.data(), nested.size());
  int deepest = 0;
  std::function<OSErr(const qtm::Atom&)> descend = [&](const qtm::Atom& a) {
    deepest = std::max(deepest, a.depth);
    return qtm::WalkAtoms(deep, a, descend, &reason);
  };
  EXPECT_EQ(qtm::WalkAtoms(deep, qtm::WholeSource(nested.size()), descend, &reason), invalidMovie);
  EXPECT_STREQ(reason, "atoms nested too deep");
  EXPECT_EQ(deepest, qtm::kMaxAtomDepth);
}

TEST(AtomWalker, ChildAtomsInMemory) {
  Bytes b = testmovie::Atom("esds", Bytes(3, 7));
  testmovie::Append(b, testmovie::Atom("wave", testmovie::Atom("frma", Bytes(4, 1))));
  b.insert(b.end(), {0, 0, 0, 2, 'b', 'a', 'd', '!'});
  std::vector<qtm::AtomBytes> atoms = qtm::ChildAtoms(b.data(), b.size());
  ASSERT_EQ(atoms.size(), 2u);
  EXPECT_EQ(atoms[0].type, qtm::FourCC("esds"));
  EXPECT_EQ(atoms[0].body, b.data() + 8);
  EXPECT_EQ(atoms[0].size, 3u);
  EXPECT_EQ(atoms[1].type, qtm::FourCC("wave"));
  EXPECT_EQ(atoms[1].atom, b.data() + 11);
  EXPECT_EQ(atoms[1].AtomSize(), 20u);
  EXPECT_EQ(qtm::FourCCText(0xA96E616D), "(c)nam");
  EXPECT_EQ(qtm::FourCCText(0x00016162), "\\x00\\x01ab");
}

}  // namespace
