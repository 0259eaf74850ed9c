#include "command_line.h"
#include "platform.h"
#include "print_lines.h"

int run_vorn(int argument_count, const char* const* arguments) {
  command_line parsed;
  const scan_result result = scan_arguments(argument_count, arguments, &parsed);
  if (result == scan_result::misuse) show_usage();
  if (result == scan_result::out_of_memory) return -1;
  const int status = print_lines(parsed.input_path, parsed.line_count, parsed.skip_count);
  release_text(parsed.input_path);
  return status;
}
