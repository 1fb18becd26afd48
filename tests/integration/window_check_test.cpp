// Finding programs' main windows on a real X server, made the way toolkits and managers do.

#include "util/WindowCheck.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Unattended.h"
#include "platform/X11Window.h"
#include "platform/XcbConnection.h"
#include "support/XvfbServer.h"

namespace tandor {
namespace {

class WindowCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
    mDisplay.emplace();
    mX.reset(xcb_connect(nullptr, nullptr));
    ASSERT_EQ(xcb_connection_has_error(mX.get()), 0);
    mRoot = xcb_setup_roots_iterator(xcb_get_setup(mX.get())).data->root;
  }

  xcb_atom_t Atom(const std::string& name) {
    const auto cookie = xcb_intern_atom(mX.get(), 0, name.size(), name.data());
    return std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)>(
               xcb_intern_atom_reply(mX.get(), cookie, nullptr), &std::free)
        ->atom;
  }
  template <typename Values>  // a std::string of 8-bit or a std::vector of 32-bit values
  void Set(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const Values& values) {
    xcb_change_property(mX.get(), XCB_PROP_MODE_REPLACE, window, property, type,
                        8 * sizeof(values[0]), values.size(), values.data());
  }
  // A window titled as Qt and GTK title theirs (UTF-8 in _NET_WM_NAME), mapped unless asked not.
  xcb_window_t Window(const std::string& title, xcb_window_t parent = 0, bool map = true,
                      std::uint32_t overrideRedirect = 0) {
    const xcb_window_t window = xcb_generate_id(mX.get());
    xcb_create_window(mX.get(), XCB_COPY_FROM_PARENT, window, parent ? parent : mRoot, 10, 10, 200,
                      100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    if (!title.empty()) Set(window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), title);
    if (map) xcb_map_window(mX.get(), window);
    return window;
  }

  std::optional<test::XvfbServer> mDisplay;
  XcbConnection mX;
  xcb_window_t mRoot = 0;
};

using Ids = std::vector<std::uint32_t>;

TEST_F(WindowCheckTest, FindsViewableMainWindowsByTheirExactTitle) {
  const xcb_atom_t state = Atom("WM_STATE");  // a reparenting manager marks program windows
  const xcb_window_t main = Window("Sample"), dialog = Window("Sample Dialog");
  Set(main, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, std::string("Sample"));
  // Toolkits write a Korean WM_NAME as COMPOUND_TEXT: only _NET_WM_NAME carries it readably.
  Set(Window("샘플 프로그램"), XCB_ATOM_WM_NAME, Atom("COMPOUND_TEXT"),
      "\x1b$)C" + CodePage(949).FromUtf8("샘플 프로그램"));
  Set(Window(""), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, std::string("Caf\xe9"));  // Latin-1 only
  Set(dialog, Atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, Ids{Atom("_NET_WM_WINDOW_TYPE_DIALOG")});
  Set(Window("Sample Transient"), XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, Ids{main});
  Window("Sample Hidden", 0, false);  // a toolkit's helper, never mapped
  Window("Sample Menu", 0, true, 1);  // override-redirect
  Window("Sample Child", main);
  Set(Window("Framed", Window("Frame of Framed")), state, state, Ids{1, 0});

  // Found without a client list, and with a manager's list of Sample and its dialog only Sample.
  const std::string found[] = {"Sample", "샘플 프로그램", "Café", "Framed"};
  const std::string never[] = {"sample",      "Sample Dialog", "Sample Transient", "Sample Hidden",
                               "Sample Menu", "Sample Child",  "Frame of Framed"};
  for (const bool listed : {false, true}) {
    if (listed) Set(mRoot, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, Ids{main, dialog});
    // Another client sees every request made so far once the server has answered this one.
    std::free(xcb_get_input_focus_reply(mX.get(), xcb_get_input_focus(mX.get()), nullptr));
    for (const auto& title : found)
      EXPECT_EQ(IsFormWindowOpen(title), !listed || title == "Sample");
    for (const auto& title : never) EXPECT_FALSE(IsFormWindowOpen(title)) << title;
  }
  EXPECT_FALSE(IsTopLevelWindowOpen("Sample", ":4321"));  // a display nobody serves
}

// An X server resets when its last client leaves, and drops whoever connects meanwhile: busy, it
// answers late. Connecting waits that out; the display check keeps its connection while the
// program runs, so that the toolkit connecting right after it never meets such a reset.
TEST(DisplayCheckTest, AServerThatAnswersLateIsADisplay) {
  if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer display;  // no client of its own
  int reached = 0;
  for (int i = 0; i < 40; ++i) reached += ConnectToX11(nullptr) != nullptr;  // each leaves last
  EXPECT_EQ(reached, 40);

  setenv("TANDOR_UNATTENDED", "0", 1);
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_FALSE(IsUnattended());
  reached = 0;
  for (int i = 0; i < 40; ++i) {  // as a toolkit connects: once, at once
    XcbConnection toolkit(xcb_connect(nullptr, nullptr));
    reached += xcb_connection_has_error(toolkit.get()) == 0;
  }
  EXPECT_EQ(reached, 40);
}

}  // namespace
}  // namespace tandor
