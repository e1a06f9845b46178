// SPDX-License-Identifier: GPL-3.0-or-later
// GTK, GLib and Xlib underneath the window: things wxWidgets does not offer on GTK.
#include "app/wx_native.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <utility>

// --- Commands on the menu bar --------------------------------------------------------------------

MenuBarCommand* MenuBarCommand::Insert(wxMenuBar* bar, int position, const char* label, bool checkable,
                                       std::function<void()> run, std::function<void(bool)> hover) {
  // The bar's own widget is the parent of any of its titles.
  if (bar == nullptr || bar->GetMenuCount() == 0) return nullptr;
  GtkWidget* shell = gtk_widget_get_parent(bar->GetMenu(0)->m_owner);
  if (shell == nullptr || !GTK_IS_MENU_SHELL(shell)) return nullptr;

  auto* self = new MenuBarCommand;
  self->checkable_ = checkable;
  self->run_ = std::move(run);
  self->hover_ = std::move(hover);
  // GTK marks the mnemonic with '_' where the program's texts use '&'.
  std::string gtk_label;
  for (const char* p = label; *p != 0; ++p) {
    if (*p == '&') {
      gtk_label += '_';
    } else {
      if (*p == '_') gtk_label += '_';
      gtk_label += *p;
      self->label_ += *p;
    }
  }
  GtkWidget* item = checkable ? gtk_check_menu_item_new_with_mnemonic(gtk_label.c_str())
                              : gtk_menu_item_new_with_mnemonic(gtk_label.c_str());
  self->item_ = item;
  g_object_ref_sink(item);
  self->activate_handler_ = g_signal_connect(item, "activate", G_CALLBACK(&MenuBarCommand::OnActivate), self);
  g_signal_connect(item, "button-release-event", G_CALLBACK(&MenuBarCommand::OnRelease), self);
  g_signal_connect(item, "select", G_CALLBACK(&MenuBarCommand::OnSelect), self);
  g_signal_connect(item, "deselect", G_CALLBACK(&MenuBarCommand::OnDeselect), self);
  gtk_menu_shell_insert(GTK_MENU_SHELL(shell), item, position);
  gtk_widget_show(item);
  return self;
}

MenuBarCommand::~MenuBarCommand() {
  if (item_ != nullptr) {
    g_signal_handlers_disconnect_by_data(item_, this);
    g_object_unref(item_);
  }
}

void MenuBarCommand::OnActivate(void*, void* self) {
  static_cast<MenuBarCommand*>(self)->Run();
}

int MenuBarCommand::OnRelease(void* widget, void* event, void* self) {
  // A quick click on a menu-bar title leaves GTK waiting for a second one (it treats the bar
  // as opened); a command on the bar runs on the release of the first.
  if (reinterpret_cast<GdkEventButton*>(event)->button != 1) return FALSE;
  GtkWidget* shell = gtk_widget_get_parent(static_cast<GtkWidget*>(widget));
  if (shell != nullptr && GTK_IS_MENU_SHELL(shell)) gtk_menu_shell_deactivate(GTK_MENU_SHELL(shell));
  static_cast<MenuBarCommand*>(self)->Run();
  return TRUE;
}

void MenuBarCommand::OnSelect(void*, void* self) {
  auto* c = static_cast<MenuBarCommand*>(self);
  if (c->hover_) c->hover_(true);
}

void MenuBarCommand::OnDeselect(void*, void* self) {
  auto* c = static_cast<MenuBarCommand*>(self);
  if (c->hover_) c->hover_(false);
}

void MenuBarCommand::Run() {
  if (running_) return;
  running_ = true;
  // A click toggles a check item's box by itself; put back what the program last set, the
  // command's update then sets it as the document says.
  SetCheck(checked_);
  if (run_) run_();
  running_ = false;
}

void MenuBarCommand::SetCheck(bool checked) {
  checked_ = checked;
  if (!checkable_) return;
  auto* check = GTK_CHECK_MENU_ITEM(item_);
  if (gtk_check_menu_item_get_active(check) == (checked ? TRUE : FALSE)) return;
  // Setting the box activates the item: that must not run the command again.
  g_signal_handler_block(item_, activate_handler_);
  gtk_check_menu_item_set_active(check, checked ? TRUE : FALSE);
  g_signal_handler_unblock(item_, activate_handler_);
}

wxRect MenuBarCommand::ScreenRect() const {
  auto* widget = GTK_WIDGET(item_);
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window == nullptr || !gtk_widget_get_mapped(widget)) return {};
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(window, &x, &y);
  return {x + a.x, y + a.y, a.width, a.height};
}

// --- Toolbar -------------------------------------------------------------------------------------------

