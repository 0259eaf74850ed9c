#ifndef VORN_COMMAND_LINE_H
#define VORN_COMMAND_LINE_H

#include <cstdint>

// What the arguments ask for. input_path is a heap copy owned by the caller
// once the scan has succeeded, and released with release_text.
struct command_line {
  std::uint32_t line_count;
  std::uint32_t skip_count;
  char* input_path;
};

enum class scan_result {
  ok,
  misuse,         // the usage text is due
  out_of_memory,  // the file name could not be copied
};

// Scans the argument vector once, left to right (element 0, the program's
// name, is never looked at). Exactly "-n" and "-s" take the next argument as
// their value whatever it looks like; any other argument that begins with '-'
// is passed over; the one other argument is the file name. On any result but
// ok nothing is left allocated.
scan_result scan_arguments(int argument_count, const char* const* arguments, command_line* parsed);

// An option value as a 32-bit pattern: leading white space, one optional sign,
// then decimal digits up to the first other character, wrapping modulo 2^32.
// Text without digits is 0. A negative value reads as its unsigned equal.
std::uint32_t convert_count(const char* text);

// Writes the banner and usage text and ends the process with status -1.
[[noreturn]] void show_usage();

// The whole run for an argument vector: the scan, the usage text on misuse,
// then the range. Returns the process's exit status, 0 or -1.
int run_vorn(int argument_count, const char* const* arguments);

#endif  // VORN_COMMAND_LINE_H
