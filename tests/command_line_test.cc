#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "platform.h"

namespace {

TEST(convert_count, follows_the_decimal_conversion_rules) {
  struct {
    const char* text;
    std::uint32_t expected;
  } const cases[] = {
      {"0", 0},
      {"10", 10},
      {"+7", 7},
      {"-3", 4294967293u},
      {"-1", 4294967295u},
      {"4294967295", 4294967295u},
      {"4294967296", 0},
      {"4294967297", 1},
      {"99999999999", 1215752191u},  // 99999999999 mod 2^32
      // Past 64 bits too: a conversion through a wider type would saturate.
      {"18446744073709551617", 1},
      {"-18446744073709551617", 4294967295u},
      {"99999999999999999999", 1661992959u},
      {"-4294967297", 4294967295u},
      {" \t\n\v\f\r42", 42},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+", 0},
      {"--5", 0},
      {"+-5", 0},
      {" - 5", 0},
      {"0x10", 0},
      {"007", 7},
      {"5 6", 5},
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(convert_count(test_case.text), test_case.expected) << '"' << test_case.text << '"';
  }
}

struct scan_case {
  std::vector<const char*> arguments;  // after the program name
  scan_result result;
  std::uint32_t line_count;
  std::uint32_t skip_count;
  const char* input_path;  // when the result is ok
};

TEST(scan_arguments, reads_options_and_the_file_name) {
  const scan_case cases[] = {
      {{}, scan_result::misuse, 10, 0, nullptr},
      {{"f"}, scan_result::ok, 10, 0, "f"},
      {{"-n", "5"}, scan_result::misuse, 0, 0, nullptr},
      {{"f", "g"}, scan_result::misuse, 0, 0, nullptr},
      {{"-x", "5", "f"}, scan_result::misuse, 0, 0, nullptr},
      {{"-x", "5"}, scan_result::ok, 10, 0, "5"},
      {{"-n5", "f"}, scan_result::ok, 10, 0, "f"},
      {{"-n", "abc", "f"}, scan_result::ok, 0, 0, "f"},
      {{"-n", "-1", "f"}, scan_result::ok, 4294967295u, 0, "f"},
      {{"-s", "-1", "f"}, scan_result::ok, 10, 4294967295u, "f"},
      {{"f", "-n", "1", "-n", "2"}, scan_result::ok, 2, 0, "f"},
      {{"-s", "2", "-n", "3", "f"}, scan_result::ok, 3, 2, "f"},
      {{"f", "-s", "4"}, scan_result::ok, 10, 4, "f"},
      {{""}, scan_result::ok, 10, 0, ""},
      {{"f", "-n"}, scan_result::misuse, 0, 0, nullptr},
      {{"f", "-s"}, scan_result::misuse, 0, 0, nullptr},
      {{"-n", "f"}, scan_result::misuse, 0, 0, nullptr},
      {{"-n", "-s", "3", "f"}, scan_result::misuse, 0, 0, nullptr},
      {{"-n", "-s", "f"}, scan_result::ok, 0, 0, "f"},
      {{"/n", "2", "f"}, scan_result::misuse, 0, 0, nullptr},
      {{"-", "--", "-N", "-x", "f"}, scan_result::ok, 10, 0, "f"},
      {{"-N", "3", "f"}, scan_result::misuse, 0, 0, nullptr},
      {{"-n", "4294967297", "f"}, scan_result::ok, 1, 0, "f"},
      {{"-n", " +8x", "f"}, scan_result::ok, 8, 0, "f"},
  };
  for (const scan_case& test_case : cases) {
    std::vector<const char*> arguments{"vorn"};
    arguments.insert(arguments.end(), test_case.arguments.begin(), test_case.arguments.end());
    std::string shown;
    for (const char* argument : test_case.arguments) shown += std::string(" [") + argument + "]";

    fake_begin(fake_script{});
    command_line parsed;
    const scan_result result =
        scan_arguments(static_cast<int>(arguments.size()), arguments.data(), &parsed);
    ASSERT_EQ(result, test_case.result) << shown;
    if (result == scan_result::ok) {
      EXPECT_EQ(parsed.line_count, test_case.line_count) << shown;
      EXPECT_EQ(parsed.skip_count, test_case.skip_count) << shown;
      EXPECT_STREQ(parsed.input_path, test_case.input_path) << shown;
      release_text(parsed.input_path);
    }
    EXPECT_EQ(fake_result().copies_live, 0u) << shown;
  }
}

TEST(scan_arguments, second_name_is_refused_before_the_rest_is_read) {
  // Nothing after the second name is looked at: a null element would crash.
  const char* arguments[] = {"vorn", "f", "g", nullptr};
  fake_begin(fake_script{});
  command_line parsed;
  EXPECT_EQ(scan_arguments(4, arguments, &parsed), scan_result::misuse);
  EXPECT_EQ(fake_result().copies_live, 0u);
}

TEST(scan_arguments, uncopyable_name_ends_the_scan) {
  // A later argument must not stand in for the name that could not be kept.
  const char* arguments[] = {"vorn", "asked-for", "-n", "2", "other"};
  fake_script script;
  script.failing_copy = 1;
  fake_begin(script);
  command_line parsed;
  EXPECT_EQ(scan_arguments(5, arguments, &parsed), scan_result::out_of_memory);
  EXPECT_EQ(fake_result().copies_live, 0u);
}

struct vorn_run {
  int status;
  std::string output;
};

vorn_run run_with(const fake_script& script, std::vector<const char*> arguments) {
  fake_begin(script);
  capture_output_begin();
  const int status = run_vorn(static_cast<int>(arguments.size()), arguments.data());
  return {status, capture_output_end()};
}

TEST(run_vorn, hands_the_scan_to_the_printer_and_releases_the_name) {
  fake_script script;
  script.content = "a\nb\nc\n";
  const vorn_run result = run_with(script, {"vorn", "-s", "1", "input.txt", "-n", "1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "b\n");
  EXPECT_EQ(fake_result().opened_path, "input.txt");
  EXPECT_EQ(fake_result().copies_live, 0u);
}

TEST(run_vorn, passes_on_the_printer_failure) {
  fake_script script;
  script.open_fails = true;
  const vorn_run result = run_with(script, {"vorn", "input.txt"});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.output, fake_error_text + std::string("\n"));
  EXPECT_EQ(fake_result().copies_live, 0u);
}

TEST(run_vorn, uncopyable_name_fails_and_opens_nothing) {
  fake_script script;
  script.failing_copy = 1;
  const vorn_run result = run_with(script, {"vorn", "asked-for", "other"});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(fake_result().opens, 0u);
  EXPECT_EQ(fake_result().copies_live, 0u);
}

}  // namespace
