// The operating-system operations the engine uses, and nothing else. The Windows build
// implements them in platform_win32.cpp; host tests link a scripted substitute.
#pragma once

#include <stdint.h>

// An open process, thread or list; 0 means none (every failed open yields 0).
typedef void* PlatformHandle;

// A 64-bit count of 100-ns units in two 32-bit halves, as the system hands it over.
struct PlatformTime {
  uint32_t low;
  uint32_t high;
};

struct PlatformThreadEntry {
  uint32_t thread_id;
  uint32_t owner_process_id;
};

// Returned by suspend/resume when the call failed.
const uint32_t kPlatformSuspendFailed = 0xFFFFFFFFu;

// One process as the system lists it, with its cumulative times taken at the same moment.
struct PlatformProcessInfo {
  uint32_t process_id;
  uint64_t creation_time;  // 100-ns units; with the id it names one process, not a reused id
  PlatformTime kernel;
  PlatformTime user;
  // From the same record as the creation time, so it is this process's and not that of
  // a later one under the same id. Session 0 holds the services, and no one's desktop.
  uint32_t session_id;
  // The process that started it, as it was then: the id may since name a newer process,
  // or nobody, once the starter has ended.
  uint32_t parent_process_id;
};

// A list of every process and its times at one moment; 0 on failure. One list at a time.
PlatformHandle platform_open_process_list();
// 0 and the first/next process; -1 at the end of the list or on failure.
int platform_first_process(PlatformHandle list, PlatformProcessInfo* info);
int platform_next_process(PlatformHandle list, PlatformProcessInfo* info);

// What a process is to the throttle, told from the process itself.
const int kProcessOrdinary = 0;
// Marked critical by the system, or one of the system's own programs by where it lives.
const int kProcessSystem = 1;
// Cannot be opened to check who it is.
const int kProcessUnknown = 2;

// One of the values above. Opens the process only to read its flags and image path.
int platform_process_class(uint32_t process_id);

// Whether the process's token carries UI Access, which Windows grants the assistive
// technology that drives other programs' input (screen readers, on-screen keyboards,
// magnifiers): 1 when it does, 0 when it does not, -1 when the token cannot be read.
int platform_has_ui_access(uint32_t process_id);

// 1 when the process runs the same executable image as this process (the full paths,
// compared without regard to case), 0 when not or when it cannot be told.
int platform_runs_own_image(uint32_t process_id);

// One thread the duty cycle suspends, as the crash record keeps it: after a crash the
// next start resumes it only if its process still has this creation time.
struct SuspensionRecord {
  uint32_t process_id;
  uint32_t thread_id;
  uint64_t creation_time;
};

// The crash record lives in memory only (it is gone at reboot) and outlives the
// service's process. Saving replaces the whole record; 0 on success.
int platform_save_suspension_record(const SuspensionRecord* threads, int32_t count);
// Reads up to `capacity` threads; the number read, 0 when there is no record.
int32_t platform_load_suspension_record(SuspensionRecord* threads, int32_t capacity);
void platform_clear_suspension_record();

// Milliseconds since start, wrapping at 2^32.
uint32_t platform_tick_count();

// Every thread as the process list last taken recorded them (each process record carries
// its threads, so no second system-wide list is taken); 0 when no list was taken. An id
// in it may since name another thread: a caller checks the owner of what it opens.
PlatformHandle platform_open_thread_list();
// 0 and the first/next entry; -1 at the end of the list or on failure.
int platform_first_thread(PlatformHandle list, PlatformThreadEntry* entry);
int platform_next_thread(PlatformHandle list, PlatformThreadEntry* entry);

// A handle that can suspend and resume the thread and tell its process; 0 when it cannot
// be opened.
PlatformHandle platform_open_thread(uint32_t thread_id);
// The id of the process the opened thread belongs to now; 0 when it cannot be told.
uint32_t platform_thread_process_id(PlatformHandle thread);

// Opens the process for as long as the throttle holds it: while the handle is open its id
// cannot pass to a newer process. Only limited query rights and waiting are asked for.
// 0 when it cannot be opened, or when its creation time is not `creation_time` (the id
// already names another process).
PlatformHandle platform_open_process(uint32_t process_id, uint64_t creation_time);
// The previous suspend count, or kPlatformSuspendFailed.
uint32_t platform_suspend_thread(PlatformHandle thread);
uint32_t platform_resume_thread(PlatformHandle thread);

// Releases any handle above; 0 is ignored.
void platform_close(PlatformHandle handle);
void platform_sleep(uint32_t ms);
// The duty cycle's hold: sleeps up to `ms`, less when the service is told the system is
// shutting down. 1 when it was cut short, else 0.
int platform_hold(uint32_t ms);
