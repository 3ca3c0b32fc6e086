/* A DLL with every fault that check_pe.py --hardened and its read-only checks look for;
   tests/static/check_pe_catches.py makes sure that each one is reported. Its link turns
   ASLR and DEP off (tests/windows/windows_tests.cmake). */
typedef void (*Action)(void);

static void First(void) {}
static void Second(void) {}
static void Third(void) {}
static void Fourth(void) {}

/* A table of code pointers and a table of constants, both in writable data. */
Action writable_actions[4] = {First, Second, Third, Fourth};
unsigned int writable_words[4] = {0x600DF00D, 0x0BADC0DE, 0xFEEDFACE, 0xDEADBEEF};

/* Code in a section that is writable as well. */
__asm__(".section .wx,\"wx\"\n"
        "wx_code: ret\n"
        ".text\n");

#ifdef __i386__
/* Installs a frame-based exception handler (stores to fs:[0]) in an image marked NO_SEH. */
__asm__(".text\n"
        "seh_code: movl %esp, %fs:0\n"
        "ret\n");
#endif

int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return 1;
}
