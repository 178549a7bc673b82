// Declarations of the simulated Windows platform: the registry.
#pragma once

#include "base.h"

using HKEY = struct SimKey__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define SYNCHRONIZE 0x00100000L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

LSTATUS WINAPI RegOpenKeyExW(HKEY root, LPCWSTR sub_key, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegCloseKey(HKEY key);
LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD cb_data);
LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cch_name, LPDWORD reserved, LPWSTR class_name,
                             LPDWORD cch_class, PFILETIME last_write_time);
LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD cch_name, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD cb_data);
LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR class_name, LPDWORD cch_class, LPDWORD reserved, LPDWORD sub_keys,
                                LPDWORD cch_max_sub_key, LPDWORD cch_max_class, LPDWORD values,
                                LPDWORD cch_max_value_name, LPDWORD cb_max_value, LPDWORD cb_security_descriptor,
                                PFILETIME last_write_time);
LSTATUS WINAPI RegDeleteKeyW(HKEY root, LPCWSTR sub_key);
LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR value_name);
