#include "print_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

using namespace std::string_literals;

struct run_result {
  int status;
  std::string output;
};

run_result run_printer(const fake_script& script, std::uint32_t line_count,
                       std::uint32_t skip_count) {
  fake_begin(script);
  capture_output_begin();
  const int status = print_lines("input.txt", line_count, skip_count);
  return {status, capture_output_end()};
}

std::string eight_lines() { return "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\n"; }

// Cases whose output cannot depend on how the reads split the file: they hold
// no zero byte, so every piece of a line comes out whole.
struct range_case {
  const char* name;
  std::string content;
  std::uint32_t line_count;
  std::uint32_t skip_count;
  std::string expected;
};

std::vector<range_case> range_cases() {
  const std::string long_line(1200, 'L');
  return {
      {"empty file", "", 10, 0, ""},
      {"stops after the count", "p\nq\nr\n", 2, 0, "p\nq\n"},
      {"last line without line feed", "p\nq\nr", 10, 0, "p\nq\nr"},
      {"skip then count", eight_lines(), 3, 2, "three\nfour\nfive\n"},
      {"skip all lines", "a\nb\n", 10, 2, ""},
      {"skip counts the unended last line", "a\nb\nc", 10, 3, ""},
      {"skip beyond the end", "a\nb\nc", 10, 7, ""},
      {"skip wrapped to the largest count", eight_lines(), 10, 4294967295u, ""},
      {"no line feed at all", "abc def", 10, 0, "abc def"},
      {"no line feed at all, skipped", "abc def", 10, 1, ""},
      {"largest count writes everything", "a\nb\nc", 4294967295u, 0, "a\nb\nc"},
      {"carriage returns are kept", "a\r\nb\r\n", 10, 0, "a\r\nb\r\n"},
      {"percent signs are text", "%s%d%n%%\n%\n", 10, 0, "%s%d%n%%\n%\n"},
      {"empty lines count", "\n\nx\n", 2, 0, "\n\n"},
      {"line longer than a read", long_line + "\nnext\n", 1, 0, long_line + "\n"},
      {"line longer than a read, skipped", long_line + "\nnext\n", 1, 1, "next\n"},
      {"skip hands over within a chunk", "x\npqr\ns\n", 1, 1, "pqr\n"},
      {"range ends at the last line", "a\nb\n", 2, 0, "a\nb\n"},
  };
}

class printer_read_sizes : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(printer_read_sizes, output_does_not_depend_on_read_sizes) {
  for (const range_case& test_case : range_cases()) {
    fake_script script;
    script.content = test_case.content;
    script.read_sizes = {GetParam()};
    const run_result result = run_printer(script, test_case.line_count, test_case.skip_count);
    EXPECT_EQ(result.status, 0) << test_case.name;
    EXPECT_EQ(result.output, test_case.expected) << test_case.name;
    EXPECT_EQ(fake_result().opens, 1u) << test_case.name;
    EXPECT_EQ(fake_result().closes, 1u) << test_case.name;
  }
}

INSTANTIATE_TEST_SUITE_P(reads_of, printer_read_sizes, ::testing::Values(1u, 2u, 3u, 510u, 511u));

TEST(printer, every_read_asks_for_511_bytes) {
  fake_script script;
  script.content = std::string(3000, 'a') + "\n";
  run_printer(script, 10, 0);
  ASSERT_EQ(fake_result().reads, 7u);  // six chunks and the end of the file
  for (std::uint32_t capacity : fake_result().capacities) EXPECT_EQ(capacity, 511u);
}

TEST(printer, long_line_comes_out_in_pieces_of_511) {
  fake_script script;
  script.content = std::string(1200, 'x') + "\n";
  const run_result result = run_printer(script, 10, 0);
  EXPECT_EQ(result.output, script.content);
  const std::vector<std::string>& seen = fake_result().output_at_read;
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[1].size(), 511u);
  EXPECT_EQ(seen[2].size(), 1022u);
  EXPECT_EQ(seen[3].size(), 1201u);
}

TEST(printer, each_piece_is_flushed_before_the_next_read) {
  fake_script script;
  script.content = "pqr\nst\n";
  script.read_sizes = {2, 3, 2};
  const run_result result = run_printer(script, 10, 0);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "pqr\nst\n");
  EXPECT_EQ(fake_result().output_at_read,
            (std::vector<std::string>{"", "pq", "pqr\ns", "pqr\nst\n"}));
}

TEST(printer, skipped_line_is_not_written_in_any_part) {
  fake_script script;
  script.content = "x\npqr\ns\n";
  script.read_sizes = {4, 4};
  const run_result result = run_printer(script, 1, 1);
  EXPECT_EQ(result.output, "pqr\n");
  EXPECT_EQ(fake_result().output_at_read, (std::vector<std::string>{"", "pq"}));
}

TEST(printer, nothing_is_read_after_the_range) {
  struct {
    std::vector<std::uint32_t> read_sizes;
    std::size_t reads;
  } const cases[] = {{{}, 1}, {{1}, 2}, {{2}, 1}};
  for (const auto& test_case : cases) {
    fake_script script;
    script.content = "a\n" + std::string(5000, 'z') + "\n";
    script.read_sizes = test_case.read_sizes;
    const run_result result = run_printer(script, 1, 0);
    EXPECT_EQ(result.output, "a\n");
    EXPECT_EQ(fake_result().reads, test_case.reads);
    EXPECT_EQ(fake_result().closes, 1u);
  }
}

