// Vector table and reset handler: copies .data, clears .bss, calls main.
// The timer interrupt of blink.c sits where each board raises it: SysTick
// (exception 15) on the lm3s6965evb, TIMER0 (interrupt 8) on the microbit.
#include <stdint.h>

extern uint32_t _etext, _sdata, _edata, _sbss, _ebss, _estack;
int main(void);
void Timer_Handler(void);

void Reset_Handler(void) {
  uint32_t* src = &_etext;
  for (uint32_t* dst = &_sdata; dst < &_edata;) *dst++ = *src++;
  for (uint32_t* dst = &_sbss; dst < &_ebss;) *dst++ = 0;
  main();
  for (;;) {
  }
}

void Default_Handler(void) {
  for (;;) {
  }
}

#define IRQ(n) (16 + (n))
__attribute__((section(".vectors"), used)) static void (*const vectors[IRQ(32)])(void) = {
    [0] = (void (*)(void))(&_estack),
    [1] = Reset_Handler,
    [2 ... 6] = Default_Handler,
    [11 ... 12] = Default_Handler,
    [14] = Default_Handler,
#if defined(BOARD_LM3S)
    [15] = Timer_Handler,
    [IRQ(0)... IRQ(31)] = Default_Handler,
#else
    [15] = Default_Handler,
    [IRQ(0)... IRQ(7)] = Default_Handler,
    [IRQ(8)] = Timer_Handler,
    [IRQ(9)... IRQ(31)] = Default_Handler,
#endif
};
