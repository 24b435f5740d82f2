// Which processes the throttle never touches: the service itself, the monitors that
// announced themselves, and the program in front that the monitor names. Anyone can
// write an announcement into the region, so only a process that runs the service's own
// executable image is taken at its word.
#include "engine/engine.h"
#include "engine/platform.h"

namespace {

const uint32_t kNoProcess = 0;
const uint32_t kServicesSession = 0;

// 0 with the record of the process the system lists under this id now.
int listed_process(uint32_t pid, PlatformProcessInfo* process) {
  PlatformHandle list = platform_open_process_list();
  if (list == nullptr) return -1;
  int found = -1;
  PlatformProcessInfo info;
  for (int more = platform_first_process(list, &info); more == 0 && found != 0;
       more = platform_next_process(list, &info)) {
    if (info.process_id == pid) {
      *process = info;
      found = 0;
    }
  }
  platform_close(list);
  return found;
}

int listed_creation_time(uint32_t pid, uint64_t* creation_time) {
  PlatformProcessInfo info;
  if (listed_process(pid, &info) != 0) return -1;
  *creation_time = info.creation_time;
  return 0;
}

}  // namespace

int protect_own_process(uint32_t pid) {
  uint64_t creation_time = 0;
  if (pid == kNoProcess || listed_creation_time(pid, &creation_time) != 0) return -1;
  protect_process(pid, creation_time);
  return 0;
}

int protect_monitor(uint32_t pid) {
  uint64_t creation_time = 0;
  // The time first: should the id be reused before the image check, the entry names
  // the process that was checked, which no longer runs, and protects nobody.
  if (pid == kNoProcess || listed_creation_time(pid, &creation_time) != 0) return -1;
  if (!platform_runs_own_image(pid)) return -1;
  protect_process(pid, creation_time);
  return 0;
}

int spare_program_in_front(uint32_t pid, uint64_t creation_time) {
  // Another program is in front now, whether or not it can be spared.
  forget_program_in_front();
  if (pid == kNoProcess || g_engine.protected_pids.protected_count <= kFirstMonitorEntry) return -1;
  PlatformProcessInfo info;
  if (listed_process(pid, &info) != 0 || info.creation_time != creation_time) return -1;
  // Session 0 has no desktop, so nothing there is in front of anyone; any user can
  // write a claim, and it must not shield a busy service.
  if (info.session_id == kServicesSession) return -1;
  g_engine.spared.pid = pid;
  g_engine.spared.creation_time = creation_time;
  return 0;
}
