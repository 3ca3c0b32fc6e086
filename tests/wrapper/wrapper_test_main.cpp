// The Wrapper tests run in one single-threaded apartment, as a script host's thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

// oleaut32 keeps freed BSTRs for reuse unless told not to; the allocation counts of the
// tests must see every free. No header declares it; it takes no arguments, so the
// calling convention does not matter, and mingw's x86 import library names it undecorated.
extern "C" void SetOaNoCache(void);

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  SetOaNoCache();
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
