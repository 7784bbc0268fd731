// MD5 (RFC 1321) of a byte range, as lowercase hex: the oracle lists hold
// ffmpeg's framemd5 sums.
#ifndef KESTREL_TESTS_VIDEO_MD5_H
#define KESTREL_TESTS_VIDEO_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::test {

std::string Md5Hex(const uint8_t* data, size_t size);

}  // namespace kestrel::test

#endif
