// The engine's one container walker (ISO/IEC 14496-12, 4.2; QuickTime File
// Format, "Atoms"): the movie reader's atom tree, user data items and the
// extension atoms of sample descriptions all go through it, with one rule.
//   - A child's header must fit what is left of its parent: fewer than 8
//     bytes left end the list (QuickTime ends user data with a 32-bit zero);
//     a cut 64-bit size or a size smaller than its header is a failure.
//   - A child is held inside what is left of its parent: a size past the
//     parent's end is cut to it (the atom is marked clamped); size 0 runs to
//     the parent's end.
//   - Nesting is bounded by kMaxAtomDepth.
//   - Whatever the visitor did not read of a child is skipped.
#ifndef QTMEDIA_MOVIE_ATOM_WALKER_H
#define QTMEDIA_MOVIE_ATOM_WALKER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "movie/data_source.h"
#include "qtmedia.h"

namespace qtm {

constexpr int kMaxAtomDepth = 16;

struct Atom {
  uint32_t type = 0;
  uint32_t parent = 0;  // type of the enclosing atom, 0 at the top level
  int depth = 0;        // 0 at the top level
  uint64_t start = 0;   // offset of the header
  uint64_t payload = 0;
  uint64_t end = 0;      // one past the last byte
  bool clamped = false;  // its size said more than its parent holds
  uint64_t PayloadSize() const { return end - payload; }
};

// The atom that holds a whole source: its children are the top level.
Atom WholeSource(uint64_t size);

// Reads the header of the child of parent at offset. noErr, or invalidMovie
// with *reason set.
OSErr ReadAtomHeader(const DataSource& source, const Atom& parent, uint64_t offset, Atom* child, const char** reason);

// Calls visit(child) -> OSErr for each child of parent in order and stops at
// the first failure. *reason is set when the walker itself fails (a broken
// header, nesting too deep), left alone when the visitor does.
template <typename Visit>
OSErr WalkAtoms(const DataSource& source, const Atom& parent, Visit&& visit, const char** reason) {
  if (parent.depth + 1 > kMaxAtomDepth) {
    *reason = "atoms nested too deep";
    return invalidMovie;
  }
  uint64_t pos = parent.payload;
  while (parent.end - pos >= 8) {
    Atom child;
    if (OSErr err = ReadAtomHeader(source, parent, pos, &child, reason)) return err;
    if (OSErr err = visit(child)) return err;
    pos = child.end;
  }
  return noErr;
}

// The children of an atom's body held in memory, for the small trees inside
// user data and sample descriptions: the list up to a broken header.
struct AtomBytes {
  uint32_t type = 0;
  const uint8_t* atom = nullptr;  // from its size field on
  const uint8_t* body = nullptr;
  size_t size = 0;  // of the body
  size_t AtomSize() const { return static_cast<size_t>(body + size - atom); }
};
std::vector<AtomBytes> ChildAtoms(const uint8_t* data, size_t size);

}  // namespace qtm

#endif
