// corvane: the component's text and file encryption as a command-line program.
#include "cli/commands.h"

#ifdef _WIN32
// Arguments reach the program as given: the C runtime must not expand * and ? itself.
extern "C" int _dowildcard;
int _dowildcard = 0;

int wmain(int argc, wchar_t** argv) { return corvane::cli::Main(argc, argv); }
#else
int main(int argc, char** argv) { return corvane::cli::Main(argc, argv); }
#endif
