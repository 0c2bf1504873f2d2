/* The C side of elf64_text.asm: see there for the commands. */
#include <stdio.h>

long rot13(char *text);
void shout(const char *text);

int main(void) {
  char secret[] = "Hello from qrn_asm, called from C";
  shout("hello from qrn_asm, called from c");
  long n = rot13(secret);
  printf("rot13: %s (%ld letters)\n", secret, n);
  rot13(secret);
  printf("again: %s\n", secret);
  return 0;
}
