// libFuzzer target for the line printer, behind a scripted platform layer
// defined here and standard output captured in memory.
//
// Input: a 12-byte header, then the file's content.
//   byte 0       bit 0: the open fails
//   byte 1       the read that fails, 1-based (0: none)
//   bytes 2-5    line_count, little-endian
//   bytes 6-9    skip_count, little-endian
//   byte 10      how many read sizes follow (taken modulo 9)
//   byte 11      unused
//   2 bytes each the most that each read delivers, little-endian, taken in
//                turn and repeated (0: as many as asked for)
//
// The output, the status, the number of reads and what had been flushed when
// each read was made are compared with a model that walks the same chunks by
// the same rules. When no read fails and the file holds no zero byte, the
// output must also equal the range taken from the whole file at once, so it
// cannot depend on how the reads split it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "print_lines.h"

namespace {

const char error_text[] = "scripted failure";
constexpr std::uint32_t expected_capacity = 511;
constexpr std::intptr_t fake_handle = 7;

struct script {
  std::string content;
  std::vector<std::uint32_t> read_sizes;
  bool open_fails = false;
  std::size_t failing_read = 0;
};

script current;
std::size_t read_position = 0;
std::size_t reads = 0;
std::size_t closes = 0;
bool file_open = false;
std::vector<std::string> output_at_read;

// open_memstream updates these at every flush, so they hold what has been
// flushed so far.
char* captured_text = nullptr;
std::size_t captured_size = 0;

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "model mismatch: %s\n", what);
  std::abort();
}

std::uint32_t little_endian(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::size_t chunk_size(std::size_t read_number, std::size_t position, const script& plan) {
  std::size_t size = std::min<std::size_t>(expected_capacity, plan.content.size() - position);
  if (!plan.read_sizes.empty()) {
    const std::uint32_t most = plan.read_sizes[(read_number - 1) % plan.read_sizes.size()];
    if (most != 0) size = std::min<std::size_t>(size, most);
  }
  return size;
}

// The text of a line or piece ends at its first zero byte.
std::string up_to_zero(const std::string& text) { return text.substr(0, text.find('\0')); }

struct model_run {
  int status = 0;
  std::string output;
  std::size_t reads = 0;
  std::size_t closes = 0;
  std::vector<std::string> output_at_read;
};

model_run walk_chunks(const script& plan, std::uint32_t line_count, std::uint32_t skip_count) {
  model_run model;
  if (plan.open_fails) {
    model.status = -1;
    model.output = std::string(error_text) + "\n";
    return model;
  }
  model.closes = 1;
  std::uint64_t written = 0;
  std::uint64_t skipped = 0;
  bool skipping = skip_count != 0;
  std::size_t position = 0;
  while (written < line_count) {
    model.output_at_read.push_back(model.output);
    ++model.reads;
    if (model.reads == plan.failing_read) {
      model.output += std::string(error_text) + "\n";
      model.status = -1;
      break;
    }
    const std::size_t size = chunk_size(model.reads, position, plan);
    if (size == 0) break;
    const std::string chunk = plan.content.substr(position, size);
    position += size;
    std::size_t start = 0;
    for (std::size_t line_feed = chunk.find('\n'); line_feed != std::string::npos;
         line_feed = chunk.find('\n', start)) {
      if (skipping) {
        ++skipped;
        skipping = skipped < skip_count;
      } else {
        model.output += up_to_zero(chunk.substr(start, line_feed - start)) + "\n";
        ++written;
      }
      start = line_feed + 1;
      if (written >= line_count) break;
    }
    if (!skipping && written < line_count) model.output += up_to_zero(chunk.substr(start));
  }
  return model;
}

// Lines skip_count+1 .. skip_count+line_count of the whole content; the bytes
// after the last line feed are a last line, written without one.
std::string take_range(const std::string& content, std::uint32_t line_count,
                       std::uint32_t skip_count) {
  std::string output;
  std::uint64_t line_number = 0;
  std::size_t start = 0;
  const std::uint64_t first = skip_count;
  const std::uint64_t end = first + line_count;
  while (start < content.size() && line_number < end) {
    const std::size_t line_feed = content.find('\n', start);
    const bool ended = line_feed != std::string::npos;
    const std::size_t stop = ended ? line_feed : content.size();
    if (line_number >= first) output += content.substr(start, stop - start) + (ended ? "\n" : "");
    ++line_number;
    start = stop + 1;
  }
  return output;
}

}  // namespace

bool open_input_file(const char* input_path, input_file* opened_file) {
  require(input_path != nullptr && std::strcmp(input_path, "input.txt") == 0, "the name as given");
  require(!file_open, "one open");
  if (current.open_fails) return false;
  file_open = true;
  opened_file->handle = fake_handle;
  return true;
}

bool read_input_file(input_file file, char* buffer, std::uint32_t capacity,
                     std::uint32_t* bytes_read) {
  require(file.handle == fake_handle && file_open, "a read of the open file");
  require(capacity == expected_capacity, "reads of 511 bytes");
  output_at_read.emplace_back(captured_text, captured_size);
  ++reads;
  // A read may fill all of what it was given; the sanitizer checks the buffer holds it.
  std::memset(buffer, 0x5a, capacity);
  if (reads == current.failing_read) return false;
  const std::size_t size = chunk_size(reads, read_position, current);
  std::memcpy(buffer, current.content.data() + read_position, size);
  read_position += size;
  *bytes_read = static_cast<std::uint32_t>(size);
  return true;
}

void close_input_file(input_file file) {
  require(file.handle == fake_handle && file_open, "a close of the open file");
  file_open = false;
  ++closes;
}

void print_last_error() { std::printf("%s\n", error_text); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t header_size = 12;
  if (size < header_size) return 0;
  current = script{};
  current.open_fails = (data[0] & 1) != 0;
  current.failing_read = data[1];
  const std::uint32_t line_count = little_endian(data + 2);
  const std::uint32_t skip_count = little_endian(data + 6);
  std::size_t at = header_size;
  for (std::size_t count = data[10] % 9; count > 0 && at + 2 <= size; --count, at += 2) {
    current.read_sizes.push_back(static_cast<std::uint32_t>(data[at] | data[at + 1] << 8));
  }
  current.content.assign(reinterpret_cast<const char*>(data + at), size - at);

  read_position = 0;
  reads = 0;
  closes = 0;
  file_open = false;
  output_at_read.clear();

  std::FILE* const saved_output = stdout;
  std::FILE* const capture = open_memstream(&captured_text, &captured_size);
  require(capture != nullptr, "a capture stream");
  stdout = capture;
  const int status = print_lines("input.txt", line_count, skip_count);
  std::fflush(capture);
  stdout = saved_output;
  const std::string output(captured_text, captured_size);
  std::fclose(capture);
  std::free(captured_text);
  captured_text = nullptr;
  captured_size = 0;

  const model_run model = walk_chunks(current, line_count, skip_count);
  require(status == model.status, "status");
  require(output == model.output, "output");
  require(reads == model.reads, "number of reads");
  require(closes == model.closes, "closed once after a successful open");
  require(!file_open, "closed on every path");
  require(output_at_read == model.output_at_read, "everything flushed before the next read");
  if (current.failing_read == 0 && !current.open_fails &&
      current.content.find('\0') == std::string::npos) {
    require(output == take_range(current.content, line_count, skip_count), "independent of reads");
  }
  return 0;
}
