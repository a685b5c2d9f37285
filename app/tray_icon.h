// TTrayIcon: the notification-area icon. It holds the hint (at most 63
// characters), the index of one of two images, whether it is in the tray, and
// the popup menu. Where the session bus has a StatusNotifierItem host (today's
// GNOME, KDE Plasma and Wayland panels), the icon is a StatusNotifierItem: the
// hint is its title, the images its icons, the menu its menu. Elsewhere, and
// whenever that host goes away, it is a GtkStatusIcon (XEmbed tray): the hint
// is its tooltip, a double click of any button restores the application and
// releasing the right button pops the menu up. Minimize/Restore hide and bring
// back the application's main window and its taskbar entry. User-interface
// thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/glib_handles.h"

namespace veltrane {

class TrayNotifierItem;

class TTrayIcon {
 public:
  static constexpr std::size_t kMaxHint = 63;

  // `mainWindow` is the window Minimize and Restore act on; `menu` is popped up
  // on a right-button release. Both stay owned by the caller.
  TTrayIcon(GtkWindow* mainWindow, GtkMenu* menu);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  void SetHint(const std::string& text);
  const std::string& Hint() const { return hint_; }
  void SetIconIndex(int index);
  int IconIndex() const { return iconIndex_; }
  void SetVisible(bool visible);
  bool Visible() const { return visible_; }

  void Minimize();
  void Restore();

  // Fired at the end of Restore().
  std::function<void()> OnRestore;

  // What the tray's mouse messages do.
  void DoDblClick() { Restore(); }
  void DoMouseUp(guint button);
  void ShowMenu();

  // Where the icon is shown now.
  enum class Shown { Nowhere, NotifierItem, StatusIcon };
  Shown ShownAs() const;

 private:
  void ShowWhereHosted();

  GtkWindow* mainWindow_;
  GtkMenu* menu_;
  GObjectPtr<GtkStatusIcon> icon_;
  GObjectPtr<GdkPixbuf> images_[2];
  std::unique_ptr<TrayNotifierItem> item_;  // null without a session bus
  std::string hint_;
  int iconIndex_ = 0;
  bool visible_ = false;
};

// The two 16 x 16 tray images: 0 idle (a grey envelope), 1 running (the same
// envelope in green with a send arrow). The caller owns the result.
GObjectPtr<GdkPixbuf> DrawTrayImage(int index);

}  // namespace veltrane
