#pragma once
// The "remote-ssh" worker: owns one SSH connection from connect to disconnect.

#include <memory>
#include <optional>

#include "kivo/sync/channel.h"
#include "kivo/sync/slot.h"
#include "session/session_status.h"
#include "ssh/known_hosts.h"
#include "ssh/ssh_session.h"

namespace remote::ssh::detail {

// What the worker shares with the session handle.
struct WorkerLinks {
  std::shared_ptr<kivo::sync::Slot<session::SessionStatus>> status;
  std::shared_ptr<kivo::sync::Slot<std::optional<HostKeyCheck>>> observation;
  kivo::sync::Sender<OutputChunk> output;
  kivo::sync::Receiver<SshInput> input;
};

// Runs the whole session on the calling thread and returns when it is over.
void run_worker(SshConnectRequest request, WorkerLinks links);

}  // namespace remote::ssh::detail