TEST(printer, skipping_everything_reads_to_the_end) {
  fake_script script;
  script.content = std::string(1500, 'a') + "\nb\n";
  const run_result result = run_printer(script, 10, 4294967295u);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(fake_result().reads, 4u);  // three chunks and the end of the file
  EXPECT_EQ(fake_result().closes, 1u);
}

TEST(printer, zero_count_opens_and_closes_without_reading) {
  fake_script script;
  script.content = "a\nb\n";
  const run_result result = run_printer(script, 0, 0);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(fake_result().opens, 1u);
  EXPECT_EQ(fake_result().reads, 0u);
  EXPECT_EQ(fake_result().closes, 1u);
}

TEST(printer, zero_byte_cuts_the_piece_it_stands_in) {
  struct {
    const char* name;
    std::string content;
    std::vector<std::uint32_t> read_sizes;
    std::uint32_t skip_count;
    std::string expected;
  } const cases[] = {
      {"within one chunk", "ab\0cd\nx\n"s, {}, 0, "ab\nx\n"},
      {"piece cut, next piece kept", "ab\0cdef\n"s, {5, 3}, 0, "abef\n"},
      {"line feed right after", "ab\0\nx\n"s, {}, 0, "ab\nx\n"},
      {"zero byte alone", "\0\n"s, {}, 0, "\n"},
      {"unended last line", "a\nb\0c"s, {}, 0, "a\nb"},
      {"several in a chunk", "a\0b\0c\nd\ne\0f\ng\0h"s, {}, 0, "a\nd\ne\ng"},
      {"in a skipped line", "x\0y\nab\nc\0d\n"s, {}, 1, "ab\nc\n"},
      {"skip ends in a chunk", "x\ny\0\nz\0"s, {2}, 1, "y\nz"},
  };
  for (const auto& test_case : cases) {
    fake_script script;
    script.content = test_case.content;
    script.read_sizes = test_case.read_sizes;
    const run_result result = run_printer(script, 10, test_case.skip_count);
    EXPECT_EQ(result.status, 0) << test_case.name;
    EXPECT_EQ(result.output, test_case.expected) << test_case.name;
  }
}

TEST(printer, zero_byte_line_counts_once) {
  fake_script script;
  script.content = "a\0b\nc\0d\ne\n"s;
  const run_result result = run_printer(script, 2, 0);
  EXPECT_EQ(result.output, "a\nc\n");
}

TEST(printer, failed_open_writes_the_message_only) {
  for (std::uint32_t line_count : {10u, 0u}) {
    fake_script script;
    script.content = "a\n";
    script.open_fails = true;
    const run_result result = run_printer(script, line_count, 0);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.output, fake_error_text + "\n"s);
    EXPECT_EQ(fake_result().reads, 0u);
    EXPECT_EQ(fake_result().closes, 0u);
  }
}

TEST(printer, failed_read_keeps_what_was_written) {
  struct {
    const char* name;
    std::vector<std::uint32_t> read_sizes;
    std::size_t failing_read;
    std::uint32_t skip_count;
    std::string expected;
  } const cases[] = {
      {"at the first read", {}, 1, 0, ""},
      {"after whole lines", {4}, 2, 0, "a\nb\n"},
      {"after a piece: the message continues the line", {5}, 2, 0, "a\nb\nc"},
      {"while skipping", {2}, 2, 5, ""},
  };
  for (const auto& test_case : cases) {
    fake_script script;
    script.content = "a\nb\ncd\ne\n";
    script.read_sizes = test_case.read_sizes;
    script.failing_read = test_case.failing_read;
    const run_result result = run_printer(script, 10, test_case.skip_count);
    EXPECT_EQ(result.status, -1) << test_case.name;
    EXPECT_EQ(result.output, test_case.expected + fake_error_text + "\n") << test_case.name;
    EXPECT_EQ(fake_result().reads, test_case.failing_read) << test_case.name;
    EXPECT_EQ(fake_result().closes, 1u) << test_case.name;
  }
}

TEST(printer, failed_write_stops_reading) {
  fake_script script;
  script.content = std::string(2000, 'x') + "\n" + "a\nb\n";
  fake_begin(script);
  std::fflush(stdout);
  const int saved_output = dup(1);
  const int full_device = open("/dev/full", O_WRONLY);
  ASSERT_GE(full_device, 0);
  dup2(full_device, 1);
  const int status = print_lines("input.txt", 10, 0);
  const bool error_flagged = std::ferror(stdout) != 0;
  std::clearerr(stdout);
  dup2(saved_output, 1);
  close(saved_output);
  close(full_device);
  EXPECT_EQ(status, -1);
  EXPECT_TRUE(error_flagged);
  EXPECT_EQ(fake_result().reads, 1u);
  EXPECT_EQ(fake_result().closes, 1u);
  EXPECT_EQ(fake_result().errors_printed, 0u);
}

}  // namespace
