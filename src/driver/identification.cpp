#include "src/driver/identification.h"

#include "src/files/parent_directory.h"
#include "src/log/run_log.h"
#include "src/text/wide_text.h"

const WCHAR kServerComponentCode[] = TEXT("{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}");

int IdentifyFromCommandLine(const WCHAR* product_code, const WCHAR* upgrade_code, CleanupTarget* target) {
  LogText(TEXT("Using command line..."), nullptr);
  // A code that does not fit is never shortened and used.
  const WCHAR* codes[] = {product_code, upgrade_code};
  for (const WCHAR* code : codes) {
    if (TextLength(code) >= kCchGuidText) {
      LogText(TEXT("Code on the command line is too long"), code);
      return kExitCommandLineCodeTooLong;
    }
  }
  TextCopy(target->product_code, kCchGuidText, product_code);
  TextCopy(target->upgrade_code, kCchGuidText, upgrade_code);
  LogText(TEXT("Set prodCode"), target->product_code);
  LogText(TEXT("Set upgrCode"), target->upgrade_code);
  return kExitCleaned;
}

int IdentifyThroughInstaller(CleanupTarget* target) {
  LogText(TEXT("Getting product code..."), nullptr);
  const UINT found = MsiGetProductCodeW(kServerComponentCode, target->product_code);
  if (found != ERROR_SUCCESS) {
    LogCode(TEXT("Product not found"), found);
    return kExitProductNotFound;
  }
  LogText(TEXT("Product was found. Prodcode is"), target->product_code);

  MSIHANDLE product = 0;
  const UINT opened = MsiOpenProductW(target->product_code, &product);
  if (opened != ERROR_SUCCESS) {
    LogCode(TEXT("Cannot open product"), opened);
    return kExitCannotOpenProduct;
  }
  LogText(TEXT("Product was opened"), nullptr);

  int exit_code = kExitCleaned;
  DWORD cch_upgrade_code = kCchGuidText;
  const UINT read = MsiGetProductPropertyW(product, TEXT("UpgradeCode"), target->upgrade_code, &cch_upgrade_code);
  if (read != ERROR_SUCCESS) {
    LogCode(TEXT("Cannot get upgrade code"), read);
    exit_code = kExitCannotGetUpgradeCode;
  } else {
    LogText(TEXT("Upgrade code is"), target->upgrade_code);
  }
  MsiCloseHandle(product);
  return exit_code;
}

void FindProductDirectory(CleanupTarget* target) {
  for (WCHAR& unit : target->product_directory) {
    unit = 0;
  }
  WCHAR path[MAX_PATH] = {};
  DWORD cch_path = MAX_PATH;
  const INSTALLSTATE state = MsiGetComponentPathW(target->product_code, kServerComponentCode, path, &cch_path);
  if (state != INSTALLSTATE_LOCAL) {
    LogText(TEXT("Cannot get product path"), nullptr);
    return;
  }
  GetParentDirectory(path, target->product_directory);
  LogText(TEXT("Product path"), target->product_directory);
}
