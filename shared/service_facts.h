// What every part knows of the one service: its name and the states the service control
// manager reports for it.
#pragma once

#include <stdint.h>

// Also a macro, so that other names can be built around it at compile time.
#define QC_SERVICE_NAME L"QuellcoreSvc"
const wchar_t kServiceName[] = QC_SERVICE_NAME;

// Service states, as the service control manager numbers them.
const uint32_t kServiceStopped = 1;
const uint32_t kServiceStartPending = 2;
const uint32_t kServiceStopPending = 3;
const uint32_t kServiceRunning = 4;

// Why the service stopped by its own account: its service-specific exit code, which the
// manager keeps and the window reads back. Bit 29 marks a code as the application's own,
// so none can be taken for one of Windows' error codes.
const uint32_t kStopReasonNoStopEvent = 0x20000001u;  // it could not make its stop event
// Another program made the region's mutexes first: the service does not use them.
const uint32_t kStopReasonNamesTaken = 0x20000002u;
