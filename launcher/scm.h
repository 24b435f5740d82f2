// The service control manager calls beneath the service control client, and the clock
// its waits run on. The Win32 layer supplies them; host tests substitute a scripted manager.
#pragma once

#include <stdint.h>

typedef void* ScmHandle;

// The fields of SERVICE_STATUS_PROCESS that the waits follow.
struct ServiceProgress {
  uint32_t state;
  uint32_t checkpoint;
  uint32_t wait_hint;
};

const uint32_t kScmAccessDelete = 0x10000;
const uint32_t kScmAccessAll = 0xF01FF;
const uint32_t kScmAccessStop = 0x2C;  // stop, query status, enumerate dependents

// The local manager with full access; null on failure.
ScmHandle scm_open_manager();
// The service "QuellcoreSvc" with the given access; null on failure.
ScmHandle scm_open_service(ScmHandle manager, uint32_t access);
// Creates "QuellcoreSvc" (own process, demand start, normal error control, LocalSystem)
// with the given command line; null on failure.
ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line);
void scm_close(ScmHandle handle);
// 0 and *out filled on success, -1 otherwise.
int scm_query(ScmHandle service, ServiceProgress* out);
int scm_start(ScmHandle service);
// Sends STOP; the status the manager returns lands in *out. 0 when sent, -1 otherwise.
int scm_send_stop(ScmHandle service, ServiceProgress* out);
// The executable's full path; the number of characters, 0 on failure, `capacity` or
// more when it did not fit.
uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity);

uint32_t tick_count();
void pause_ms(uint32_t ms);
