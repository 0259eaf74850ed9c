#include "command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "version.h"

namespace {

const char version_text[] = VORN_VERSION;

bool is_conversion_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::uint32_t convert_count(const char* text) {
  while (is_conversion_space(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  // Unsigned arithmetic wraps by definition, which is the behaviour wanted.
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  }
  return negative ? 0u - value : value;
}

scan_result scan_arguments(int argument_count, const char* const* arguments, command_line* parsed) {
  parsed->line_count = 10;
  parsed->skip_count = 0;
  parsed->input_path = nullptr;
  if (argument_count < 2) return scan_result::misuse;

  for (int index = 1; index < argument_count; ++index) {
    const char* argument = arguments[index];
    if (argument[0] == '-') {
      std::uint32_t* option_value = nullptr;
      if (std::strcmp(argument, "-n") == 0) {
        option_value = &parsed->line_count;
      } else if (std::strcmp(argument, "-s") == 0) {
        option_value = &parsed->skip_count;
      }
      if (option_value == nullptr) continue;
      if (index + 1 >= argument_count) {
        release_text(parsed->input_path);
        parsed->input_path = nullptr;
        return scan_result::misuse;
      }
      ++index;
      *option_value = convert_count(arguments[index]);
      continue;
    }
    if (parsed->input_path != nullptr) {
      release_text(parsed->input_path);
      parsed->input_path = nullptr;
      return scan_result::misuse;
    }
    // A name that cannot be copied ends the run: taking a later argument as
    // the name instead would open a file nobody asked for.
    parsed->input_path = duplicate_text(argument);
    if (parsed->input_path == nullptr) return scan_result::out_of_memory;
  }
  if (parsed->input_path == nullptr) return scan_result::misuse;
  return scan_result::ok;
}

void show_usage() {
  std::printf("vorn %s created by Tarvelin\n", version_text);
  std::printf("Usage: vorn [options] file\n");
  std::printf("Options:\n");
  std::printf("  -n x  : Displays the last x lines of the file\n");
  std::exit(-1);
}
