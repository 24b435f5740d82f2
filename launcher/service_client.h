// Talks to the service control manager about the one service "QuellcoreSvc".
// Actions return 0 for success and -1 for failure; queries -1 for yes and 0 for no.
#pragma once

int install_service();
int start_service_and_wait();
void stop_service_and_wait();
int service_is_start_pending();
int service_is_running();
// Puts right what an installer may have registered differently from install_service: an
// unquoted path with a space, missing failure actions. 0 when nothing was left to correct.
int repair_service_registration();
