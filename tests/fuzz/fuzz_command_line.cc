// libFuzzer target for the argument scan and the conversion of option values.
//
// Input: the first byte picks which copy of a file name fails (0: none, as
// the scan makes at most one copy before it ends); the rest is split at every
// zero byte into the arguments that follow the program's name. An empty input
// is a vector that holds the program's name alone.
//
// Every result is compared with a plain model of the same rules, counts taken
// in 64 bits and then modulo 2^32, and every copy the scan makes must be
// released by the scan itself unless it hands it over with scan_result::ok.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "platform.h"

namespace {

std::size_t copies_made = 0;
std::size_t copies_live = 0;
std::size_t failing_copy = 0;  // 1-based; 0 for none

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "model mismatch: %s\n", what);
  std::abort();
}

bool is_model_space(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }

std::uint32_t model_count(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && is_model_space(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  std::uint64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  if (negative) value = 0 - value;
  return static_cast<std::uint32_t>(value % (std::uint64_t{1} << 32));
}

struct model_scan {
  scan_result result = scan_result::misuse;
  std::uint32_t line_count = 10;
  std::uint32_t skip_count = 0;
  std::string input_path;
};

model_scan scan_model(const std::vector<std::string>& arguments, bool copy_fails) {
  model_scan model;
  bool has_path = false;
  if (arguments.empty()) return model;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (!argument.empty() && argument[0] == '-') {
      if (argument != "-n" && argument != "-s") continue;
      if (index + 1 == arguments.size()) return model_scan{};
      ++index;
      (argument == "-n" ? model.line_count : model.skip_count) = model_count(arguments[index]);
      continue;
    }
    if (has_path) return model_scan{};
    if (copy_fails) {
      model_scan out_of_memory;
      out_of_memory.result = scan_result::out_of_memory;
      return out_of_memory;
    }
    has_path = true;
    model.input_path = argument;
  }
  if (!has_path) return model_scan{};
  model.result = scan_result::ok;
  return model;
}

}  // namespace

char* duplicate_text(const char* text) {
  ++copies_made;
  if (copies_made == failing_copy) return nullptr;
  const std::size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, size);
  ++copies_live;
  return copy;
}

void release_text(char* text) {
  if (text == nullptr) return;
  require(copies_live > 0, "a text released that was never copied");
  --copies_live;
  std::free(text);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  failing_copy = 0;
  if (size > 0) {
    failing_copy = data[0] % 2;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const char* const end = reinterpret_cast<const char*>(data + size);
    for (const char* start = text;; ++text) {
      if (text == end || *text == '\0') {
        arguments.emplace_back(start, text);
        if (text == end) break;
        start = text + 1;
      }
    }
  }

  std::vector<const char*> vector{"vorn"};
  for (const std::string& argument : arguments) {
    vector.push_back(argument.c_str());
    require(convert_count(argument.c_str()) == model_count(argument), "convert_count");
  }

  copies_made = 0;
  copies_live = 0;
  command_line parsed;
  const scan_result result =
      scan_arguments(static_cast<int>(vector.size()), vector.data(), &parsed);
  const model_scan model = scan_model(arguments, failing_copy == 1);
  require(result == model.result, "scan result");
  if (result == scan_result::ok) {
    require(parsed.line_count == model.line_count, "line count");
    require(parsed.skip_count == model.skip_count, "skip count");
    require(parsed.input_path != nullptr && model.input_path == parsed.input_path, "file name");
    require(copies_live == 1, "one copy handed over");
    release_text(parsed.input_path);
  } else {
    require(parsed.input_path == nullptr, "no name handed over after a failed scan");
  }
  require(copies_live == 0, "every copy released");
  return 0;
}
