// Declarations of the simulated Windows platform: local accounts.
#pragma once

#include "base.h"

using NET_API_STATUS = DWORD;

#define NERR_Success 0
#define NERR_BASE 2100
#define NERR_UserNotFound (NERR_BASE + 121)
#define NERR_NotPrimary (NERR_BASE + 126)
#define NERR_LastAdmin (NERR_BASE + 128)

NET_API_STATUS WINAPI NetUserDel(LPCWSTR server_name, LPCWSTR user_name);
