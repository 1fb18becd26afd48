// Finding client programs' main windows on a real X server, with windows made the way toolkits
// and window managers make them.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/X11Window.h"
#include "support/XvfbServer.h"
#include "util/WindowCheck.h"

namespace tandor {
namespace {

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// A client of the test's X server that makes windows and sets their properties directly.
class WindowMaker {
 public:
  WindowMaker() : mConnection(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(mConnection.get())) return;
    mRoot = xcb_setup_roots_iterator(xcb_get_setup(mConnection.get())).data->root;
  }

  bool Connected() const { return mRoot != XCB_WINDOW_NONE; }
  xcb_window_t Root() const { return mRoot; }

  xcb_window_t Create(xcb_window_t parent = XCB_WINDOW_NONE, bool overrideRedirect = false) {
    xcb_window_t window = xcb_generate_id(mConnection.get());
    std::uint32_t values[] = {overrideRedirect ? 1u : 0u};
    xcb_create_window(mConnection.get(), XCB_COPY_FROM_PARENT, window,
                      parent == XCB_WINDOW_NONE ? mRoot : parent, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      values);
    return window;
  }

  void Map(xcb_window_t window) { xcb_map_window(mConnection.get(), window); }
  void Destroy(xcb_window_t window) { xcb_destroy_window(mConnection.get(), window); }

  xcb_atom_t Atom(const std::string& name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(mConnection.get(),
                              xcb_intern_atom(mConnection.get(), 0,
                                              static_cast<std::uint16_t>(name.size()), name.data()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  void SetText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
               const std::string& bytes) {
    xcb_change_property(mConnection.get(), XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        static_cast<std::uint32_t>(bytes.size()), bytes.data());
  }

  void SetValues(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 const std::vector<std::uint32_t>& values) {
    xcb_change_property(mConnection.get(), XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
  }

  // The title as Qt and GTK write it: UTF-8 in _NET_WM_NAME, Latin-1 in WM_NAME when it fits.
  void SetTitle(xcb_window_t window, const std::string& utf8) {
    SetText(window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), utf8);
  }

  void SetDialogType(xcb_window_t window) {
    SetValues(window, Atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
              {Atom("_NET_WM_WINDOW_TYPE_DIALOG")});
  }

  // Waits until the server has carried out every request so far, so that another client
  // sees their effect.
  void Sync() {
    std::free(xcb_get_input_focus_reply(mConnection.get(), xcb_get_input_focus(mConnection.get()),
                                        nullptr));
  }

 private:
  std::unique_ptr<xcb_connection_t, ConnectionCloser> mConnection;
  xcb_window_t mRoot = XCB_WINDOW_NONE;
};

class WindowCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
    mServer = std::make_unique<test::XvfbServer>();
    mMaker = std::make_unique<WindowMaker>();
    ASSERT_TRUE(mMaker->Connected());
  }

  void TearDown() override {
    mMaker.reset();
    mServer.reset();
  }

  xcb_window_t MainWindow(const std::string& title) {
    xcb_window_t window = mMaker->Create();
    mMaker->SetTitle(window, title);
    mMaker->Map(window);
    return window;
  }

  std::unique_ptr<test::XvfbServer> mServer;
  std::unique_ptr<WindowMaker> mMaker;
};

TEST_F(WindowCheckTest, FindsOnlyViewableMainWindowsByTheirExactTitle) {
  WindowMaker& x = *mMaker;
  x.Atom("WM_STATE");  // toolkits create the atom though no manager sets it
  xcb_window_t main = MainWindow("Sample");
  x.SetText(main, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "Sample");

  // A Korean title: toolkits write WM_NAME as COMPOUND_TEXT (EUC-KR behind an escape), which
  // only _NET_WM_NAME carries readably.
  xcb_window_t korean = MainWindow("샘플 프로그램");
  x.SetText(korean, XCB_ATOM_WM_NAME, x.Atom("COMPOUND_TEXT"),
            "\x1b$)C" + CodePage(949).FromUtf8("샘플 프로그램"));

  xcb_window_t dialog = MainWindow("Sample Dialog");
  x.SetDialogType(dialog);
  xcb_window_t transient = MainWindow("Sample Transient");
  x.SetValues(transient, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, {main});
  x.SetTitle(x.Create(), "Sample Hidden");  // created, never mapped, like a toolkit's helper
  xcb_window_t menu = x.Create(XCB_WINDOW_NONE, true);
  x.SetTitle(menu, "Sample Menu");
  x.Map(menu);
  xcb_window_t child = x.Create(main);
  x.SetTitle(child, "Sample Child");
  x.Map(child);
  xcb_window_t latin = x.Create();  // an old program: only a Latin-1 WM_NAME
  x.SetText(latin, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "Caf\xe9");
  x.Map(latin);
  x.Sync();

  struct Case {
    std::string caption;
    bool open;
  };
  const Case cases[] = {
      {"Sample", true},
      {"샘플 프로그램", true},
      {"Café", true},
      {"sample", false},
      {"Sample Dialog", false},
      {"Sample Transient", false},
      {"Sample Hidden", false},
      {"Sample Menu", false},
      {"Sample Child", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsFormWindowOpen(c.caption), c.open) << "caption '" << c.caption << "'";

  x.Destroy(main);
  x.Sync();
  EXPECT_FALSE(IsFormWindowOpen("Sample"));
  EXPECT_TRUE(IsFormWindowOpen("샘플 프로그램"));
}

TEST_F(WindowCheckTest, FindsProgramWindowsInsideWindowManagerFrames) {
  WindowMaker& x = *mMaker;
  // A reparenting manager: the root's child is a frame, the program's window inside it carries
  // WM_STATE.
  xcb_window_t frame = x.Create();
  x.SetTitle(frame, "Frame of Framed");
  xcb_window_t client = x.Create(frame);
  x.SetTitle(client, "Framed");
  x.SetValues(client, x.Atom("WM_STATE"), x.Atom("WM_STATE"), {1, 0});
  x.Map(client);
  x.Map(frame);
  x.Sync();

  EXPECT_TRUE(IsFormWindowOpen("Framed"));
  EXPECT_FALSE(IsFormWindowOpen("Frame of Framed"));
}

TEST_F(WindowCheckTest, FollowsTheManagersClientListWhenThereIsOne) {
  WindowMaker& x = *mMaker;
  xcb_window_t listed = MainWindow("Listed");
  xcb_window_t listedDialog = MainWindow("Listed Dialog");
  x.SetDialogType(listedDialog);
  MainWindow("Unlisted");  // e.g. a manager's own panel
  x.SetValues(x.Root(), x.Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, {listed, listedDialog});
  x.Sync();

  EXPECT_TRUE(IsFormWindowOpen("Listed"));
  EXPECT_FALSE(IsFormWindowOpen("Listed Dialog"));
  EXPECT_FALSE(IsFormWindowOpen("Unlisted"));
}

TEST(WindowCheckWithoutDisplay, NoDisplayMeansNoWindow) {
  std::string old = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  EXPECT_FALSE(IsFormWindowOpen("Sample"));
  // A display nobody serves.
  EXPECT_FALSE(IsTopLevelWindowOpen("Sample", ":4321"));
  if (!old.empty()) setenv("DISPLAY", old.c_str(), 1);
}

}  // namespace
}  // namespace tandor
