// Firmware for the 8051 behind volink-sim's ucsim target: P1 counts (+1 a
// tick), P2 walks one bit, P0.0 blinks; `counter` in internal RAM is written
// on every tick and tick() is called once a tick (breakpoint target).
#include <8051.h>

volatile unsigned char counter;

void tick(void) {
  counter++;
  P1 = counter;
  P2 = 1 << (counter & 7);
  P0 = (counter >> 2) & 1 ? 0xFF : 0xFE;
}

void main(void) {
  unsigned int i;
  for (;;) {
    tick();
    for (i = 0; i < 3000; i++) {
    }
  }
}
