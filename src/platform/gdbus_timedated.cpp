#include "platform/gdbus_timedated.h"

#include <gio/gio.h>

#include <utility>

namespace {

constexpr const char* Service = "org.freedesktop.timedate1";
constexpr const char* ObjectPath = "/org/freedesktop/timedate1";

}  // namespace

ClockWriteOutcome OutcomeOfBusError(const std::string& name) {
  if (name == "org.freedesktop.timedate1.AutomaticTimeSyncEnabled") return ClockWriteOutcome::AutomaticSync;
  if (name == "org.freedesktop.DBus.Error.AccessDenied" ||
      name == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired" ||
      name == "org.freedesktop.PolicyKit1.Error.NotAuthorized" ||
      name == "org.freedesktop.PolicyKit1.Error.Cancelled")
    return ClockWriteOutcome::NoPermission;
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
      name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
      name == "org.freedesktop.DBus.Error.UnknownObject" ||
      name == "org.freedesktop.DBus.Error.UnknownMethod" ||
      name.rfind("org.freedesktop.DBus.Error.Spawn.", 0) == 0)
    return ClockWriteOutcome::NoService;
  return ClockWriteOutcome::Failed;
}

// Lives until GIO has called back for it, even when the service has gone (then `cancelled`
// and nobody is told).
struct TimedatedClockService::Request {
  GCancellable* cancellable = g_cancellable_new();
  std::function<void(const ClockWriteResult&)> done;
  ClockWriteResult result;
  bool interactive = true;
  bool finished = false;
  ~Request() { g_object_unref(cancellable); }

  void Finish(ClockWriteOutcome outcome, std::string detail) {
    finished = true;
    if (g_cancellable_is_cancelled(cancellable)) return;
    result.outcome = outcome;
    result.detail = std::move(detail);
    if (done) done(result);
  }

  void FinishWithError(GError* error) {
    ClockWriteOutcome outcome = ClockWriteOutcome::Failed;
    std::string detail;
    if (error != nullptr) {
      if (gchar* remote = g_dbus_error_get_remote_error(error)) {
        outcome = OutcomeOfBusError(remote);
        g_free(remote);
        g_dbus_error_strip_remote_error(error);
      } else if (error->domain == G_IO_ERROR || error->domain == G_DBUS_ERROR) {
        // No system bus at all, or it would not let us in.
        outcome = error->domain == G_IO_ERROR && error->code == G_IO_ERROR_TIMED_OUT
                      ? ClockWriteOutcome::Failed
                      : ClockWriteOutcome::NoService;
      }
      detail = error->message != nullptr ? error->message : "";
    }
    Finish(outcome, detail);
  }
};

namespace {

using Request = TimedatedClockService::Request;

void OnReply(GObject* source, GAsyncResult* res, gpointer user_data) {
  auto* holder = static_cast<std::shared_ptr<Request>*>(user_data);
  std::shared_ptr<Request> request = *holder;
  delete holder;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
  if (reply != nullptr) {
    g_variant_unref(reply);
    request->Finish(ClockWriteOutcome::Written, "");
  } else {
    request->FinishWithError(error);
    g_error_free(error);
  }
}

void OnBus(GObject*, GAsyncResult* res, gpointer user_data) {
  auto* holder = static_cast<std::shared_ptr<Request>*>(user_data);
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(res, &error);
  if (bus == nullptr) {
    std::shared_ptr<Request> request = *holder;
    delete holder;
    request->FinishWithError(error);
    g_error_free(error);
    return;
  }
  Request& r = **holder;
  g_dbus_connection_call(
      bus, Service, ObjectPath, Service, "SetTime",
      g_variant_new("(xbb)", static_cast<gint64>(r.result.step_usec), TRUE, r.interactive ? TRUE : FALSE),
      nullptr, r.interactive ? G_DBUS_CALL_FLAGS_ALLOW_INTERACTIVE_AUTHORIZATION : G_DBUS_CALL_FLAGS_NONE,
      TimedatedClockService::AnswerTimeoutMs, r.cancellable, &OnReply, holder);
  g_object_unref(bus);
}

}  // namespace

TimedatedClockService::TimedatedClockService(bool interactive) : interactive_(interactive) {}

TimedatedClockService::~TimedatedClockService() {
  if (pending_) g_cancellable_cancel(pending_->cancellable);
}

bool TimedatedClockService::RequestStep(int64_t step_usec,
                                        std::function<void(const ClockWriteResult&)> done) {
  if (pending_ && !pending_->finished) return false;
  // A password refused (or a prompt dismissed) is not asked for again every minute: later
  // requests in this run only succeed where the policy allows them without one.
  if (pending_ && pending_->result.outcome == ClockWriteOutcome::NoPermission) interactive_ = false;
  pending_ = std::make_shared<Request>();
  pending_->done = std::move(done);
  pending_->interactive = interactive_;
  pending_->result.step_usec = step_usec;
  pending_->result.through_service = true;
  // Relative: the step is applied to the clock as it reads when the service carries it out.
  g_bus_get(G_BUS_TYPE_SYSTEM, pending_->cancellable, &OnBus, new std::shared_ptr<Request>(pending_));
  return true;
}
