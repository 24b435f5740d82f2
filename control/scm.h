// The service control manager calls beneath the service control client, the file calls
// that put the service's copy in place, and the clock its waits run on. The Win32 layer
// supplies them; host tests substitute a scripted manager that enforces Windows' default
// security.
#pragma once

#include <stdint.h>

typedef void* ScmHandle;
typedef void* FileHandle;

// The fields of SERVICE_STATUS_PROCESS that the client follows.
struct ServiceProgress {
  uint32_t state;
  uint32_t checkpoint;
  uint32_t wait_hint;
  uint32_t process_id;  // 0 while no service process runs
  // How the last run ended: the service's own code when it reported one, else the
  // manager's (1067 when the process died without reporting STOPPED).
  uint32_t exit_code;
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
// Restarts after each failure, the n-th after restart_delays_ms[n] (the last repeated),
// the count starting again after reset_seconds without one; 0 on success, -1 otherwise.
int scm_set_failure_actions(ScmHandle service, const uint32_t* restart_delays_ms, uint32_t count,
                            uint32_t reset_seconds);
// Replaces the service's access list with kServiceSecurity; 0 on success, -1 otherwise.
int scm_set_service_security(ScmHandle service);
// Whether the service's own registry key records that its registration was set up; the
// mark goes with the key when the service is removed.
bool scm_registration_recorded();
// 0 once recorded, -1 otherwise.
int scm_record_registration();
// 0 and *out filled on success, -1 otherwise.
int scm_query(ScmHandle service, ServiceProgress* out);
// 0 when the start was accepted, kScmDenied without the right, kScmFailed otherwise.
int scm_start(ScmHandle service);
// Sends STOP; the status the manager returns lands in *out. 0 when sent, -1 otherwise.
int scm_send_stop(ScmHandle service, ServiceProgress* out);

// Closes the service control manager handle it holds, on every path out of a scope.
struct ScmHolder {
  ScmHandle handle;
  explicit ScmHolder(ScmHandle held = nullptr) : handle(held) {}
  ~ScmHolder() {
    if (handle != nullptr) scm_close(handle);
  }
  ScmHolder(const ScmHolder&) = delete;
  ScmHolder& operator=(const ScmHolder&) = delete;
};

// The executable's full path; the number of characters, 0 on failure, `capacity` or
// more when it did not fit.
uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity);
// The machine's Program Files folder for this build; the number of characters, 0 on
// failure (also when it does not fit).
uint32_t program_files_folder(wchar_t* buffer, uint32_t capacity);
// Makes the folder; an existing one is fine, and a missing one fails the copy after it.
void make_folder(const wchar_t* path);
// This executable's own file, opened so that nobody may write it while the handle is open
// (it may be renamed or deleted, as an update does); null on failure.
FileHandle open_own_image();
// A file opened for reading, with the same sharing; null on failure.
FileHandle open_file_to_read(const wchar_t* path);
// A new file (an existing one is replaced) for writing; null on failure.
FileHandle create_file_to_write(const wchar_t* path);
// Reads up to `capacity` bytes at `offset`: how many, 0 at the end, -1 on failure.
int32_t read_file_at(FileHandle file, uint64_t offset, uint8_t* buffer, uint32_t capacity);
// 0 when all `length` bytes were written, -1 otherwise.
int write_file(FileHandle file, const uint8_t* bytes, uint32_t length);
void close_file(FileHandle file);
// The version in the executable's version resource (file version, most significant word
// first); `path` null for this executable. 0 on success, -1 when it has none or cannot be read.
int read_file_version(const wchar_t* path, uint64_t* version);
// Renames within one folder, replacing what is there; 0 on success, -1 otherwise.
int move_file_replacing(const wchar_t* from, const wchar_t* to);
void delete_file(const wchar_t* path);
// The Start-menu shortcut "Quellcore" for every user, to the installed copy; 0 on success.
int make_start_menu_shortcut(const wchar_t* target, const wchar_t* folder);
// The same in the common Startup folder, minimized, so the copy starts at every sign-in.
int make_startup_shortcut(const wchar_t* target, const wchar_t* folder);

// Closes the file it holds, on every path out of a scope.
struct FileHolder {
  FileHandle handle;
  explicit FileHolder(FileHandle held = nullptr) : handle(held) {}
  ~FileHolder() {
    if (handle != nullptr) close_file(handle);
  }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
};

uint32_t tick_count();
void pause_ms(uint32_t ms);
