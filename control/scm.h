// The service control manager calls beneath the service control client, the file calls
// that put the service's copy in place, and the clock its waits run on. The Win32 layer
// supplies them; host tests substitute a scripted manager that enforces Windows' default
// security.
#pragma once

#include <stdint.h>

typedef void* ScmHandle;

// The fields of SERVICE_STATUS_PROCESS that the client follows.
struct ServiceProgress {
  uint32_t state;
  uint32_t checkpoint;
  uint32_t wait_hint;
  uint32_t process_id;  // 0 while no service process runs
};

// Why an open or a start failed, as far as the client tells failures apart.
const int kScmFailed = -1;
const int kScmDenied = -2;     // the caller lacks a right it asked for
const int kScmNoService = -3;  // no such service

// Rights as Windows numbers them. Every call asks for the least it uses: a standard user
// is granted only some of them, and a request for one more is refused as a whole.
const uint32_t kManagerConnect = 0x0001;
const uint32_t kManagerCreateService = 0x0002;
const uint32_t kServiceQueryConfig = 0x0001;
const uint32_t kServiceChangeConfig = 0x0002;
const uint32_t kServiceQueryStatus = 0x0004;
const uint32_t kServiceStart = 0x0010;
const uint32_t kServiceStop = 0x0020;
const uint32_t kServiceWriteDac = 0x40000;

// The local manager with the given access; null on failure, *failure (when given) saying why.
ScmHandle scm_open_manager(uint32_t access, int* failure);
// The service "QuellcoreSvc" with the given access; null on failure, *failure saying why.
ScmHandle scm_open_service(ScmHandle manager, uint32_t access, int* failure);
// Creates "QuellcoreSvc" (own process, demand start, normal error control, LocalSystem)
// with the given command line; a handle that may only query its status, null on failure.
ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line);
void scm_close(ScmHandle handle);
// The registered command line; 0 and the buffer filled on success, -1 otherwise (also
// when it does not fit).
int scm_read_command_line(ScmHandle service, wchar_t* buffer, uint32_t capacity);
// Replaces the command line and nothing else; 0 on success, -1 otherwise.
int scm_change_command_line(ScmHandle service, const wchar_t* command_line);
// -1 when the registration has failure actions, 0 when it has none or cannot tell.
int scm_has_failure_actions(ScmHandle service);
// Registers the failure actions of registration.h; 0 on success, -1 otherwise.
int scm_set_failure_actions(ScmHandle service);
// Replaces the service's access list with kServiceSecurity; 0 on success, -1 otherwise.
int scm_set_service_security(ScmHandle service);
// 0 and *out filled on success, -1 otherwise.
int scm_query(ScmHandle service, ServiceProgress* out);
// 0 when the start was accepted, kScmDenied without the right, kScmFailed otherwise.
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
// Drops the mark a browser leaves on a downloaded file, so the installed copy starts
// without Windows' warning about files from the Internet.
void remove_download_mark(const wchar_t* path);
// Renames within one folder, replacing what is there; 0 on success, -1 otherwise.
int move_file_replacing(const wchar_t* from, const wchar_t* to);
void delete_file(const wchar_t* path);

uint32_t tick_count();
void pause_ms(uint32_t ms);
