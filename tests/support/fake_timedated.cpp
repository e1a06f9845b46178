// A stand-in for systemd-timedated on a private bus, for tests: owns org.freedesktop.timedate1
// on the bus named by DBUS_SYSTEM_BUS_ADDRESS and answers SetTime(x usec, b relative,
// b interactive) as told, without ever touching a clock.
//
//   fake_timedated LOG ANSWERS
//
// ANSWERS is a comma-separated list, one per call, the last one repeated: "ok" (done), "ntp"
// (refused: automatic time synchronisation on), "denied" (polkit said no), "hang" (no answer). Each call is
// appended to LOG as "SetTime usec=U relative=R interactive=I answer=A". "ready" is printed on standard
// output once the name is owned.
#include <gio/gio.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const Introspection =
    "<node><interface name='org.freedesktop.timedate1'>"
    "<method name='SetTime'><arg type='x' direction='in'/><arg type='b' direction='in'/>"
    "<arg type='b' direction='in'/></method>"
    "</interface></node>";

std::string log_path;
std::vector<std::string> answers;
size_t calls = 0;

void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  if (std::string(method) != "SetTime") {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                               method);
    return;
  }
  gint64 usec = 0;
  gboolean relative = FALSE, interactive = FALSE;
  g_variant_get(parameters, "(xbb)", &usec, &relative, &interactive);
  const std::string answer = answers.empty() ? "ok" : answers[std::min(calls, answers.size() - 1)];
  ++calls;
  if (FILE* f = std::fopen(log_path.c_str(), "a")) {
    std::fprintf(f, "SetTime usec=%lld relative=%d interactive=%d answer=%s\n", static_cast<long long>(usec),
                 relative ? 1 : 0, interactive ? 1 : 0, answer.c_str());
    std::fclose(f);
  }
  if (answer == "hang") return;  // never answered: the caller gives up or goes away
  if (answer == "ntp")
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.timedate1.AutomaticTimeSyncEnabled",
                                               "Automatic time synchronization is enabled");
  else if (answer == "denied")
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                               "Access denied");
  else
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fake_timedated LOG ANSWERS\n");
    return 2;
  }
  log_path = argv[1];
  std::stringstream list(argv[2]);
  for (std::string a; std::getline(list, a, ',');) answers.push_back(a);
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
  if (bus == nullptr) {
    std::fprintf(stderr, "fake_timedated: no bus: %s\n", error->message);
    return 1;
  }
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(Introspection, nullptr);
  static const GDBusInterfaceVTable vtable = {&OnCall, nullptr, nullptr, {}};
  g_dbus_connection_register_object(bus, "/org/freedesktop/timedate1", node->interfaces[0], &vtable, nullptr,
                                    nullptr, &error);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.freedesktop.timedate1", 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  guint32 result = 0;
  // A stand-in that has just quit may still hold the name for a moment: try for two seconds.
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (reply != nullptr) {
      g_variant_get(reply, "(u)", &result);
      g_variant_unref(reply);
      reply = nullptr;
    }
    if (result == 1) break;
    g_usleep(50000);
    g_clear_error(&error);
    reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                        "org.freedesktop.DBus", "RequestName",
                                        g_variant_new("(su)", "org.freedesktop.timedate1", 4u),
                                        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  }
  if (result != 1) {
    std::fprintf(stderr, "fake_timedated: cannot own the name\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
  return 0;
}
