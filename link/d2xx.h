// The subset of the FTDI D2XX device library that the updater uses, declared under the
// library's published names, types and constants; the framing constants in full, for the
// Linux library that checks them. Each build supplies the definitions: the Windows program
// forwards to FTD2XX.dll loaded at run time, the native build to the simulated tester, vivad-flash
// on Linux to the ttys of the kernel's FTDI driver (linux/tty_d2xx.cpp).
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define FT_CALL __stdcall
#else
#define FT_CALL
#endif

// ULONG, DWORD and UCHAR in the library's own header; fixed widths keep the core free of
// <windows.h> while matching the library's binary interface.
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr std::uint32_t FT_LIST_BY_INDEX = 0x40000000u;
constexpr std::uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;

constexpr std::uint8_t FT_BITS_8 = 8;
constexpr std::uint8_t FT_BITS_7 = 7;
constexpr std::uint8_t FT_STOP_BITS_1 = 0;
constexpr std::uint8_t FT_STOP_BITS_2 = 2;
constexpr std::uint8_t FT_PARITY_NONE = 0;
constexpr std::uint8_t FT_PARITY_ODD = 1;
constexpr std::uint8_t FT_PARITY_EVEN = 2;

extern "C" {
FT_STATUS FT_CALL FT_ListDevices(void* pvArg1, void* pvArg2, std::uint32_t dwFlags);
FT_STATUS FT_CALL FT_OpenEx(void* pvArg1, std::uint32_t dwFlags, FT_HANDLE* pHandle);
FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle);
FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t BaudRate);
FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t WordLength,
                                            std::uint8_t StopBits, std::uint8_t Parity);
FT_STATUS FT_CALL FT_SetTimeouts(FT_HANDLE ftHandle, std::uint32_t ReadTimeout,
                                 std::uint32_t WriteTimeout);
FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToRead,
                          std::uint32_t* lpBytesReturned);
FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                           std::uint32_t* lpBytesWritten);
}
