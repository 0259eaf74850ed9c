#include "fake_platform.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

const char fake_error_text[] = "scripted failure";

namespace {

fake_script script;
fake_record record;
std::size_t read_position = 0;
std::size_t copies_made = 0;

int saved_output = -1;
std::FILE* capture_file = nullptr;

}  // namespace

void fake_begin(const fake_script& new_script) {
  script = new_script;
  record = fake_record{};
  read_position = 0;
  copies_made = 0;
}

const fake_record& fake_result() { return record; }

bool open_input_file(const char* input_path, input_file* opened_file) {
  ++record.opens;
  record.opened_path = input_path;
  if (script.open_fails) return false;
  opened_file->handle = 7;
  return true;
}

bool read_input_file(input_file file, char* buffer, std::uint32_t capacity,
                     std::uint32_t* bytes_read) {
  if (file.handle != 7) std::abort();
  ++record.reads;
  record.capacities.push_back(capacity);
  record.output_at_read.push_back(captured_output());
  if (record.reads == script.failing_read) return false;
  std::size_t size = std::min<std::size_t>(capacity, script.content.size() - read_position);
  if (!script.read_sizes.empty()) {
    size = std::min<std::size_t>(size,
                                 script.read_sizes[(record.reads - 1) % script.read_sizes.size()]);
  }
  std::memcpy(buffer, script.content.data() + read_position, size);
  read_position += size;
  *bytes_read = static_cast<std::uint32_t>(size);
  return true;
}

void close_input_file(input_file file) {
  if (file.handle != 7) std::abort();
  ++record.closes;
}

void print_last_error() {
  ++record.errors_printed;
  std::printf("%s\n", fake_error_text);
}

char* duplicate_text(const char* text) {
  ++copies_made;
  if (copies_made == script.failing_copy) return nullptr;
  ++record.copies_live;
  const std::size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  std::memcpy(copy, text, size);
  return copy;
}

void release_text(char* text) {
  if (text == nullptr) return;
  --record.copies_live;
  std::free(text);
}

void capture_output_begin() {
  std::fflush(stdout);
  capture_file = std::tmpfile();
  saved_output = dup(1);
  dup2(fileno(capture_file), 1);
}

std::string captured_output() {
  if (capture_file == nullptr) return std::string();
  std::string text;
  char block[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(fileno(capture_file), block, sizeof block, offset);
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

std::string capture_output_end() {
  std::fflush(stdout);
  std::string text = captured_output();
  dup2(saved_output, 1);
  close(saved_output);
  std::fclose(capture_file);
  capture_file = nullptr;
  std::clearerr(stdout);
  return text;
}
