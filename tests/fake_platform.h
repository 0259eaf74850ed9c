// A scripted stand-in for the platform layer, linked into the unit tests in
// place of the real one: it serves a file from memory in reads of chosen
// sizes, fails the open, a chosen read or a chosen copy, and records what the
// code under test asked of it. Standard output is captured in a file so that
// what has been flushed can be read back at every read.
#ifndef VORN_TESTS_FAKE_PLATFORM_H
#define VORN_TESTS_FAKE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct fake_script {
  std::string content;
  // Most bytes each read delivers, taken in turn and repeated from the start;
  // empty means as many as asked for.
  std::vector<std::uint32_t> read_sizes;
  bool open_fails = false;
  std::size_t failing_read = 0;  // 1-based; 0 for none
  std::size_t failing_copy = 0;  // 1-based; 0 for none
};

struct fake_record {
  std::size_t opens = 0;
  std::size_t closes = 0;
  std::size_t reads = 0;
  std::size_t errors_printed = 0;
  std::size_t copies_live = 0;
  std::string opened_path;
  std::vector<std::uint32_t> capacities;
  // What standard output had received, as flushed, when each read was made.
  std::vector<std::string> output_at_read;
};

// The text print_last_error writes for any scripted failure.
extern const char fake_error_text[];

void fake_begin(const fake_script& script);
const fake_record& fake_result();

// Standard output (descriptor 1) goes to a temporary file between these calls.
void capture_output_begin();
std::string captured_output();  // flushed bytes only
std::string capture_output_end();

#endif  // VORN_TESTS_FAKE_PLATFORM_H
