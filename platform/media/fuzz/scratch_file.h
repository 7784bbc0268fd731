// A file that holds a fuzz input for the code that reads by path: one per
// process and name ending, rewritten for every input, removed at exit.
#ifndef QTMEDIA_FUZZ_SCRATCH_FILE_H
#define QTMEDIA_FUZZ_SCRATCH_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qtm::fuzz {

// The path of the scratch file ending in extension (".mov"), holding the
// bytes; empty when it cannot be written.
std::string WriteScratchFile(const char* extension, const uint8_t* data, size_t size);

}  // namespace qtm::fuzz

#endif
