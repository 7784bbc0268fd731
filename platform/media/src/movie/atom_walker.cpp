#include "movie/atom_walker.h"

#include "movie/byte_reader.h"

namespace qtm {

Atom WholeSource(uint64_t size) {
  Atom all;
  all.depth = -1;
  all.end = size;
  return all;
}

OSErr ReadAtomHeader(const DataSource& source, const Atom& parent, uint64_t offset, Atom* child, const char** reason) {
  uint64_t left = parent.end - offset;
  uint8_t h[16];
  if (left < 8 || !source.ReadAt(offset, h, 8)) {
    *reason = "atom header cut short";
    return invalidMovie;
  }
  uint64_t size = ReadBE32(h);
  uint64_t header = 8;
  if (size == 1) {
    if (left < 16 || !source.ReadAt(offset + 8, h + 8, 8)) {
      *reason = "64-bit atom size cut short";
      return invalidMovie;
    }
    size = ReadBE64(h + 8);
    header = 16;
  } else if (size == 0) {
    size = left;  // runs to the end of its parent
  }
  if (size < header) {
    *reason = "atom size smaller than its header";
    return invalidMovie;
  }
  child->type = ReadBE32(h + 4);
  child->parent = parent.type;
  child->depth = parent.depth + 1;
  child->start = offset;
  child->payload = offset + header;
  child->clamped = size > left;
  child->end = offset + (child->clamped ? left : size);
  return noErr;
}

std::vector<AtomBytes> ChildAtoms(const uint8_t* data, size_t size) {
  std::vector<AtomBytes> atoms;
  SpanSource source(data, size);
  const char* reason = nullptr;
  // A broken header ends the list; what came before it stands.
  WalkAtoms(
      source, WholeSource(size),
      [&](const Atom& a) {
        atoms.push_back({a.type, data + a.start, data + a.payload, static_cast<size_t>(a.PayloadSize())});
        return OSErr(noErr);
      },
      &reason);
  return atoms;
}

}  // namespace qtm
