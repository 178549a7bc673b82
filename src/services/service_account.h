// Deleting the local account the server product created for its service.
#pragma once

#include "src/platform/win32.h"

// The account-name buffer: 259 characters and the terminator.
constexpr int kCchServiceAccountName = 260;

// Reads the account name from "AutoCreatedServiceAccount" under
// HKLM\SOFTWARE\Morvathen\Components\34\1093\1.0.0.0 and deletes that
// account on the local machine. A missing key or value, a failed read, an
// empty name, or a name that does not end within kCchServiceAccountName
// characters ends the step without a log line and without a deletion.
// Otherwise logs "Deleting server service account" with the name, then "OK"
// or "Error" with NetUserDel's code.
void DeleteServiceAccount();
