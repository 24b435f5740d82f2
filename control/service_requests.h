// A user's request to install, start or stop the service, from the window's buttons:
// carried out where this account may, handed to an administrator's approval where it may
// not. Each leaves the outcome to the Status page's next paint.
#pragma once

void install_service_or_ask(void* owner_window);
void start_service_or_ask(void* owner_window);
void stop_service_or_ask(void* owner_window);
