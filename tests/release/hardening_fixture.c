/* What each compile-time mitigation guards, in a few lines, so that
 * scripts/pe-check can be shown to pass on a program built with the
 * project's flags and to fail on the same source built without them: a
 * local array (the stack protector guards its frame) and a copy whose
 * destination size is known at compile time (fortified into __strcpy_chk). */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  char buffer[16];
  strcpy(buffer, argc > 1 ? argv[1] : "fixture");
  puts(buffer);
  return 0;
}
