#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

#include "platform.h"

// Arguments reach main as the command line splits them: a '*' or '?' is the
// user's text, never a pattern for the C runtime's start-up to expand.
extern "C" {
int _dowildcard = 0;
}

namespace {

HANDLE handle_of(input_file file) { return reinterpret_cast<HANDLE>(file.handle); }

}  // namespace

bool open_input_file(const char* input_path, input_file* opened_file) {
  const HANDLE handle =
      CreateFileA(input_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  opened_file->handle = reinterpret_cast<std::intptr_t>(handle);
  return true;
}

bool read_input_file(input_file file, char* buffer, std::uint32_t capacity,
                     std::uint32_t* bytes_read) {
  DWORD bytes_delivered = 0;
  if (!ReadFile(handle_of(file), buffer, capacity, &bytes_delivered, nullptr)) {
    // A pipe whose writer has gone has ended, as a file ends: that is no
    // failure, whatever the call's result says.
    if (GetLastError() != ERROR_BROKEN_PIPE) return false;
    bytes_delivered = 0;
  }
  *bytes_read = bytes_delivered;
  return true;
}

void close_input_file(input_file file) { CloseHandle(handle_of(file)); }

void print_last_error() {
  const DWORD error_code = GetLastError();
  // The system allocates the text. Inserts are left as they stand: there is
  // no argument list to fill them from.
  char* message_text = nullptr;
  const DWORD message_length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error_code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&message_text), 0, nullptr);
  if (message_length == 0 || message_text == nullptr) {
    // No text for this code: its number is the most the system can say.
    std::printf("%lu\n", static_cast<unsigned long>(error_code));
  } else {
    std::printf("%s\n", message_text);
  }
  if (message_text != nullptr) LocalFree(message_text);
}
