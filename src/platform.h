// The few operating-system services vorn needs. One implementation per
// platform (platform-posix.cc, platform-win32.cc) is chosen by the build;
// the tests link a scripted fake in their place. No other file includes an
// operating-system header.
#ifndef VORN_PLATFORM_H
#define VORN_PLATFORM_H

#include <cstdint>

// A file opened for reading: a descriptor on POSIX, a HANDLE on Win32.
struct input_file {
  std::intptr_t handle;
};

// Opens an existing file for reading, never creating one; other processes may
// go on reading, writing, renaming or deleting it. The name is handed to the
// system unchanged. On failure returns false and leaves the reason as the last
// error for print_last_error.
bool open_input_file(const char* input_path, input_file* opened_file);

// Reads at most `capacity` bytes from the current position. Returns false on
// failure, with the reason left as the last error; `*bytes_read` is 0 at the
// end of the file and may be anything from 0 to `capacity` otherwise.
bool read_input_file(input_file file, char* buffer, std::uint32_t capacity,
                     std::uint32_t* bytes_read);

// Releases a file that open_input_file opened. Its result is of no use to the
// caller: nothing more is read either way.
void close_input_file(input_file file);

// Writes the system's own message text for the last failed call of this
// thread to standard output, followed by a newline, unflushed: it reaches the
// output no later than the end of the process.
void print_last_error();

// A heap copy of a zero-terminated text, or null when memory runs out.
// Released with release_text.
char* duplicate_text(const char* text);
void release_text(char* text);

#endif  // VORN_PLATFORM_H
