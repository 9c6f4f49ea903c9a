/* The publisher's application: says hello. */
#include <stdio.h>

int main(void) {
  puts("Hello from HelloVantel");
  return 0;
}