void MakeToolBarCompact(wxToolBar*) {
  // The one toolbar of the program: buttons with one pixel around the image, no extra height.
  static bool installed = false;
  if (installed) return;
  installed = true;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css,
                                  "toolbar { padding: 0px; min-height: 0px; }\n"
                                  "toolbar button { padding: 2px; min-height: 0px; min-width: 0px; }\n"
                                  "toolbar separator { margin: 2px 4px; }\n",
                                  -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

namespace {

// The GtkToolbar at or under `widget` (the toolkit may wrap it in a box).
GtkWidget* FindToolbar(GtkWidget* widget) {
  if (widget == nullptr || GTK_IS_TOOLBAR(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* c = children; c != nullptr && found == nullptr; c = c->next)
    found = FindToolbar(static_cast<GtkWidget*>(c->data));
  g_list_free(children);
  return found;
}

}  // namespace

wxRect ToolScreenRect(wxToolBar* bar, int position) {
  GtkWidget* widget = FindToolbar(static_cast<GtkWidget*>(bar->GetHandle()));
  if (widget == nullptr) return {};
  GtkToolItem* item = gtk_toolbar_get_nth_item(GTK_TOOLBAR(widget), position);
  if (item == nullptr || !gtk_widget_get_mapped(GTK_WIDGET(item))) return {};
  GtkAllocation a;
  gtk_widget_get_allocation(GTK_WIDGET(item), &a);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(item)), &x, &y);
  return {x + a.x, y + a.y, a.width, a.height};
}

// --- First showing -------------------------------------------------------------------------------------

void RealizeBeforeShowing(wxTopLevelWindow* window) {
  // Shown unrealized, the window would first be mapped at a size of 2 x 1 pixels while the
  // toolkit waits for the window manager's frame sizes, and GTK complains about laying out a
  // menu bar in that; realized first, it is mapped at its own size and corrected afterwards.
  gtk_widget_realize(window->GetHandle());
}

// --- Escape ---------------------------------------------------------------------------------------------

namespace {

gboolean OnWindowEvent(GtkWidget*, GdkEvent* event, gpointer data) {
  if (event->type != GDK_KEY_PRESS || event->key.keyval != GDK_KEY_Escape) return FALSE;
  return (*static_cast<std::function<bool()>*>(data))() ? TRUE : FALSE;
}

void DeleteEscapeAction(gpointer data, GClosure*) {
  delete static_cast<std::function<bool()>*>(data);
}

}  // namespace

void OnEscapeKey(wxTopLevelWindow* window, std::function<bool()> on_escape) {
  // "event" comes before "key-press-event", to which the toolkit's own handler is connected.
  g_signal_connect_data(window->GetHandle(), "event", G_CALLBACK(&OnWindowEvent),
                        new std::function<bool()>(std::move(on_escape)), &DeleteEscapeAction,
                        GConnectFlags(0));
}

// --- Termination signals --------------------------------------------------------------------------

namespace {

std::function<void()>& SignalAction() {
  static std::function<void()> action;
  return action;
}

// GLib's signal source: the handler itself only writes to a wake-up pipe, and this runs from
// the event loop right after.
gboolean OnTerminationSignal(gpointer) {
  if (SignalAction()) SignalAction()();
  return G_SOURCE_CONTINUE;
}

}  // namespace

void WatchTerminationSignals(std::function<void()> on_signal) {
  SignalAction() = std::move(on_signal);
  // A hang-up (the terminal the window was started from closed, or a service manager's
  // "reload") ends the program as the other two do rather than cutting it off unsaved.
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, &OnTerminationSignal, nullptr);
}

void IgnoreUserSignals() {
  std::signal(SIGUSR1, SIG_IGN);
  std::signal(SIGUSR2, SIG_IGN);
}

// --- Loss of the display -------------------------------------------------------------------------

namespace {

struct DisplayLoss {
  std::function<void()> save;
  std::string message;
  int exit_code = 1;
  bool handling = false;
};

DisplayLoss& Loss() {
  static DisplayLoss loss;
  return loss;
}

// Xlib calls this when the connection breaks; it must not return (Xlib would end the process
// without our saving). A second call while saving (a window touched on the way) ends at once.
int OnXIoError(Display*) {
  DisplayLoss& loss = Loss();
  if (!loss.handling) {
    loss.handling = true;
    if (loss.save) loss.save();
    std::fprintf(stderr, "%s\n", loss.message.c_str());
  }
  std::fflush(stderr);
  _exit(loss.exit_code);
}

}  // namespace

void OnDisplayLost(std::function<void()> save, std::string message, int exit_code) {
  Loss().save = std::move(save);
  Loss().message = std::move(message);
  Loss().exit_code = exit_code;
  GdkDisplay* display = gdk_display_get_default();
  if (display != nullptr && GDK_IS_X11_DISPLAY(display)) XSetIOErrorHandler(&OnXIoError);
}
