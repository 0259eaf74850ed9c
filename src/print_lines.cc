#include "print_lines.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Each read asks for 511 bytes, one less than the buffer holds.
constexpr std::uint32_t read_size = 511;

// Standard output is only ever used by this one thread, so the stream locking
// of the C runtime buys nothing; glibc has the same calls without it (declared
// where its stdio.h declares them).
void write_output(const char* bytes, std::size_t size) {
#if defined(__GLIBC__) && defined(__USE_MISC)
  fwrite_unlocked(bytes, 1, size, stdout);
#else
  std::fwrite(bytes, 1, size, stdout);
#endif
}

// Flushes what has just been written. False when standard output has failed;
// fflush alone does not say so on every C runtime, the error flag does.
bool flush_output() {
#if defined(__GLIBC__) && defined(__USE_MISC)
  fflush_unlocked(stdout);
  return !ferror_unlocked(stdout);
#else
  std::fflush(stdout);
  return !std::ferror(stdout);
#endif
}

char* find_line_feed(char* from, char* end) {
  return static_cast<char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
}

// The first zero byte in [from, end), or end when there is none.
char* find_zero(char* from, char* end) {
  void* zero = std::memchr(from, '\0', static_cast<std::size_t>(end - from));
  return zero == nullptr ? end : static_cast<char*>(zero);
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

    char* line_start = read_buffer;
    char* const chunk_end = read_buffer + bytes_read;
    while (skip_count != 0) {
      char* line_feed = find_line_feed(line_start, chunk_end);
      if (line_feed == nullptr) break;
      line_start = line_feed + 1;
      ++lines_skipped;
      if (lines_skipped >= skip_count) skip_count = 0;
    }
    // The rest of the chunk belongs to a line that is still being passed over.
    if (skip_count != 0) continue;

    // The text of a line or piece ends at its first zero byte. A line goes out
    // in one write of its text and a line feed: its own, or one put in place
    // of the zero byte that cuts it short. Either passes through the text-mode
    // stream, which turns it into the platform's line break.
    char* next_zero = find_zero(line_start, chunk_end);
    bool output_failed = false;
    while (lines_written < line_count) {
      char* line_feed = find_line_feed(line_start, chunk_end);
      if (line_feed == nullptr) break;
      char* text_end = line_feed;
      if (next_zero < line_feed) {
        text_end = next_zero;
        *text_end = '\n';
        next_zero = find_zero(line_feed + 1, chunk_end);
      }
      write_output(line_start, static_cast<std::size_t>(text_end - line_start) + 1);
      ++lines_written;
      if (!flush_output()) {
        output_failed = true;
        break;
      }
      line_start = line_feed + 1;
    }
    if (output_failed) {
      status = -1;
      break;
    }
    if (lines_written >= line_count) break;

    // The first part of a line that goes on in the next chunk, or the last line
    // of a file that does not end with a line feed. An empty piece (the chunk
    // ended with a line feed, or a zero byte opens the rest) writes nothing.
    if (next_zero == line_start) continue;
    write_output(line_start, static_cast<std::size_t>(next_zero - line_start));
    if (!flush_output()) {
      status = -1;
      break;
    }
  }

  close_input_file(file);
  return status;
}
