// The installer's plan, above the installed copy's files and the service manager's side:
// a copy started from anywhere but the installed one installs or updates that copy as it
// may, then hands over to it, so the window the user keeps runs the file the service trusts.
#pragma once

#include <stdint.h>

#include "control/installed_copy.h"
#include "control/service_client.h"

// 0 when it created the service now; kRefusedForRights when the service is missing and
// this account may not install it; -1 otherwise (it exists, or something failed). A copy
// started from elsewhere puts itself in Program Files first.
int install_service();
// What a user's start finds.
struct StartFacts {
  bool runs_installed_copy;
  int32_t service;  // kServiceMissing, kServiceFound, kServiceProbeRefused or kServiceNotAsked
  int32_t version;  // this copy against the installed one; meaningful for another copy only
  bool window_open;  // a monitor window already runs on this desktop
  bool may_install;  // this account may install, or replace the installed copy
};

// What comes after the service work.
const int32_t kThenOpenWindow = 0;
const int32_t kThenHandOver = 1;      // start the installed copy, end once its window is up
const int32_t kThenFrontAndExit = 2;  // bring the open window to the front and end

// What a user's start does, in this order.
struct StartPlan {
  bool install;       // put this copy in place when it is another, register it, start it
  bool replace;       // stop the service, put this newer copy in place, start it again
  bool start;         // start the service when it does not run
  bool ask_approval;  // the window asks for an administrator's approval to do the above
  int32_t then;
};
StartPlan plan_user_start(const StartFacts* facts);

// Stops the service, puts this copy in place of the installed one and starts the service
// again; the old file is set aside, since a window may still run it, and removed when it
// can be. On any failure the old copy is put back. 0 on success.
int replace_installed_copy();
