#include "command_line.h"
#include "platform.h"
#include "print_lines.h"

int main(int argc, char** argv) {
  command_line parsed;
  switch (scan_arguments(argc, argv, &parsed)) {
    case scan_result::ok:
      break;
    case scan_result::misuse:
      show_usage();
    case scan_result::out_of_memory:
      return -1;
  }
  const int status = print_lines(parsed.input_path, parsed.line_count, parsed.skip_count);
  release_text(parsed.input_path);
  return status;
}
