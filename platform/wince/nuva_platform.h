// The Brel Nuva Q7's own platform extensions: OEM request codes, the power
// driver's requests and the fixed addresses of its hardware. The handheld's
// platform software answers these; the agent and the flasher use them.
#pragma once

#include <stdint.h>

// KernelIoControl codes of the platform.
#define IOCTL_NUVA_PLATFORM_COMMAND 0x01013E8Cu  // input: 32-bit selector
#define IOCTL_NUVA_PLATFORM_QUERY 0x01013E90u    // input: 32-bit selector

// PlatformCommand selectors.
#define NUVA_COMMAND_MEMORY_CONFIG 0x1B2Au  // output: 4 bytes, the memory configuration code
#define NUVA_COMMAND_FLASH_PREPARE 2u       // no output; sent by the flasher before programming

// PlatformQuery selectors.
#define NUVA_QUERY_PLATFORM_INFO 6u  // output: 4 bytes, the ROM build code
#define NUVA_QUERY_ROM_VERSION 17u   // output: 16 bytes, UTF-16 version text

// DeviceIoControl on the power driver "PWR1:". Input: 20 bytes whose first
// 32-bit word selects the request.
#define IOCTL_NUVA_POWER_DRIVER_REQUEST 0x01012000u
#define NUVA_POWER_MEMORY_CONFIG 0x20480200u  // output: 24 bytes, code in the first word
#define NUVA_POWER_INFO_BLOCK 0x20480000u     // output: the 92-byte PowerInfoBlock
#define NUVA_POWER_INFO_BLOCK_SIZE 92u

// Memory configuration codes.
#define NUVA_MEMORY_ADVANCED 0x02000200u
#define NUVA_MEMORY_BASIC 0x01000100u

// The reserved RAM block (uncached) and its words.
#define NUVA_RESERVED_RAM_ADVANCED 0xA7FCE000u
#define NUVA_RESERVED_RAM_BASIC 0xA5FCE000u
#define NUVA_COLD_START_WORD_1 0x690u  // both cleared: the next start is cold
#define NUVA_COLD_START_WORD_2 0x70Cu

// Memory windows.
#define NUVA_FLASH_UNCACHED 0xA0000000u
#define NUVA_FLASH_CACHED 0x80000000u
#define NUVA_RAM_CACHED 0x84000000u
#define NUVA_RAM_UNCACHED 0xA4000000u
#define NUVA_RAM_PHYSICAL 0xA0000000u  // physical address of RAM byte 0
#define NUVA_FRAME_BUFFER 0xBE042000u
#define NUVA_SCREEN_WIDTH 240u
#define NUVA_SCREEN_HEIGHT 320u

// The restart line: write 0x00200000 to RESTART_ARM, then set bit 21 of
// RESTART_FIRE.
#define NUVA_REG_RESTART_ARM 0xA9000024u
#define NUVA_REG_RESTART_FIRE 0xA900000Cu
#define NUVA_RESTART_BIT 0x00200000u
