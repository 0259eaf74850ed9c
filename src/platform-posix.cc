#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform.h"

bool open_input_file(const char* input_path, input_file* opened_file) {
  int descriptor;
  do {
    descriptor = open(input_path, O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return false;
  opened_file->handle = descriptor;
  return true;
}

bool read_input_file(input_file file, char* buffer, std::uint32_t capacity,
                     std::uint32_t* bytes_read) {
  ssize_t result;
  do {
    result = read(static_cast<int>(file.handle), buffer, capacity);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return false;
  *bytes_read = static_cast<std::uint32_t>(result);
  return true;
}

void close_input_file(input_file file) { close(static_cast<int>(file.handle)); }

void print_last_error() { std::printf("%s\n", std::strerror(errno)); }
