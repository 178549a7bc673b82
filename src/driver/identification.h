// Finding out which installation of the server product a run removes.
#pragma once

#include "src/driver/cleanup_target.h"

// The installer's component code of the server product.
extern const WCHAR kServerComponentCode[];

// Exit codes of a run.
enum ExitCode : int {
  kExitCleaned = 0,
  kExitProductNotFound = 1,
  kExitCannotOpenProduct = 2,
  kExitCannotGetUpgradeCode = 3,
  kExitCommandLineCodeTooLong = 4,
};

// Takes the two codes from the command line. kExitCommandLineCodeTooLong,
// with nothing copied, when either would not fit its storage.
int IdentifyFromCommandLine(const WCHAR* product_code, const WCHAR* upgrade_code, CleanupTarget* target);

// Asks Windows Installer which product installed the server component and
// what its upgrade code is. kExitCleaned when both were found.
int IdentifyThroughInstaller(CleanupTarget* target);

// Looks up the installed path of the server component and keeps its
// directory; the directory stays empty when there is none.
void FindProductDirectory(CleanupTarget* target);
