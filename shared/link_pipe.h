// The pipe over which each window announces itself, names the program in front of its
// user and says its session ends, and the service acknowledges each message. Unlike the
// region, the pipe tells the service who wrote: the system names the client's process and
// session, so no window can speak for another.
#pragma once

#include <stdint.h>

#include "shared/control_block.h"

const wchar_t kLinkPipeName[] = L"\\\\.\\pipe\\QuellcoreLink";

// SYSTEM and the Administrators fully; interactive users may only read and write a
// connection and read its attributes (no FILE_CREATE_PIPE_INSTANCE, so nobody can serve
// beside the service); the medium label keeps low-integrity processes out.
// FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE.
const uint32_t kLinkPipeUserRights = 0x100083;
const wchar_t kLinkPipeSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100083;;;IU)S:(ML;;NWNRNX;;;ME)";

// The commands a message may carry, with the same bits as the region's.
const uint32_t kLinkCommands = CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED | CMD_SESSION_ENDING;

// One message of a window. The sender is the pipe's client, never a field.
struct LinkRequest {
  uint32_t sequence;  // the window's count of its messages, never 0; the reply echoes it
  uint32_t commands;  // kLinkCommands bits
  // The program in front, meaningful with CMD_FOREGROUND_CHANGED (0 for none).
  uint32_t foreground_pid;
  uint32_t foreground_created_low;
  uint32_t foreground_created_high;
};

// In a reply's status: what the service holds for the window after the message.
const uint32_t LINK_PROTECTED = 1u;    // the window is a protected monitor
const uint32_t LINK_CLAIM_TAKEN = 2u;  // its claim of the program in front stands

struct LinkReply {
  uint32_t sequence;
  uint32_t status;
};

static_assert(sizeof(LinkRequest) == 20, "LinkRequest must be 20 bytes");
static_assert(sizeof(LinkReply) == 8, "LinkReply must be 8 bytes");

// The pipe's bytes are any local user's: 0 with *out filled when they are exactly one
// message with a sequence and only known commands; -1 otherwise.
int read_link_request(const void* bytes, uint32_t size, LinkRequest* out);
// The claim a message carries.
ForegroundClaim link_request_claim(const LinkRequest* request);
