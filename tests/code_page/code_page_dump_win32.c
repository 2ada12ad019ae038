/*
 * Code page 936 as the system converts it, in the form code_page_dump_posix.cpp writes the POSIX
 * code page: "M XX UUUU" for each single byte and "M XXYY UUUU" for each lead/trail pair that
 * MultiByteToWideChar turns into one character other than '?', then "W UUUU XX[YY]" for each
 * UTF-16 code unit (surrogates aside) that WideCharToMultiByte writes without its default
 * character. Flags 0 on both sides, as the library converts.
 */
#include <stdio.h>
#include <windows.h>

int main(void) {
  unsigned lead, trail, unit, k;
  for (lead = 0; lead < 256; ++lead) {
    char in[1] = {(char)lead};
    WCHAR out[4];
    if (MultiByteToWideChar(936, 0, in, 1, out, 4) == 1 && (out[0] != '?' || lead == '?')) {
      printf("M %02X %04X\n", lead, out[0]);
    }
  }
  for (lead = 0x81; lead <= 0xFE; ++lead) {
    for (trail = 0x40; trail <= 0xFE; ++trail) {
      char in[2] = {(char)lead, (char)trail};
      WCHAR out[4];
      if (MultiByteToWideChar(936, 0, in, 2, out, 4) == 1 && out[0] != '?') {
        printf("M %02X%02X %04X\n", lead, trail, out[0]);
      }
    }
  }
  for (unit = 1; unit < 0x10000; ++unit) {
    WCHAR in = (WCHAR)unit;
    char out[8];
    BOOL defaulted = FALSE;
    int n;
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    n = WideCharToMultiByte(936, 0, &in, 1, out, sizeof out, NULL, &defaulted);
    if (n > 0 && !defaulted) {
      printf("W %04X ", unit);
      for (k = 0; k < (unsigned)n; ++k) printf("%02X", (unsigned char)out[k]);
      printf("\n");
    }
  }
  return 0;
}
