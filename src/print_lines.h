#ifndef VORN_PRINT_LINES_H
#define VORN_PRINT_LINES_H

#include <cstdint>

// Writes lines skip_count+1 .. skip_count+line_count of the named file to
// standard output, each line and each piece of a line flushed as soon as it is
// read. Counts are unsigned and the range is taken from the file's beginning.
// Returns 0 when the range has been written or the file has ended; -1 when the
// open or a read failed (after the system's message has been written) or when
// standard output refused a write (with no message: the output is what failed).
int print_lines(const char* input_path, std::uint32_t line_count, std::uint32_t skip_count);

#endif  // VORN_PRINT_LINES_H
