// The tester's command set: hardware revision codes, opcodes, the bootloader's limits, and the
// waits around each command.
#pragma once

#include <cstddef>
#include <cstdint>

// The revision code the run settles for the tester, 0 to 255: only REVISION_2_CODE means
// revision-2 hardware, every other code revision 1.
using HardwareRevision = std::uint8_t;
constexpr HardwareRevision REVISION_2_CODE = 20;
constexpr HardwareRevision REVISION_1_CODE = 10;
// Identify reports revision-2 hardware as any code in this range; every other code is kept as
// reported, and so means revision 1.
constexpr std::uint8_t REVISION_2_HARDWARE_CODE_FIRST = 20;
constexpr std::uint8_t REVISION_2_HARDWARE_CODE_LAST = 29;

constexpr HardwareRevision RevisionFromHardwareCode(std::uint8_t code) {
    return code >= REVISION_2_HARDWARE_CODE_FIRST && code <= REVISION_2_HARDWARE_CODE_LAST
               ? REVISION_2_CODE
               : code;
}

// Running firmware.
constexpr std::uint8_t CMD_IDENTIFY = 0x01;
constexpr std::uint8_t CMD_PROBE_REV1 = 0x0A;
constexpr std::uint8_t CMD_ENTER_BOOTLOADER = 0xFD;
// Bootloader.
constexpr std::uint8_t CMD_START_PROGRAMMING = 0xFE;
constexpr std::uint8_t CMD_BLOCK = 0xFF;

constexpr std::uint32_t IDENTIFY_PAUSE_MS = 100;
constexpr std::uint32_t IDENTIFY_REPLY_TIMEOUT_MS = 1000;
constexpr std::size_t IDENTIFY_REPLY_LENGTH = 3;
constexpr std::uint32_t BOOTLOADER_REPLY_TIMEOUT_MS = 1000;
constexpr std::uint32_t BOOTLOADER_START_PAUSE_MS = 1500;

constexpr std::size_t BLOCK_SIZE = 192;
// Block numbers are 16 bits and this one is the readiness query, so 65,535 blocks can be named.
constexpr std::uint16_t READY_QUERY_BLOCK = 0xFFFF;
constexpr std::uint32_t MAX_BLOCK_COUNT = READY_QUERY_BLOCK;
constexpr std::uint32_t MAX_IMAGE_LENGTH = MAX_BLOCK_COUNT * BLOCK_SIZE;

// Opcode, magic "ZVKD", 32-bit total length.
constexpr std::size_t START_REQUEST_LENGTH = 9;
// Opcode and 16-bit block number ahead of a block's data.
constexpr std::size_t BLOCK_HEADER_LENGTH = 3;

constexpr int START_ATTEMPTS = 3;
constexpr int READY_QUERY_ATTEMPTS = 3;
constexpr int BLOCK_ATTEMPTS = 4;
constexpr std::uint32_t START_REPLY_TIMEOUT_MS = 2000;
constexpr std::uint32_t REPLY_TIMEOUT_MS = 1000;
