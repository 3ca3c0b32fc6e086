// Keeps the desktop of a private Wine prefix in use while tests run there.
//
// Wine closes a desktop, and ends its explorer.exe, a second after the last program using
// it exits. The next program that needs one (any COM apartment does) then starts a new
// explorer.exe: seconds of start-up, and the new explorer inherits that program's output,
// so a test runner reading it waits until the explorer ends as well. wine-prefix.sh starts
// this program once, with its streams on /dev/null; `wineserver -k` ends it with the prefix.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // A message-only window, as a COM apartment makes one, ties this thread to the desktop
  // (top-level windows need a display driver, which a test machine lacks). The message
  // loop answers whatever is sent to it, so no sender waits on us.
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"WineDesktopKeeper";
  if (RegisterClassW(&windowClass) == 0) return 1;
  if (CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                      windowClass.hInstance, nullptr) == nullptr)
    return 2;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
