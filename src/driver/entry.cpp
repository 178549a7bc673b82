// The process entry: open the log, identify the product, clean it up, close
// the log, and return the exit code.
#include "src/driver/cleanup_sequence.h"
#include "src/driver/identification.h"
#include "src/log/run_log.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPWSTR command_line, int /*show_command*/) {
  CleanupTarget target = {};
  LPWSTR* arguments = nullptr;
  int argument_count = 0;

  OpenRunLog();
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

  if (command_line != nullptr && command_line[0] != 0) {
    arguments = CommandLineToArgvW(command_line, &argument_count);
  }
  int exit_code = kExitCleaned;
  if (arguments != nullptr && argument_count == 2) {
    exit_code = IdentifyFromCommandLine(arguments[0], arguments[1], &target);
  } else {
    exit_code = IdentifyThroughInstaller(&target);
  }
  if (exit_code == kExitCleaned) {
    FindProductDirectory(&target);
    RunCleanupSequence(target);
  }

  CloseRunLog();
  if (arguments != nullptr) {
    HeapFree(GetProcessHeap(), 0, arguments);
  }
  return exit_code;
}
