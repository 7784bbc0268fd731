// The engine's fuzz targets: each takes any bytes, as a file or a part of
// one would hold them, and runs the engine code that reads them. A libFuzzer
// program wraps each one (fuzzer_main.cpp); the engine's tests run the
// starting corpus and every regression input through them (corpus/TARGET,
// regressions/TARGET). A target returns 0 and must not crash, hang, leak or
// touch memory it does not own, whatever the bytes.
#ifndef QTMEDIA_FUZZ_FUZZ_TARGETS_H
#define QTMEDIA_FUZZ_FUZZ_TARGETS_H

#include <cstddef>
#include <cstdint>

namespace qtm::fuzz {

using TargetFunction = int (*)(const uint8_t* data, size_t size);

// A QuickTime or ISO movie file, opened and played through the movie calls
// (atoms, sample tables, sample descriptions, fragments, user data, time code).
int FuzzMovie(const uint8_t* data, size_t size);
// A file of another kind, imported through libavformat; the first byte
// chooses the file name's extension.
int FuzzImport(const uint8_t* data, size_t size);
// One sample description entry: its record, its extension atoms and a
// decompression session made from it.
int FuzzDescription(const uint8_t* data, size_t size);
// A movie's user data list ('udta' children) and its texts in every encoding.
int FuzzUserData(const uint8_t* data, size_t size);
// A time-code track: its description, samples and the handler's answers.
int FuzzTimeCode(const uint8_t* data, size_t size);

struct Target {
  const char* name;  // the corpus and regression folders' name
  TargetFunction run;
};
extern const Target kTargets[];
extern const size_t kTargetCount;

// Sets the engine up once for the targets (quiet libav* logs).
void StartEngineOnce();

}  // namespace qtm::fuzz

#endif
