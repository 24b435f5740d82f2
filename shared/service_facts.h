// What every part knows of the one service: its name, the states the service control
// manager reports for it, and how yes/no questions are answered throughout.
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

// Answers of yes/no questions: -1 for yes, 0 for no or when it cannot be told.
const int kYes = -1;
const int kNo = 0;
