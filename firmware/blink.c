// Firmware for the emulated boards behind volink-sim's QEMU targets: one
// semihosting write at start, then GPIO patterns paced by a busy loop.
//   lm3s6965evb: port B counts (+1 a tick), port D walks one bit, PF0 blinks.
//   microbit:    P0.0-P0.7 count, P0.8-P0.15 walk one bit, P0.16 blinks.
// g_counter is written on every tick (a watchpoint target); tick() is called
// once a tick (a breakpoint target).
#include <stdint.h>

#define REG(a) (*(volatile uint32_t*)(a))

volatile uint32_t g_counter;
volatile uint32_t g_delay = 200000;

static void semihost_write0(const char* text) {
  register uint32_t r0 __asm__("r0") = 0x04;  // SYS_WRITE0
  register const char* r1 __asm__("r1") = text;
  __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
}

#if defined(BOARD_LM3S)
#define GPIO_B 0x40005000u
#define GPIO_D 0x40007000u
#define GPIO_F 0x40025000u
static void gpio_init(void) {
  REG(0x400FE108) = 0x3F;  // clock the GPIO ports
  const uint32_t ports[] = {GPIO_B, GPIO_D, GPIO_F};
  for (unsigned i = 0; i < 3; ++i) {
    REG(ports[i] + 0x400) = 0xFF;  // direction: outputs
    REG(ports[i] + 0x51C) = 0xFF;  // digital enable
  }
  REG(GPIO_F + 0x400) = 0x01;      // PF1-PF7 stay inputs
  REG(GPIO_F + 0x510) = 0x02;      // PF1 pull-up (the select button)
}
static void gpio_show(uint32_t n) {
  REG(GPIO_B + 0x3FC) = n & 0xFF;
  REG(GPIO_D + 0x3FC) = 1u << (n & 7);
  REG(GPIO_F + 0x004) = (n >> 2) & 1;  // masked data access: PF0 only
}
#else  // microbit
#define GPIO 0x50000000u
static void gpio_init(void) { REG(GPIO + 0x518) = 0x1FFFF; }  // DIRSET: P0.0-P0.16 outputs
static void gpio_show(uint32_t n) {
  REG(GPIO + 0x504) = (n & 0xFF) | ((1u << (8 + (n & 7)))) | (((n >> 2) & 1) << 16);
}
#endif

__attribute__((noinline)) void tick(void) {
  g_counter = g_counter + 1;
  gpio_show(g_counter);
}

static void delay(void) {
  for (volatile uint32_t i = 0; i < g_delay; ++i) {
  }
}

int main(void) {
  gpio_init();
  semihost_write0("Hello from the emulated board\n");
  for (;;) {
    tick();
    delay();
  }
}
