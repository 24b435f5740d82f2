// A scripted service control manager that grants rights as Windows' default security
// does, a file system that records what is done to it, and a fake clock that moves only
// when the client pauses or queries.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/scm.h"

// Who is asking. A UAC-filtered administrator holds the Administrators group for denial
// only, so the manager treats it as a standard user.
enum Account { STANDARD_USER, FILTERED_ADMIN, ELEVATED_ADMIN, LOCAL_SYSTEM };

const uint32_t STOPPED = 1, PENDING = 2, STOP_PENDING = 3, RUNNING = 4;

// Windows' rights on the manager and on a service created with its default security.
const uint32_t kManagerAllAccess = 0xF003F;
const uint32_t kManagerUserRights = 0x20015;  // connect, enumerate, lock status, read control
const uint32_t kServiceAllAccess = 0xF01FF;
const uint32_t kDefaultSystemRights = 0x201FD;
const uint32_t kDefaultInteractiveRights = 0x2018D;  // query rights only
const uint32_t kOwnerRights = 0x60000;               // read control, write DAC

struct FakeScm {
  Account account = ELEVATED_ADMIN;
  // The service as the manager has it.
  bool exists = true;
  uint32_t state = STOPPED;
  uint32_t process_id = 0;
  bool security_set = false;  // Quellcore's access list, else Windows' default
  bool failure_actions = false;
  bool registration_recorded = false;  // the mark in the service's own key
  std::wstring registered;  // the command line; empty: cannot be read
  uint32_t next_process_id = 500;
  // Run when a start is accepted and no query script is given: the new service process's
  // own start-up, as LocalSystem.
  std::function<void()> on_service_start;
  // Elevation: the user's answer to Windows' prompt, and what the elevated copy of the
  // executable does once approved (run as an elevated administrator).
  bool user_declines = false;
  std::function<void()> elevated_copy;
  // Script: failures beyond missing rights, and answers for the waits.
  bool manager_fails = false;
  bool create_fails = false;
  bool start_fails = false;
  bool stop_fails = false;
  bool set_security_fails = false;
  std::vector<ServiceProgress> queries;  // when given, the successive answers; the last repeats
  int query_fails_at = -1;
  ServiceProgress stop_reply = {STOP_PENDING, 1, 0, 0};
  std::wstring path = L"C:\\Quellcore\\quellcore.exe";
  std::wstring program_files = L"C:\\Program Files";  // empty: the registry has none
  // The files: this executable's own image, what it reads now (a test may change it after
  // the start), and every other file by its path.
  std::string image = "quellcore";
  std::map<std::wstring, std::string> files;
  uint64_t own_version = 5;
  uint64_t installed_version = 5;  // of any other file that exists
  bool pin_fails = false;
  bool copy_fails = false;  // the staging file cannot be written
  bool move_fails = false;
  bool moves_corrupt = false;  // what a move puts in place differs from what it moved
  bool change_fails = false;
  bool record_fails = false;
  uint32_t now = 0;
  uint32_t query_cost_ms = 0;
  // Record.
  int open_handles = 0;
  std::vector<uint32_t> manager_access;
  std::vector<uint32_t> service_access;
  std::vector<uint32_t> refused_access;  // what was asked for and not granted
  // Every request of a process other than the service itself: manager (0) or service (1).
  struct Request {
    int service;
    uint32_t access;
  };
  std::vector<Request> user_requests;
  std::vector<uint32_t> pauses;
  int queries_made = 0;
  int starts = 0;
  int stops_sent = 0;
  bool created = false;
  std::vector<std::wstring> file_ops;
  int open_files = 0;
  std::wstring changed_command_line;
  int failure_actions_set = 0;
  std::vector<uint32_t> restart_delays;
  uint32_t reset_seconds = 0;
  int security_writes = 0;
  int elevation_requests = 0;
};

extern FakeScm g_scm;

// Back to an empty script, the service installed and stopped, an elevated administrator asking.
void fake_scm_reset();
// What the account is granted on the manager and on the service now.
uint32_t manager_rights(Account account);
uint32_t service_rights(Account account);
