// Stopping and deleting the server product's Windows services.
#pragma once

#include "src/platform/win32.h"

constexpr int kServiceNameCount = 3;

// The product's services, handled in this order.
extern const WCHAR* const ServiceNameTable[kServiceNameCount];

// Status queries while waiting for a service to stop, one second apart.
constexpr DWORD ServiceStopPollLimit = 180;

// Replaces the service's recovery actions with none, stops it unless it is
// stopped already (waiting up to ServiceStopPollLimit seconds), and deletes
// it; a service that never reported stopped is still handed to
// DeleteService. Returns 0 when the service was marked for deletion,
// otherwise the error code of the first call that failed; the steps after it
// are skipped. Opens and closes its own handles; writes nothing to the log.
DWORD RemoveService(const WCHAR* service_name);

// Calls RemoveService for each name of ServiceNameTable in order and logs
// each outcome: "Service was successfully deleted" with the name, or
// "Service was not deleted" with the name and "Error code is" with the code.
void RemoveProductServices();
