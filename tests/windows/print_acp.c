/* Prints the ANSI code page the process runs under; the Windows tests need 936 (GBK). */
#include <windows.h>
#include <stdio.h>

int main(void) {
  printf("%u\n", GetACP());
  return 0;
}
