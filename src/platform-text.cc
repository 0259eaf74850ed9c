#include <cstdlib>
#include <cstring>

#include "platform.h"

char* duplicate_text(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

void release_text(char* text) { std::free(text); }
