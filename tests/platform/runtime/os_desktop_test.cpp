// The operating-system layer's desktop and machine services: ending the
// session through recording fakes of systemctl and loginctl, I/O ports as
// an unprivileged user and where the right is granted, and the X11
// routines against windows the test opens on a real X server (Xvfb).
#include <sys/stat.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/runtime/os_display.h"
#include "platform/runtime/os_ports.h"
#include "platform/runtime/os_session.h"
#include "runtime_test_util.h"
// The X headers define words such as None and Bool: after every other.
#include "support/x_server.h"
#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace rtl::os {
namespace {

// ---- ending the session ----

class SessionTest : public ::testing::Test {
protected:
  // A fake tool that writes its arguments, one a line, to its record file
  // and exits with code.
  std::string Fake(const std::string& name, int code) {
    const std::string path = dir_.File(name);
    WriteFileBytes(path, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + path + ".args'\nexit " +
                             std::to_string(code) + "\n");
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string Args(const std::string& fake) { return ReadFileBytes(fake + ".args"); }
  void TearDown() override { SetSessionTools({}); }

  TempDir dir_;
};

TEST_F(SessionTest, EachRequestRunsItsExactCommandAndAnswersItsExitCode) {
  const char* saved = std::getenv("XDG_SESSION_ID");
  const std::string saved_session = saved ? saved : "";
  struct Case {
    SessionEnd how;
    const char* session;  // XDG_SESSION_ID, nullptr: unset
    bool via_loginctl;
    std::string args;
  };
  const std::string uid = std::to_string(getuid());
  const Case cases[] = {
      {SessionEnd::kReboot, "7", false, "--no-ask-password\nreboot\n"},
      {SessionEnd::kPowerOff, "7", false, "--no-ask-password\npoweroff\n"},
      {SessionEnd::kLogOff, "c12", true, "--no-ask-password\nterminate-session\nc12\n"},
      {SessionEnd::kLogOff, nullptr, true, "--no-ask-password\nterminate-user\n" + uid + "\n"},
  };
  for (int code : {0, 1}) {
    const std::string systemctl = Fake("systemctl", code), loginctl = Fake("loginctl", code);
    SetSessionTools({systemctl, loginctl});
    for (const Case& c : cases) {
      if (c.session) setenv("XDG_SESSION_ID", c.session, 1);
      else unsetenv("XDG_SESSION_ID");
      std::remove((systemctl + ".args").c_str());
      std::remove((loginctl + ".args").c_str());
      EXPECT_EQ(EndSession(c.how), code == 0) << c.args;
      EXPECT_EQ(Args(c.via_loginctl ? loginctl : systemctl), c.args);
      EXPECT_EQ(Args(c.via_loginctl ? systemctl : loginctl), "");  // the other one never ran
    }
  }
  if (saved) setenv("XDG_SESSION_ID", saved_session.c_str(), 1);
  else unsetenv("XDG_SESSION_ID");
  // A tool that cannot be started: false.
  SetSessionTools({dir_.File("missing"), dir_.File("missing")});
  EXPECT_FALSE(EndSession(SessionEnd::kReboot));
  EXPECT_FALSE(EndSession(SessionEnd::kLogOff));
}

// ---- I/O ports ----

TEST(PortsTest, RefusedToAnUnprivilegedUser) {
  EXPECT_EQ(ReadPortByte(0x10000), -1);  // no such port anywhere
  EXPECT_FALSE(WritePortByte(0x10000, 1));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    _exit(ReadPortByte(0x80) == -1 && !WritePortByte(0x80, 0) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(PortsTest, Port80ReadsAndWritesWhereTheRightIsGranted) {
  const int value = ReadPortByte(0x80);
  if (value < 0) GTEST_SKIP() << "the system refuses port I/O to this process (no raw I/O right, as in containers)";
  EXPECT_LE(value, 255);
  EXPECT_TRUE(WritePortByte(0x80, static_cast<std::uint8_t>(value)));  // the POST code port: harmless
}

// ---- X11 ----

// Runs body with DISPLAY set to value (nullptr: unset), then puts it back.
template <typename Body>
void WithDisplay(const char* value, Body body) {
  const char* saved = std::getenv("DISPLAY");
  const std::string saved_value = saved ? saved : "";
  if (value) setenv("DISPLAY", value, 1);
  else unsetenv("DISPLAY");
  body();
  if (saved) setenv("DISPLAY", saved_value.c_str(), 1);
  else unsetenv("DISPLAY");
}

TEST(DisplayTest, WithoutADisplayEveryRoutineAnswersItsFailureValue) {
  for (const char* display : {static_cast<const char*>(nullptr), "", ":987"}) {
    WithDisplay(display, [&] {
      SCOPED_TRACE(display ? display : "(unset)");
      EXPECT_FALSE(DisplayAvailable());
      EXPECT_EQ(WindowProcessId(0x200001), -1);
      EXPECT_EQ(WindowClassByTitle("Quorvane"), "");
      EXPECT_FALSE(PressWithSystemKey('R'));
    });
  }
}

class X11Test : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = new qvtest::XServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->Available()) GTEST_SKIP() << "no X server could be opened or started (is Xvfb installed?)";
  }
  Display* D() { return server_->D(); }

