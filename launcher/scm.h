// The service control manager calls beneath the service control client, the file calls
// that put the service's copy in place, and the clock its waits run on. The Win32 layer
// supplies them; host tests substitute a scripted manager and file system.
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
// Query and change the configuration; start, which a restart failure action needs.
const uint32_t kScmAccessRepair = 0x13;

// The local manager with full access; null on failure.
ScmHandle scm_open_manager();
// The service "QuellcoreSvc" with the given access; null on failure.
ScmHandle scm_open_service(ScmHandle manager, uint32_t access);
// Creates "QuellcoreSvc" (own process, demand start, normal error control, LocalSystem)
// with the given command line; null on failure.
ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line);
void scm_close(ScmHandle handle);
// The registered command line; 0 and the buffer filled on success, -1 otherwise (also
// when it does not fit).
int scm_read_command_line(ScmHandle service, wchar_t* buffer, uint32_t capacity);
// Replaces the command line and nothing else; 0 on success, -1 otherwise.
int scm_change_command_line(ScmHandle service, const wchar_t* command_line);
// -1 when the registration has failure actions, 0 when it has none or cannot tell.
int scm_has_failure_actions(ScmHandle service);
// Registers the failure actions of launcher.h; 0 on success, -1 otherwise.
int scm_set_failure_actions(ScmHandle service);
// 0 and *out filled on success, -1 otherwise.
int scm_query(ScmHandle service, ServiceProgress* out);
int scm_start(ScmHandle service);
// Sends STOP; the status the manager returns lands in *out. 0 when sent, -1 otherwise.
int scm_send_stop(ScmHandle service, ServiceProgress* out);
// The executable's full path; the number of characters, 0 on failure, `capacity` or
// more when it did not fit.
uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity);
// The machine's Program Files folder for this build; the number of characters, 0 on
// failure (also when it does not fit).
uint32_t program_files_folder(wchar_t* buffer, uint32_t capacity);
// Makes the folder; an existing one is fine, and a missing one fails the copy after it.
void make_folder(const wchar_t* path);
// 0 on success, -1 otherwise.
int copy_file(const wchar_t* from, const wchar_t* to);
// Renames within one folder, replacing what is there; 0 on success, -1 otherwise.
int move_file_replacing(const wchar_t* from, const wchar_t* to);
void delete_file(const wchar_t* path);

uint32_t tick_count();
void pause_ms(uint32_t ms);
