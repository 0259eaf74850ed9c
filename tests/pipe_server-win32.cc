// Serves two lines through a Windows named pipe to the program whose command
// line follows, with the pipe's name as its last argument, then closes its
// end of the pipe. The reader sees the writer go as a read that fails with
// ERROR_BROKEN_PIPE once the lines are drained.
//
//   pipe_server.exe PROGRAM [ARGUMENT...]
//
// Ends with the program's exit code, or 100 when the pipe or the process
// cannot be set up.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pipe_server PROGRAM [ARGUMENT...]\n");
    return 100;
  }
  char pipe_name[64];
  std::snprintf(pipe_name, sizeof pipe_name, "\\\\.\\pipe\\vorn-test-%lu",
                static_cast<unsigned long>(GetCurrentProcessId()));
  const HANDLE pipe = CreateNamedPipeA(pipe_name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                       1, 4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "pipe_server: CreateNamedPipe failed: %lu\n", GetLastError());
    return 100;
  }

  // The arguments hold no spaces or quotes in the tests; quoting each is
  // enough to hand them on whole.
  std::string command_line;
  for (int index = 1; index < argc; ++index) {
    command_line += '"';
    command_line += argv[index];
    command_line += "\" ";
  }
  command_line += '"';
  command_line += pipe_name;
  command_line += '"';

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "pipe_server: CreateProcess failed: %lu\n", GetLastError());
    CloseHandle(pipe);
    return 100;
  }
  int exit_status = 100;
  if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
    const char lines[] = "a\nb\n";
    DWORD written = 0;
    WriteFile(pipe, lines, sizeof lines - 1, &written, nullptr);
    FlushFileBuffers(pipe);
  }
  CloseHandle(pipe);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD process_status = 0;
  if (GetExitCodeProcess(process.hProcess, &process_status)) {
    exit_status = static_cast<int>(process_status);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exit_status;
}
