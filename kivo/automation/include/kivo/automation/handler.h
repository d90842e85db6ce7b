#pragma once
// Answers automation requests on the UI thread, against the running application: its resources
// and actions, its operations, the action journal, the accessibility tree and the picture of
// its last paint.

#include <cstddef>
#include <deque>
#include <string>

#include <nlohmann/json.hpp>

#include "kivo/automation/protocol.h"
#include "kivo/ui/app.h"
#include "kivo/ui/application.h"
#include "kivo/ui/frame.h"

namespace kivo::doc {
class Document;
}

namespace kivo::automation {

// What the handler needs of the running program. Every call happens on the UI thread.
class Host {
 public:
  virtual ~Host() = default;
  virtual ui::Application& application() = 0;
  virtual ui::ActionHost& action_host() = 0;
  virtual doc::Document& document() = 0;
  // The context events and semantic actions are delivered with.
  virtual ui::EventContext event_context() = 0;
  // The last paint: its pixels and its accessibility tree.
  virtual const ui::FrameBuffer& frame() = 0;
  virtual void paint_now() = 0;
  // Makes sure the next turn of the loop paints.
  virtual void request_paint() = 0;
  // Commits edits still pending in the document and, when its heads moved, tells the
  // application (document changed), as the framework does after its own dispatches.
  virtual void report_changes() = 0;
};

// The caller named in the journal when a request names none.
inline constexpr std::string_view kDefaultCallerId = "kivo.automation";
inline constexpr std::string_view kDefaultCallerName = "Automation";

class RequestHandler {
 public:
  explicit RequestHandler(Host& host) : host_(host) {}

  // The reply for one request, without its id: {"ok": true, …} or an error reply.
  nlohmann::ordered_json handle(const Request& request);

  // Background invocations remembered for polling; older ones are forgotten beyond this.
  static constexpr std::size_t kMaxRunning = 64;

 private:
  nlohmann::ordered_json resources();
  nlohmann::ordered_json dispatch(const actions::EncodedAction& action, actions::context::CallerContext caller);
  nlohmann::ordered_json invoke(const command::Invoke& invoke);
  nlohmann::ordered_json poll(const command::Poll& poll);
  nlohmann::ordered_json journal(const command::Journal& journal);
  nlohmann::ordered_json tree();
  nlohmann::ordered_json semantic_action(const command::SemanticAction& action);
  nlohmann::ordered_json screenshot();

  // After a request that may have changed state: the document is reported and the next tree
  // or screenshot comes from a paint that shows the change.
  void changed();
  void paint_if_stale();

  Host& host_;
  std::deque<ui::InvocationId> running_;
  bool stale_ = false;
};

}  // namespace kivo::automation
