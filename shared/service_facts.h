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
