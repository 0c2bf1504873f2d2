/* The C side of elf32_stats.asm: see there for the commands. */
#include <stdio.h>

struct stats { int count, sum, least, most; };
void table_stats(const int *values, int count, struct stats *result);
int count_vowels(const char *text);

int main(void) {
  static const int values[] = {12, -3, 40, 7, 15};
  static const char text[] = "An Assembler For Sixteen, Thirty-Two And Sixty-Four Bits";
  struct stats s;
  table_stats(values, sizeof values / sizeof values[0], &s);
  printf("Hello from qrn_asm, called from C\n");
  printf("%d values: sum %d, least %d, most %d\n", s.count, s.sum, s.least, s.most);
  printf("vowels in \"%s\": %d\n", text, count_vowels(text));
  return 0;
}
