#include "command_line.h"

int main(int argc, char** argv) { return run_vorn(argc, argv); }