  // A mapped top-level window with the given properties (any may be empty).
  Window Open(const std::string& utf8_title, const std::string& latin1_title, const std::string& wm_class, long pid) {
    Display* d = D();
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 200, 100, 0, 0, 0xFFFFFF);
    if (!utf8_title.empty())
      XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), 8,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(utf8_title.data()),
                      static_cast<int>(utf8_title.size()));
    if (!latin1_title.empty())
      XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(latin1_title.data()), static_cast<int>(latin1_title.size()));
    if (!wm_class.empty())
      XChangeProperty(d, w, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(wm_class.data()), static_cast<int>(wm_class.size()));
    if (pid > 0)
      XChangeProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&pid), 1);
    XSelectInput(d, w, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(d, w);
    for (XEvent e;;) {
      XNextEvent(d, &e);
      if (e.type == MapNotify && e.xmap.window == w) break;
    }
    windows_.push_back(w);
    return w;
  }
  void TearDown() override {
    for (Window w : windows_) XDestroyWindow(D(), w);
    if (server_->Available()) XSync(D(), False);
  }

  static qvtest::XServer* server_;
  std::vector<Window> windows_;
};
qvtest::XServer* X11Test::server_ = nullptr;

TEST_F(X11Test, ProcessAndClassOfTheTestsWindows) {
  const std::string wm_class("quorvane\0QvProbe\0", 17);
  const Window probe = Open("Quorvane probe \xC3\xA9", "", wm_class, static_cast<long>(getpid()));
  const Window old_style = Open("", "Old \xE9 style", std::string("old\0OldStyle\0", 13), 0);
  const Window bare = Open("", "", "", 0);
  XSync(D(), False);
  ASSERT_TRUE(DisplayAvailable());
  EXPECT_EQ(WindowProcessId(probe), getpid());
  EXPECT_EQ(WindowProcessId(old_style), -1);  // no _NET_WM_PID
  EXPECT_EQ(WindowProcessId(bare), -1);
  EXPECT_EQ(WindowProcessId(0x3FFFFFFF), -1);  // no such window: an X error, noted, not fatal
  EXPECT_EQ(WindowProcessId(0), -1);
  // Titles are Windows-1252: the UTF-8 title and the Latin-1 one alike.
  EXPECT_EQ(WindowClassByTitle("Quorvane probe \xE9"), "QvProbe");
  EXPECT_EQ(WindowClassByTitle("Old \xE9 style"), "OldStyle");
  EXPECT_EQ(WindowClassByTitle("Quorvane probe"), "");
  EXPECT_EQ(WindowClassByTitle(""), "");
}

TEST_F(X11Test, KeysArriveWithTheSystemKeyHeldAroundThem) {
  const Window w = Open("typing target", "", "", 0);
  XSetInputFocus(D(), w, RevertToParent, CurrentTime);
  XSync(D(), False);
  struct Case {
    int vk;
    KeySym sym;
  };
  for (const Case& c : {Case{'R', XK_r}, Case{'7', XK_7}, Case{0x0D, XK_Return}, Case{0x70, XK_F1},
                        Case{0x25, XK_Left}, Case{0x62, XK_KP_2}}) {
    ASSERT_TRUE(PressWithSystemKey(c.vk)) << c.vk;
    std::vector<std::pair<int, KeySym>> events;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (events.size() < 4 && std::chrono::steady_clock::now() < until) {
      if (XPending(D()) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      XEvent e;
      XNextEvent(D(), &e);
      if (e.type == KeyPress || e.type == KeyRelease) events.emplace_back(e.type, e.xkey.keycode);
    }
    // Key codes: the keypad's digits read as cursor keys while Num Lock is off.
    const KeySym super = XKeysymToKeycode(D(), XK_Super_L), key = XKeysymToKeycode(D(), c.sym);
    ASSERT_NE(key, 0u);
    const std::vector<std::pair<int, KeySym>> expected = {
        {KeyPress, super}, {KeyPress, key}, {KeyRelease, key}, {KeyRelease, super}};
    EXPECT_EQ(events, expected) << c.vk;
  }
  // A code with no key: nothing typed.
  EXPECT_FALSE(PressWithSystemKey(0x07));
  XSync(D(), False);
  EXPECT_EQ(XPending(D()), 0);
}

}  // namespace
}  // namespace rtl::os
