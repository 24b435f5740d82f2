// The service's end of the link pipe: one instance per connected window and one that
// listens, all overlapped, looked at once per cycle and never waited on, so no client
// can stall the cycle.
#include <windows.h>
#include <sddl.h>

#include "engine/engine.h"
#include "service/service.h"

namespace {

// As many connections as the protected list has monitor places; a session may hold as
// many as it may have monitors, so no session takes another's connections.
const int kPipeInstances = kProtectedCapacity;
const int kMessagesPerVisit = 4;  // a window that floods is heard again next cycle
const DWORD kPipeBufferBytes = 256;

enum InstanceState { kUnused = 0, kListening, kConnected };

struct PipeInstance {
  HANDLE pipe;
  HANDLE event;
  OVERLAPPED io;
  int state;
  int reading;  // a read is under way into `incoming`
  uint32_t client_pid;
  uint32_t client_session;
  uint8_t incoming[sizeof(LinkRequest) + 1];  // one byte more tells a longer message
};

PipeInstance g_instances[kPipeInstances];
SECURITY_ATTRIBUTES g_security;
bool g_pipe_ready = false;

void close_instance(PipeInstance* instance) {
  CancelIo(instance->pipe);
  DWORD unused = 0;
  if (instance->reading) GetOverlappedResult(instance->pipe, &instance->io, &unused, TRUE);
  CloseHandle(instance->pipe);
  CloseHandle(instance->event);
  *instance = PipeInstance{};
}

void start_io(PipeInstance* instance) {
  ResetEvent(instance->event);
  ZeroMemory(&instance->io, sizeof(instance->io));
  instance->io.hEvent = instance->event;
}

// Starts waiting for a client; the instance is closed when it cannot.
void listen(PipeInstance* instance) {
  start_io(instance);
  instance->state = kListening;
  instance->reading = 0;
  if (ConnectNamedPipe(instance->pipe, &instance->io)) return;
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return;
  if (error == ERROR_PIPE_CONNECTED) {
    SetEvent(instance->event);
    return;
  }
  close_instance(instance);
}

bool make_instance(PipeInstance* instance, bool first) {
  const DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  // Remote clients are refused: only this machine's windows speak to the service.
  const DWORD pipe_mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  HANDLE pipe = CreateNamedPipeW(kLinkPipeName, open_mode, pipe_mode, kPipeInstances, kPipeBufferBytes,
                                 kPipeBufferBytes, 0, &g_security);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    CloseHandle(pipe);
    return false;
  }
  *instance = PipeInstance{};
  instance->pipe = pipe;
  instance->event = event;
  listen(instance);
  return instance->state != kUnused;
}

// Keeps one instance listening while there is room.
void keep_one_listening() {
  PipeInstance* free_place = nullptr;
  for (int i = 0; i < kPipeInstances; ++i) {
    if (g_instances[i].state == kListening) return;
    if (g_instances[i].state == kUnused && free_place == nullptr) free_place = &g_instances[i];
  }
  if (free_place != nullptr) make_instance(free_place, false);
}

int connections_of_session(uint32_t session) {
  int count = 0;
  for (int i = 0; i < kPipeInstances; ++i) {
    count += g_instances[i].state == kConnected && g_instances[i].client_session == session;
  }
  return count;
}

bool connected_elsewhere(const PipeInstance* instance) {
  for (int i = 0; i < kPipeInstances; ++i) {
    const PipeInstance* other = &g_instances[i];
    if (other != instance && other->state == kConnected && other->client_pid == instance->client_pid) return true;
  }
  return false;
}

// The client is dropped: its claim goes, and the instance listens again.
void drop_client(PipeInstance* instance) {
  if (instance->reading) {
    CancelIo(instance->pipe);
    DWORD unused = 0;
    GetOverlappedResult(instance->pipe, &instance->io, &unused, TRUE);
  }
  instance->reading = 0;
  // A window that connected again keeps its claim: only its last connection's end counts.
  if (instance->state == kConnected && !connected_elsewhere(instance)) link_client_gone(instance->client_pid);
  DisconnectNamedPipe(instance->pipe);
  listen(instance);
}

void take_connection(PipeInstance* instance) {
  ULONG pid = 0, session = 0;
  DWORD unused = 0;
  if (!GetOverlappedResult(instance->pipe, &instance->io, &unused, FALSE) ||
      !GetNamedPipeClientProcessId(instance->pipe, &pid) || !GetNamedPipeClientSessionId(instance->pipe, &session) ||
      pid == 0 || connections_of_session(session) >= kMonitorEntriesPerSession) {
    DisconnectNamedPipe(instance->pipe);
    listen(instance);
    return;
  }
  instance->state = kConnected;
  instance->client_pid = pid;
  instance->client_session = session;
}

// The reply fits the pipe's buffer unless the client reads none of them; such a client
// is dropped rather than waited for.
bool answer(PipeInstance* instance, const LinkReply* reply) {
  OVERLAPPED io = {};
  io.hEvent = instance->event;
  ResetEvent(instance->event);
  DWORD written = 0;
  if (WriteFile(instance->pipe, reply, sizeof(*reply), &written, &io)) return written == sizeof(*reply);
  if (GetLastError() != ERROR_IO_PENDING) return false;
  if (GetOverlappedResult(instance->pipe, &io, &written, FALSE)) return written == sizeof(*reply);
  CancelIo(instance->pipe);
  GetOverlappedResult(instance->pipe, &io, &written, TRUE);
  return false;
}

// Serves what one connected client sent; the count of messages, or -1 once it is dropped.
int serve_client(PipeInstance* instance) {
  int served = 0;
  while (served < kMessagesPerVisit) {
    DWORD got = 0;
    if (!instance->reading) {
      start_io(instance);
      instance->reading = 1;
      if (!ReadFile(instance->pipe, instance->incoming, sizeof(instance->incoming), &got, &instance->io) &&
          GetLastError() != ERROR_IO_PENDING) {
        instance->reading = 0;
        drop_client(instance);
        return -1;
      }
    }
    if (!GetOverlappedResult(instance->pipe, &instance->io, &got, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return served;
      // Gone, or a message longer than any the windows send (ERROR_MORE_DATA).
      instance->reading = 0;
      drop_client(instance);
      return -1;
    }
    instance->reading = 0;
    LinkRequest request;
    if (read_link_request(instance->incoming, got, &request) != 0) {
      drop_client(instance);
      return -1;
    }
    const LinkReply reply = serve_link_request(&request, instance->client_pid, instance->client_session);
    ++served;
    if (!answer(instance, &reply)) {
      drop_client(instance);
      return -1;
    }
  }
  return served;
}

}  // namespace

int open_link_pipe() {
  g_security.nLength = sizeof(g_security);
  g_security.bInheritHandle = FALSE;
  g_security.lpSecurityDescriptor = nullptr;
  // Kept for the process's life: every later instance is made with it.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLinkPipeSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return -1;
  }
  g_security.lpSecurityDescriptor = descriptor;
  g_pipe_ready = make_instance(&g_instances[0], true);
  return g_pipe_ready ? 0 : -1;
}

int serve_link_pipe() {
  if (!g_pipe_ready) return 0;
  int served = 0;
  for (int i = 0; i < kPipeInstances; ++i) {
    PipeInstance* instance = &g_instances[i];
    if (instance->state == kListening && WaitForSingleObject(instance->event, 0) == WAIT_OBJECT_0) {
      take_connection(instance);
    }
    if (instance->state == kConnected) {
      const int count = serve_client(instance);
      if (count > 0) served += count;
    }
  }
  keep_one_listening();
  return served;
}
