#include "scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace qtm::fuzz {
namespace {

std::mutex g_mutex;
std::map<std::string, std::string>* g_paths = nullptr;  // extension -> path

void RemoveAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_paths) return;
  for (const auto& [extension, path] : *g_paths) unlink(path.c_str());
}

}  // namespace

std::string WriteScratchFile(const char* extension, const uint8_t* data, size_t size) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_paths) {
      g_paths = new std::map<std::string, std::string>();
      atexit(RemoveAll);
    }
    std::string& known = (*g_paths)[extension];
    if (known.empty()) {
      const char* dir = getenv("TMPDIR");
      known = std::string(dir && *dir ? dir : "/tmp") + "/qtm-fuzz-" + std::to_string(getpid()) + extension;
    }
    path = known;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return {};
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size ? path : std::string();
}

}  // namespace qtm::fuzz
