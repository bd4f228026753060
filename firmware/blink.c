// Firmware for the emulated boards behind volink-sim's QEMU targets: one
// semihosting write at start, then a GPIO pattern that moves ten times a
// second. The core sleeps (wfi) between ticks and a timer interrupt wakes it,
// so the board ticks in real time and QEMU idles in between.
//   lm3s6965evb: port B counts (+1 a tick), port D walks one bit, PF0 blinks;
//                SysTick on the 12 MHz system clock paces it.
//   microbit:    P0.0-P0.7 count, P0.8-P0.15 walk one bit, P0.16 blinks;
//                TIMER0 (1 MHz, compare 0) paces it.
// g_counter is written on every tick (a watchpoint target); tick() is called
// once a tick (a breakpoint target); g_wakeups counts the timer interrupts.
#include <stdint.h>

#define REG(a) (*(volatile uint32_t*)(a))
#define TICK_HZ 10u

volatile uint32_t g_counter;
volatile uint32_t g_wakeups;

static void semihost_write0(const char* text) {
  register uint32_t r0 __asm__("r0") = 0x04;  // SYS_WRITE0
  register const char* r1 __asm__("r1") = text;
  __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
}

#if defined(BOARD_LM3S)
#define GPIO_B 0x40005000u
#define GPIO_D 0x40007000u
#define GPIO_F 0x40025000u
#define SYSTEM_CLOCK_HZ 12000000u  // reset value of RCC: the 12 MHz main oscillator
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
static void timer_start(void) {
  REG(0xE000E014) = SYSTEM_CLOCK_HZ / TICK_HZ - 1;  // SYST_RVR
  REG(0xE000E018) = 0;                              // SYST_CVR: reload now
  REG(0xE000E010) = 7;                              // SYST_CSR: processor clock, interrupt, enable
}
static void timer_acknowledge(void) {}  // SysTick needs none
#else  // microbit
#define GPIO 0x50000000u
#define TIMER0 0x40008000u
static void gpio_init(void) { REG(GPIO + 0x518) = 0x1FFFF; }  // DIRSET: P0.0-P0.16 outputs
static void gpio_show(uint32_t n) {
  REG(GPIO + 0x504) = (n & 0xFF) | ((1u << (8 + (n & 7)))) | (((n >> 2) & 1) << 16);
}
static void timer_start(void) {
  REG(TIMER0 + 0x504) = 0;                  // MODE: timer
  REG(TIMER0 + 0x508) = 3;                  // BITMODE: 32 bits
  REG(TIMER0 + 0x510) = 4;                  // PRESCALER: 16 MHz / 2^4 = 1 MHz
  REG(TIMER0 + 0x540) = 1000000u / TICK_HZ; // CC[0]
  REG(TIMER0 + 0x200) = 1;                  // SHORTS: COMPARE[0] clears the count
  REG(TIMER0 + 0x304) = 1u << 16;           // INTENSET: COMPARE[0]
  REG(0xE000E100) = 1u << 8;                // NVIC: TIMER0 is interrupt 8
  REG(TIMER0 + 0x00C) = 1;                  // TASKS_CLEAR
  REG(TIMER0 + 0x000) = 1;                  // TASKS_START
}
static void timer_acknowledge(void) { REG(TIMER0 + 0x140) = 0; }  // EVENTS_COMPARE[0]
#endif

__attribute__((noinline)) void tick(void) {
  g_counter = g_counter + 1;
  gpio_show(g_counter);
}

// The timer's interrupt: SysTick on the lm3s6965evb, TIMER0 on the microbit
// (the vector table of startup.c names both).
void Timer_Handler(void) {
  timer_acknowledge();
  g_wakeups = g_wakeups + 1;
}

int main(void) {
  gpio_init();
  semihost_write0("Hello from the emulated board\n");
  timer_start();
  uint32_t seen = 0;
  for (;;) {
    // Sleep until the timer's interrupt; a tick for each one that came.
    while (g_wakeups == seen) __asm__ volatile("wfi" ::: "memory");
    seen = seen + 1;
    tick();
  }
}
