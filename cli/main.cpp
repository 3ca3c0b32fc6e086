// corvane: the component's text and file encryption as a command-line program.
#include "cli/commands.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return corvane::cli::Main(argc, argv); }
#else
int main(int argc, char** argv) { return corvane::cli::Main(argc, argv); }
#endif
