/* Writes the process's ANSI code page as Windows converts it for Corvane.dll: every byte
   and every lead/trail byte pair through MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS),
   every BMP character through WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS) with the
   default-character check. A conversion that fails or needs the default character is a
   refusal and is left out.
     code_page_dump.exe OUTPUT_FILE
   OUTPUT_FILE: "acp N", then "l HEXBYTE" for each lead byte, "d HEXBYTES CODEPOINT" and
   "e CODEPOINT HEXBYTES" lines (hex). */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* out = fopen(argv[1], "w");
  if (!out) return 3;
  UINT acp = GetACP();
  fprintf(out, "acp %u\n", acp);
  for (int b = 1; b < 256; ++b) {
    char in[2] = {(char)b, 0};
    WCHAR w[4];
    if (IsDBCSLeadByteEx(acp, (BYTE)b)) {
      fprintf(out, "l %02X\n", b);
      for (int t = 1; t < 256; ++t) {
        char pair[2] = {(char)b, (char)t};
        int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pair, 2, w, 4);
        if (n == 1) fprintf(out, "d %02X%02X %X\n", b, t, (unsigned)w[0]);
      }
      continue;
    }
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, in, 1, w, 4);
    if (n == 1) fprintf(out, "d %02X %X\n", b, (unsigned)w[0]);
  }
  for (unsigned c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    WCHAR w = (WCHAR)c;
    char bytes[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &w, 1, bytes, sizeof bytes, NULL, &usedDefault);
    if (n <= 0 || usedDefault) continue;
    fprintf(out, "e %X ", c);
    for (int i = 0; i < n; ++i) fprintf(out, "%02X", (unsigned char)bytes[i]);
    fprintf(out, "\n");
  }
  fclose(out);
  return 0;
}
