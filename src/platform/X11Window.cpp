#include "platform/X11Window.h"

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/XcbConnection.h"

namespace tandor {

namespace {

struct ReplyFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, ReplyFree>;

// How deep below a frame of a window manager the program's own window is looked for.
constexpr int ClientSearchDepth = 3;
// Longest title or list read, in 32-bit units.
constexpr std::uint32_t PropertyLength = 4096;

struct Atoms {
  xcb_atom_t ClientList = XCB_ATOM_NONE;
  xcb_atom_t WmName = XCB_ATOM_NONE;
  xcb_atom_t Utf8String = XCB_ATOM_NONE;
  xcb_atom_t WindowType = XCB_ATOM_NONE;
  xcb_atom_t WindowTypeDialog = XCB_ATOM_NONE;
  xcb_atom_t WmState = XCB_ATOM_NONE;
};

// Atoms nobody has created yet stay XCB_ATOM_NONE: then no window carries them either.
Atoms InternAtoms(xcb_connection_t* connection) {
  constexpr std::array<std::string_view, 6> names = {
      "_NET_CLIENT_LIST",           "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_WINDOW_TYPE",
      "_NET_WM_WINDOW_TYPE_DIALOG", "WM_STATE"};
  std::array<xcb_intern_atom_cookie_t, names.size()> cookies;
  for (std::size_t i = 0; i < names.size(); ++i)
    cookies[i] = xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(names[i].size()),
                                 names[i].data());
  std::array<xcb_atom_t, names.size()> values{};
  for (std::size_t i = 0; i < names.size(); ++i) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
    if (reply) values[i] = reply->atom;
  }
  return {values[0], values[1], values[2], values[3], values[4], values[5]};
}

struct Property {
  xcb_atom_t Type = XCB_ATOM_NONE;
  std::uint8_t Format = 0;
  std::string Bytes;

  bool Exists() const { return Type != XCB_ATOM_NONE; }
  std::vector<std::uint32_t> Values() const {
    std::vector<std::uint32_t> values(Format == 32 ? Bytes.size() / 4 : 0);
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = *reinterpret_cast<const std::uint32_t*>(Bytes.data() + 4 * i);
    return values;
  }
};

xcb_get_property_cookie_t AskProperty(xcb_connection_t* connection, xcb_window_t window,
                                      xcb_atom_t atom) {
  return xcb_get_property(connection, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                          PropertyLength);
}

Property TakeProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
  Property property;
  if (!reply || reply->type == XCB_ATOM_NONE) return property;
  property.Type = reply->type;
  property.Format = reply->format;
  const char* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
  property.Bytes.assign(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  return property;
}

Property GetProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t atom) {
  if (atom == XCB_ATOM_NONE) return {};
  return TakeProperty(connection, AskProperty(connection, window, atom));
}

std::vector<xcb_window_t> Children(xcb_connection_t* connection, xcb_window_t window) {
  Reply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
  if (!tree) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  return {children, children + xcb_query_tree_children_length(tree.get())};
}

// A window manager puts each program's window into a frame of its own and marks the program's
// window with WM_STATE; without a manager the top-level window is the program's window.
std::optional<xcb_window_t> FindClientWindow(xcb_connection_t* connection, const Atoms& atoms,
                                             xcb_window_t window, int depth) {
  if (atoms.WmState == XCB_ATOM_NONE) return window;
  if (GetProperty(connection, window, atoms.WmState).Exists()) return window;
  if (depth == 0) return std::nullopt;
  for (xcb_window_t child : Children(connection, window)) {
    if (auto client = FindClientWindow(connection, atoms, child, depth - 1)) return client;
  }
  return std::nullopt;
}

