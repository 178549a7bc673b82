// Declarations of the simulated Windows platform: basic types, error codes,
// process, heap and time. Written from the documented interface; the values
// of constants are the documented ones.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define TEXT(s) u##s
#define MAX_PATH 260

using WCHAR = char16_t;
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using LSTATUS = LONG;
using BOOL = int;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
using HINSTANCE = struct SimInstance__*;
using HWND = struct SimWindow__*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0)))

// Error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_BAD_NETPATH 53L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_LEVEL 124L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_KEY_DELETED 1018L
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053L
#define ERROR_DEPENDENT_SERVICES_RUNNING 1051L
#define ERROR_INVALID_SERVICE_CONTROL 1052L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL 1061L
#define ERROR_SERVICE_NOT_ACTIVE 1062L
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define ERROR_UNKNOWN_PRODUCT 1605L
#define ERROR_UNKNOWN_FEATURE 1606L
#define ERROR_UNKNOWN_COMPONENT 1607L
#define ERROR_UNKNOWN_PROPERTY 1608L
#define ERROR_INVALID_HANDLE_STATE 1609L
#define ERROR_BAD_CONFIGURATION 1610L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);

// Time: advances the machine's virtual clock; never waits.
void WINAPI Sleep(DWORD milliseconds);

// Process heap.
HANDLE WINAPI GetProcessHeap();
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// Command line: splits like the shell does; the array is one allocation on
// the process heap.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR command_line, int* count);

// Temporary directory, with its trailing backslash. Returns its length, or
// the size needed (terminator included) when the buffer is too small, or 0.
DWORD WINAPI GetTempPathW(DWORD cch_buffer, LPWSTR buffer);

// Folders of the system itself; return the length written, 0 on failure.
UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT cch_buffer);
DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD cch_buffer);

// The cleaner's entry point, defined by the cleaner.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show_command);
