#include "print_lines.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Writes the text of a line or piece, which ends at its first zero byte.
void write_text(const char* text, std::size_t size) {
  const void* zero = std::memchr(text, '\0', size);
  if (zero != nullptr) size = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
  std::fwrite(text, 1, size, stdout);
}

// One byte of the buffer stays free for the zero byte that ends the last piece.
constexpr std::uint32_t read_size = 511;

// Flushes what has just been written. False when standard output has failed;
// fflush alone does not say so on every C runtime, the error flag does.
bool flush_output() {
  std::fflush(stdout);
  return !std::ferror(stdout);
}

}  // namespace

int print_lines(const char* input_path, std::uint32_t line_count, std::uint32_t skip_count) {
  input_file file;
  if (!open_input_file(input_path, &file)) {
    print_last_error();
    return -1;
  }

  std::uint32_t lines_written = 0;
  std::uint32_t lines_skipped = 0;
  int status = 0;
  char read_buffer[read_size + 1];

  while (lines_written < line_count) {
    std::uint32_t bytes_read = 0;
    if (!read_input_file(file, read_buffer, read_size, &bytes_read)) {
      print_last_error();
      status = -1;
      break;
    }
    if (bytes_read == 0) break;
    read_buffer[bytes_read] = '\0';

    char* line_start = read_buffer;
    char* const chunk_end = read_buffer + bytes_read;
    bool output_failed = false;
    while (lines_written < line_count) {
      char* line_feed = static_cast<char*>(
          std::memchr(line_start, '\n', static_cast<std::size_t>(chunk_end - line_start)));
      if (line_feed == nullptr) break;
      // The text of a line ends at its first zero byte; the line feed becomes one.
      *line_feed = '\0';
      if (skip_count != 0) {
        ++lines_skipped;
        if (lines_skipped >= skip_count) skip_count = 0;
      } else {
        std::printf("%s\n", line_start);
        ++lines_written;
        if (!flush_output()) {
          output_failed = true;
          break;
        }
      }
      line_start = line_feed + 1;
    }
    if (output_failed) {
      status = -1;
      break;
    }
    // The rest of the chunk is a line still being passed over, or the first
    // part of one to write; after the last wanted line nothing more is looked at.
    if (skip_count != 0 || lines_written >= line_count) continue;
    write_text(line_start, static_cast<std::size_t>(chunk_end - line_start));
    if (!flush_output()) {
      status = -1;
      break;
    }
  }

  close_input_file(file);
  return status;
}