// Without _NET_CLIENT_LIST (no manager, or an old one), the root's viewable children that are
// not menus or tooltips (override-redirect) stand for the top-level windows. Toolkits also create
// unmapped helper windows; those never count.
std::vector<xcb_window_t> TopLevelFromTree(xcb_connection_t* connection, const Atoms& atoms,
                                           xcb_window_t root) {
  std::vector<xcb_window_t> children = Children(connection, root);
  std::vector<xcb_get_window_attributes_cookie_t> cookies;
  cookies.reserve(children.size());
  for (xcb_window_t child : children)
    cookies.push_back(xcb_get_window_attributes(connection, child));
  std::vector<xcb_window_t> viewable;
  for (std::size_t i = 0; i < children.size(); ++i) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, cookies[i], nullptr));
    if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
        !attributes->override_redirect)
      viewable.push_back(children[i]);
  }
  std::vector<xcb_window_t> clients;
  // No WM_STATE anywhere below (no manager runs, though a toolkit may have created the atom):
  // the top-level window is the program's own.
  for (xcb_window_t window : viewable)
    clients.push_back(
        FindClientWindow(connection, atoms, window, ClientSearchDepth).value_or(window));
  return clients;
}

std::vector<xcb_window_t> TopLevelWindows(xcb_connection_t* connection, const Atoms& atoms,
                                          xcb_window_t root) {
  Property list = GetProperty(connection, root, atoms.ClientList);
  if (list.Exists() && list.Type == XCB_ATOM_WINDOW && list.Format == 32) {
    std::vector<std::uint32_t> values = list.Values();
    return {values.begin(), values.end()};
  }
  return TopLevelFromTree(connection, atoms, root);
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

bool IsPlainAscii(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\x1b') return false;
  return true;
}

// The title as UTF-8. _NET_WM_NAME comes first: a toolkit writes a non-Latin WM_NAME as
// COMPOUND_TEXT, which only matches here when it is plain ASCII.
std::optional<std::string> Title(const Property& netName, const Property& wmName,
                                 const Atoms& atoms) {
  if (netName.Exists() && netName.Type == atoms.Utf8String && netName.Format == 8)
    return netName.Bytes;
  if (!wmName.Exists() || wmName.Format != 8) return std::nullopt;
  if (wmName.Type == XCB_ATOM_STRING) return Latin1ToUtf8(wmName.Bytes);
  if (wmName.Type == atoms.Utf8String) return wmName.Bytes;
  if (IsPlainAscii(wmName.Bytes)) return wmName.Bytes;
  return std::nullopt;
}

bool IsClientProgramWindow(xcb_connection_t* connection, const Atoms& atoms, xcb_window_t window,
                           std::string_view title) {
  xcb_get_property_cookie_t transientCookie =
      AskProperty(connection, window, XCB_ATOM_WM_TRANSIENT_FOR);
  xcb_get_property_cookie_t typeCookie = AskProperty(connection, window, atoms.WindowType);
  xcb_get_property_cookie_t netNameCookie = AskProperty(connection, window, atoms.WmName);
  xcb_get_property_cookie_t wmNameCookie = AskProperty(connection, window, XCB_ATOM_WM_NAME);
  Property transient = TakeProperty(connection, transientCookie);
  Property type = TakeProperty(connection, typeCookie);
  Property netName = TakeProperty(connection, netNameCookie);
  Property wmName = TakeProperty(connection, wmNameCookie);

  if (transient.Exists()) return false;
  if (atoms.WindowType != XCB_ATOM_NONE && type.Exists()) {
    for (std::uint32_t value : type.Values())
      if (value == atoms.WindowTypeDialog) return false;
  }
  std::optional<std::string> shown = Title(netName, wmName, atoms);
  return shown && *shown == title;
}

xcb_screen_t* ScreenOf(xcb_connection_t* connection, int number) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it))
    if (i == number) return it.data;
  return nullptr;
}

}  // namespace

bool IsTopLevelWindowOpen(std::string_view title, const char* displayName) {
  int screenNumber = 0;
  const XcbConnection connection = ConnectToX11(displayName, &screenNumber);
  if (!connection) return false;
  xcb_screen_t* screen = ScreenOf(connection.get(), screenNumber);
  if (!screen) return false;
  Atoms atoms = InternAtoms(connection.get());
  for (xcb_window_t window : TopLevelWindows(connection.get(), atoms, screen->root)) {
    if (IsClientProgramWindow(connection.get(), atoms, window, title)) return true;
  }
  return false;
}

}  // namespace tandor
