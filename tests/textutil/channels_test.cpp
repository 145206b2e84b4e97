#include "textutil/channels.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/runtime/exceptions.h"
#include "support/temp_dir.h"
#include "tests/textutil/syshelp.h"
#include "tests/textutil/textutil_fixture.h"
#include "textutil/process.h"
#include "textutil/system.h"

namespace textutil {
namespace {

using namespace syshelp;
using Clock = std::chrono::steady_clock;

constexpr int kPatienceMs = 20000;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using ChannelTest = PrivateFoldersTest;

// ---- serial ports, with a pseudo-terminal standing in for the port ----

class SerialTest : public ChannelTest {
protected:
  void SetUp() override {
    ChannelTest::SetUp();
    master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(master_.Valid());
    ASSERT_EQ(0, grantpt(master_.Get()));
    ASSERT_EQ(0, unlockpt(master_.Get()));
    port_ = ptsname(master_.Get());
  }
  void TearDown() override {
    master_.Reset();
    ChannelTest::TearDown();
  }

  void MasterWrite(const std::string& text) {
    ASSERT_EQ(static_cast<ssize_t>(text.size()), write(master_.Get(), text.data(), text.size()));
  }
  // What the port has sent, read until count bytes came or time ran out.
  std::string MasterRead(size_t count) {
    std::string got;
    auto start = Clock::now();
    while (got.size() < count && MillisecondsSince(start) < kPatienceMs) {
      struct pollfd p = {master_.Get(), POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[256];
      ssize_t n = read(master_.Get(), buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  std::string OpenError(const std::string& mode) {
    try {
      unsigned h = OpenComm(mode);
      CloseComm(h);
    } catch (const rtl::Exception& e) {
      return e.Message();
    }
    return "opened";
  }

  FileDescriptor master_;
  std::string port_;
};

// A modem on the far side of the port: answers each command line that
// ends in a carriage return with answer(line), records everything it got.
class FakeModem {
public:
  FakeModem(int master, std::function<std::string(const std::string&)> answer)
      : master_(master), answer_(std::move(answer)), thread_([this] { Run(); }) {}
  ~FakeModem() {
    stop_ = true;
    thread_.join();
  }
  std::string Received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
  }

private:
  void Run() {
    std::string line;
    while (!stop_) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char c;
      if (read(master_, &c, 1) != 1) continue;
      {
        std::lock_guard<std::mutex> guard(lock_);
        received_ += c;
      }
      if (c != '\r') {
        line += c;
        continue;
      }
      std::string reply = answer_(line);
      line.clear();
      if (!reply.empty()) (void)!write(master_, reply.data(), reply.size());
    }
  }

  int master_;
  std::function<std::string(const std::string&)> answer_;
  std::mutex lock_;
  std::string received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(SerialTest, ReadsAndWritesThroughThePort) {
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  MasterWrite("hello");
  ASSERT_TRUE(WaitUntil([&] { return StatusComm(h) == 5; }, kPatienceMs));
  std::string buffer(5, '\0');
  EXPECT_EQ(5, ReadComm(h, buffer));
  EXPECT_EQ("hello", buffer);
  EXPECT_EQ(0, StatusComm(h));

  EXPECT_EQ(4, WriteComm(h, "ATZ\r"));
  EXPECT_EQ("ATZ\r", MasterRead(4));
  std::string long_text(5000, 'x');  // more than fits at once, no drain wait
  std::thread reader([&] { EXPECT_EQ(long_text, MasterRead(long_text.size())); });
  EXPECT_EQ(5000, WriteComm(h, long_text));
  reader.join();

  // Reads return at once: nothing waiting gives 0 without delay.
  auto start = Clock::now();
  EXPECT_EQ(0, GetComm(h));
  EXPECT_LT(MillisecondsSince(start), 1000);
  MasterWrite("Q");
  ASSERT_TRUE(WaitUntil([&] { return StatusComm(h) == 1; }, kPatienceMs));
  EXPECT_EQ('Q', GetComm(h));

  EXPECT_TRUE(CloseComm(h));
  EXPECT_FALSE(CloseComm(h));  // never a second close of a reused descriptor
  EXPECT_EQ(-1, StatusComm(h));
  EXPECT_EQ(0, WriteComm(h, "x"));
  EXPECT_EQ(0, ReadComm(h, buffer));
  EXPECT_FALSE(SetRxTime(h, 0, 0));
}

TEST_F(SerialTest, ModeStringsSetSpeedAndFlowControl) {
  // A pseudo-terminal keeps the speed, stop bits and flow control it is
  // given (it always has 8 data bits and no parity).
  unsigned h = OpenComm(port_ + ":96,e,7,2");
  struct termios tio;
  ASSERT_EQ(0, tcgetattr(static_cast<int>(h), &tio));
  EXPECT_EQ(B9600, cfgetospeed(&tio));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));  // raw: bytes pass unchanged
  EXPECT_FALSE(tio.c_oflag & OPOST);
  EXPECT_TRUE(CloseComm(h));

  h = OpenComm(port_ + ":baud=19200 parity=o data=8 stop=1 xon=on octs=on dtr=on rts=hs to=off");
  ASSERT_EQ(0, tcgetattr(static_cast<int>(h), &tio));
  EXPECT_EQ(B19200, cfgetospeed(&tio));
  EXPECT_FALSE(tio.c_cflag & CSTOPB);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(CloseComm(h));

  h = OpenComm(port_ + ":115200,n,8,1,p");
  ASSERT_EQ(0, tcgetattr(static_cast<int>(h), &tio));
  EXPECT_EQ(B115200, cfgetospeed(&tio));
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_FALSE(tio.c_iflag & IXON);
  EXPECT_TRUE(CloseComm(h));
}

TEST(SerialModeTest, DataBitsAndParity) {
  struct termios tio = {};
  ASSERT_TRUE(detail::BuildPortSettings("96,e,7,2", tio));
  EXPECT_EQ(static_cast<tcflag_t>(CS7), tio.c_cflag & CSIZE);
  EXPECT_EQ(static_cast<tcflag_t>(PARENB), tio.c_cflag & (PARENB | PARODD | CMSPAR));
  ASSERT_TRUE(detail::BuildPortSettings("baud=1200 parity=o data=5", tio));
  EXPECT_EQ(static_cast<tcflag_t>(CS5), tio.c_cflag & CSIZE);
  EXPECT_EQ(static_cast<tcflag_t>(PARENB | PARODD), tio.c_cflag & (PARENB | PARODD | CMSPAR));
  EXPECT_EQ(B1200, cfgetospeed(&tio));
  ASSERT_TRUE(detail::BuildPortSettings("2400,m,8,1.5", tio));
  EXPECT_EQ(static_cast<tcflag_t>(PARENB | PARODD | CMSPAR), tio.c_cflag & (PARENB | PARODD | CMSPAR));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  ASSERT_TRUE(detail::BuildPortSettings("2400,s,6", tio));
  EXPECT_EQ(static_cast<tcflag_t>(PARENB | CMSPAR), tio.c_cflag & (PARENB | PARODD | CMSPAR));
  EXPECT_EQ(static_cast<tcflag_t>(CS6), tio.c_cflag & CSIZE);
  // Only what the mode names changes.
  ASSERT_TRUE(detail::BuildPortSettings("baud=4800", tio));
  EXPECT_EQ(static_cast<tcflag_t>(CS6), tio.c_cflag & CSIZE);
  EXPECT_EQ(B4800, cfgetospeed(&tio));
  ASSERT_TRUE(detail::BuildPortSettings("", tio));
  EXPECT_EQ(B4800, cfgetospeed(&tio));
  EXPECT_FALSE(detail::BuildPortSettings("4800,n,4", tio));
  // Keywords and their values are read without regard to case.
  ASSERT_TRUE(detail::BuildPortSettings("BAUD=2400 Data=7 XON=On", tio));
  EXPECT_EQ(B2400, cfgetospeed(&tio));
  EXPECT_EQ(static_cast<tcflag_t>(CS7), tio.c_cflag & CSIZE);
  EXPECT_TRUE(tio.c_iflag & IXON);
}

TEST_F(SerialTest, OpenFailuresRaiseAndLeaveNothingOpen) {
  std::string file = root_ + "/plain.txt";
  std::ofstream(file) << "x";
  EXPECT_EQ("Error opening port", OpenError("/dev/no-such-port:9600,n,8,1"));
  EXPECT_EQ("Error opening port", OpenError("a/b:9600"));
  EXPECT_EQ("Invalid or unavailable port", OpenError(file + ":9600,n,8,1"));
  EXPECT_EQ("Error reading port state", OpenError("/dev/null:9600,n,8,1"));
  for (const char* mode : {":9600,q,8,1", ":9600,n,9,1", ":9600,n,8,3", ":12345,n,8,1", ":9600,n,8,1,z",
                           ":9600,n,8,1,x,7", ":baud=9600 colour=red", ":baud=9600 xon=maybe",
                           ":baud=96000", ":parity"}) {
    EXPECT_EQ("Invalid mode", OpenError(port_ + mode)) << mode;
  }
  // The port is exclusive: a second open is refused, the first goes on.
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  EXPECT_EQ("Error opening port", OpenError(port_ + ":9600,n,8,1"));
  EXPECT_EQ(2, WriteComm(h, "ok"));
  EXPECT_EQ("ok", MasterRead(2));
  EXPECT_TRUE(CloseComm(h));
  EXPECT_EQ("opened", OpenError(port_ + ":9600,n,8,1"));
}

TEST_F(SerialTest, ReadTimeOuts) {
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  // A total time-out: an empty line gives up after it.
  ASSERT_TRUE(SetRxTime(h, 400, 0));
  auto start = Clock::now();
  EXPECT_EQ(0, GetComm(h));
  EXPECT_GE(MillisecondsSince(start), 350);
  // Bytes that come within it are all collected by one read.
  ASSERT_TRUE(SetRxTime(h, 5000, 0));
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    MasterWrite("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    MasterWrite("def");
  });
  std::string buffer(6, '\0');
  EXPECT_EQ(6, ReadComm(h, buffer));
  EXPECT_EQ("abcdef", buffer);
  sender.join();
  // Both 0: back to reads that return at once.
  ASSERT_TRUE(SetRxTime(h, 0, 0));
  start = Clock::now();
  EXPECT_EQ(0, ReadComm(h, buffer));
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_TRUE(CloseComm(h));
}

TEST_F(SerialTest, ModemResponseWaitsForTheAnswerAndRestoresTimeOuts) {
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  MasterWrite("\r\nOK\r\n");
  std::string response = "old";
  EXPECT_EQ("\r\nOK\r\n", ModemResponse(h, response));
  EXPECT_EQ("\r\nOK\r\n", response);
  auto start = Clock::now();
  EXPECT_EQ(0, GetComm(h));  // the port's own time-outs are back
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_TRUE(CloseComm(h));
  EXPECT_EQ("", ModemResponse(h, response));
  EXPECT_EQ("", response);
}

TEST_F(SerialTest, ModemThereAsksTheModemToReset) {
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  {
    FakeModem modem(master_.Get(), [](const std::string& line) {
      return line == "ATZ" ? std::string("\r\nOK\r\n") : std::string();
    });
    EXPECT_TRUE(ModemThere(h));
    EXPECT_EQ("ATZ\r", modem.Received());  // no carrier: no hang-up first
  }
  EXPECT_TRUE(CloseComm(h));
  EXPECT_FALSE(ModemThere(h));
}

TEST_F(SerialTest, ModemCommandRunsAScript) {
  unsigned h = OpenComm(port_ + ":9600,n,8,1");
  {
    FakeModem modem(master_.Get(), [](const std::string& line) {
      return line == "ATZ" ? std::string("OK\r\n") : std::string();
    });
    EXPECT_TRUE(ModemCommand(h, "  ATZ|ATDT 0123:~+++~>ATH0  "));
    EXPECT_TRUE(WaitUntil([&] { return modem.Received().size() >= 21; }, kPatienceMs));
    EXPECT_EQ("ATZ\rATDT 0123\r+++ATH0", modem.Received());
  }
  {
    // An answer without "OK" ends the script.
    FakeModem modem(master_.Get(), [](const std::string&) { return std::string("ERROR\r\n"); });
    EXPECT_FALSE(ModemCommand(h, "ATX9|ATH:"));
    EXPECT_EQ("ATX9\r", modem.Received());
  }
  EXPECT_TRUE(CloseComm(h));
  EXPECT_FALSE(ModemCommand(h, "ATZ"));
}

TEST_F(ChannelTest, ListCommReadsModemsThenSerialPortsEachOnce) {
  EXPECT_EQ("", ListComm());
  std::filesystem::create_directories(root_ + "/config/quorvane");
  std::ofstream(root_ + "/config/quorvane/registry.ini")
      << "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]\n"
         "AttachedTo=COM2\n"
         "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001]\n"
         "AttachedTo=COM10\n"
         "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\0002]\n"
         "DriverDesc=no port\n"
         "[HKEY_LOCAL_MACHINE\\hardware\\devicemap\\serialcomm]\n"
         "\\Device\\Serial0=COM1\n"
         "\\Device\\Serial1=com10\n"
         "\\Device\\Serial2=COM2\n";
  // COM1 is listed although "COM10" contains it.
  EXPECT_EQ("COM2,COM10,COM1", ListComm());
  ASSERT_TRUE(SetDelimiter(';'));
  EXPECT_EQ("COM2;COM10;COM1", ListComm());
}

TEST_F(ChannelTest, HandlesOfOtherFamiliesAreRefused) {
  EXPECT_EQ(-1, StatusComm(0));
  std::string buffer(4, '\0');
  EXPECT_EQ(0, ReadComm(0, buffer));
  EXPECT_FALSE(CloseComm(12345));
  EXPECT_FALSE(CloseComm(kInvalidHandle));
  unsigned slot = OpenSlot("\\\\.\\mailslot\\family");
  ASSERT_NE(0u, slot);
  EXPECT_FALSE(CloseComm(slot));
  EXPECT_FALSE(KillPipe(slot));
  EXPECT_TRUE(WriteSlot("\\\\.\\mailslot\\family", "still here"));
  std::string text;
  EXPECT_TRUE(WaitUntil([&] { return ReadSlot(slot, text); }, kPatienceMs));
  EXPECT_EQ("still here", text);
  EXPECT_TRUE(CloseSlot(slot));
}

// ---- mailslots ----

TEST_F(ChannelTest, MailslotMessagesArriveWholeAndInOrder) {
  unsigned h = OpenSlot("\\\\.\\mailslot\\parish\\news");
  ASSERT_NE(0u, h);
  EXPECT_EQ(0u, OpenSlot("\\\\.\\MAILSLOT\\Parish\\News"));  // exists already; names ignore case
  EXPECT_TRUE(WriteSlot("\\\\.\\MAILSLOT\\Parish\\News", "first"));
  EXPECT_TRUE(WriteSlot("\\\\.\\mailslot\\parish\\news", "second"));
  std::string big(100000, 'b');
  EXPECT_TRUE(WriteSlot("\\\\.\\mailslot\\parish\\news", big));
  EXPECT_TRUE(WriteSlot("\\\\.\\mailslot\\parish\\news", ""));
  std::string text;
  ASSERT_TRUE(WaitUntil([&] { return ReadSlot(h, text); }, kPatienceMs));
  EXPECT_EQ("first", text);
  ASSERT_TRUE(ReadSlot(h, text));
  EXPECT_EQ("second", text);
  ASSERT_TRUE(ReadSlot(h, text));
  EXPECT_EQ(big, text);
  ASSERT_TRUE(ReadSlot(h, text));
  EXPECT_EQ("", text);
  text = "unchanged";
  EXPECT_FALSE(ReadSlot(h, text));
  EXPECT_EQ("unchanged", text);
  std::string file = RuntimePath("mailslot", "parish\\news", true, 107);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(CloseSlot(h));
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(CloseSlot(h));
  EXPECT_FALSE(ReadSlot(h, text));
  EXPECT_FALSE(WriteSlot("\\\\.\\mailslot\\parish\\news", "gone"));
}

TEST_F(ChannelTest, MailslotsElsewhereCannotBeReached) {
  EXPECT_EQ(0u, OpenSlot("\\\\*\\mailslot\\news"));
  EXPECT_EQ(0u, OpenSlot("\\\\server\\mailslot\\news"));
  EXPECT_EQ(0u, OpenSlot("news"));
  EXPECT_EQ(0u, OpenSlot("\\\\.\\mailslot\\"));
  EXPECT_FALSE(WriteSlot("\\\\*\\mailslot\\news", "x"));
  EXPECT_FALSE(WriteSlot("\\\\.\\mailslot\\nobody", "x"));
  std::string text;
  EXPECT_FALSE(ReadSlot(0, text));
  EXPECT_FALSE(ReadSlot(4242, text));
}

TEST_F(ChannelTest, MailslotBetweenThreads) {
  unsigned h = OpenSlot("\\\\.\\mailslot\\threads");
  ASSERT_NE(0u, h);
  constexpr int kCount = 50;  // more than the system queues at once
  std::atomic<int> sent{0};
  std::thread writer([&] {
    for (int i = 0; i < kCount; ++i) {
      if (WriteSlot("\\\\.\\mailslot\\threads", "msg " + std::to_string(i))) ++sent;
    }
  });
  int received = 0;
  bool in_order = true;
  WaitUntil(
      [&] {
        std::string text;
        while (ReadSlot(h, text)) in_order &= text == "msg " + std::to_string(received++);
        return received == kCount;
      },
      kPatienceMs);
  writer.join();
  EXPECT_EQ(kCount, sent.load());
  EXPECT_EQ(kCount, received);
  EXPECT_TRUE(in_order);
  EXPECT_TRUE(CloseSlot(h));
}

TEST_F(ChannelTest, MailslotBetweenProcesses) {
  unsigned h = OpenSlot("\\\\.\\mailslot\\processes");
  ASSERT_NE(0u, h);
  EXPECT_EQ(0, RunInChild([] {
              bool ok = WriteSlot("\\\\.\\mailslot\\processes", "from the child") &&
                        WriteSlot("\\\\.\\mailslot\\processes", "and again");
              return ok ? 0 : 1;
            }));
  std::string text;
  ASSERT_TRUE(WaitUntil([&] { return ReadSlot(h, text); }, kPatienceMs));
  EXPECT_EQ("from the child", text);
  ASSERT_TRUE(ReadSlot(h, text));
  EXPECT_EQ("and again", text);
  // Another process cannot take a live mailslot's name.
  EXPECT_EQ(0, RunInChild([] { return OpenSlot("\\\\.\\mailslot\\processes") == 0 ? 0 : 1; }));
  EXPECT_TRUE(CloseSlot(h));
}

TEST_F(ChannelTest, ANameLeftByAProcessThatDiedIsReused) {
  EXPECT_EQ(0, RunInChild([] { return OpenSlot("\\\\.\\mailslot\\orphan") != 0 ? 0 : 1; }));
  EXPECT_TRUE(std::filesystem::exists(RuntimePath("mailslot", "orphan", true, 107)));
  unsigned h = OpenSlot("\\\\.\\mailslot\\orphan");
  ASSERT_NE(0u, h);
  EXPECT_TRUE(WriteSlot("\\\\.\\mailslot\\orphan", "fresh"));
  std::string text;
  EXPECT_TRUE(WaitUntil([&] { return ReadSlot(h, text); }, kPatienceMs));
  EXPECT_EQ("fresh", text);
  EXPECT_TRUE(CloseSlot(h));

  EXPECT_EQ(0, RunInChild([] { return MakePipe("orphan") != kInvalidHandle ? 0 : 1; }));
  unsigned pipe = MakePipe("orphan");
  ASSERT_NE(kInvalidHandle, pipe);
  EXPECT_TRUE(KillPipe(pipe));
}

// ---- named pipes ----

TEST_F(ChannelTest, PipeRoundTripInOneProcess) {
  unsigned server = MakePipe("Register");
  ASSERT_NE(kInvalidHandle, server);
  errno = 0;
  EXPECT_FALSE(StartPipe(server));  // no client yet
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_EQ(-1, StatusPipe(server));
  EXPECT_FALSE(SendPipe(server, "nobody"));

  unsigned client = OpenPipe("\\\\.\\PIPE\\register");
  ASSERT_NE(kInvalidHandle, client);
  ASSERT_TRUE(WaitUntil([&] { return StartPipe(server); }, kPatienceMs));
  EXPECT_TRUE(StartPipe(server));  // still connected
  EXPECT_FALSE(StartPipe(client));  // not a server

  EXPECT_TRUE(SendPipe(client, "ab"));
  EXPECT_TRUE(SendPipe(client, "cdef"));
  EXPECT_TRUE(SendPipe(client, ""));
  ASSERT_TRUE(WaitUntil([&] { return StatusPipe(server) == 2; }, kPatienceMs));
  std::string text;
  EXPECT_TRUE(RecvPipe(server, text));
  EXPECT_EQ("ab", text);
  EXPECT_EQ(4, StatusPipe(server));
  EXPECT_TRUE(RecvPipe(server, text));
  EXPECT_EQ("cdef", text);
  EXPECT_EQ(0, StatusPipe(server));
  errno = 0;
  EXPECT_FALSE(RecvPipe(server, text));
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_EQ("cdef", text);

  std::string big(60000, 'z');
  EXPECT_TRUE(SendPipe(server, big));
  ASSERT_TRUE(WaitUntil([&] { return RecvPipe(client, text); }, kPatienceMs));
  EXPECT_EQ(big, text);

  // The server's last words stay readable after it lets the client go.
  EXPECT_TRUE(SendPipe(server, "bye"));
  EXPECT_TRUE(StopPipe(server));
  EXPECT_FALSE(StopPipe(client));
  ASSERT_TRUE(WaitUntil([&] { return RecvPipe(client, text); }, kPatienceMs));
  EXPECT_EQ("bye", text);
  errno = 0;
  EXPECT_FALSE(RecvPipe(client, text));
  EXPECT_EQ(EPIPE, errno);
  EXPECT_EQ(-1, StatusPipe(client));
  EXPECT_TRUE(KillPipe(client));
  EXPECT_FALSE(KillPipe(client));

  // The instance takes the next client.
  unsigned next = OpenPipe("\\\\.\\pipe\\Register");
  ASSERT_NE(kInvalidHandle, next);
  ASSERT_TRUE(WaitUntil([&] { return StartPipe(server); }, kPatienceMs));
  EXPECT_TRUE(KillPipe(next));
  // A client that has gone: the instance says so.
  ASSERT_TRUE(WaitUntil([&] { return !StartPipe(server) && errno == EPIPE; }, kPatienceMs));
  EXPECT_FALSE(RecvPipe(server, text));
  EXPECT_EQ(EPIPE, errno);
  std::string file = RuntimePath("pipe", "register", true, 107);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(KillPipe(server));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ChannelTest, PipeFailureValues) {
  auto start = Clock::now();
  EXPECT_EQ(kInvalidHandle, OpenPipe("\\\\.\\pipe\\nobody"));
  EXPECT_LT(MillisecondsSince(start), 2000);  // no such pipe: no waiting
  EXPECT_EQ(kInvalidHandle, OpenPipe("\\\\server\\pipe\\x"));
  EXPECT_EQ(kInvalidHandle, OpenPipe("x"));
  EXPECT_EQ(kInvalidHandle, OpenPipe("\\\\.\\pipe\\"));
  EXPECT_EQ(kInvalidHandle, MakePipe(""));
  std::string text;
  EXPECT_FALSE(SendPipe(77, "x"));
  EXPECT_FALSE(RecvPipe(77, text));
  EXPECT_EQ(-1, StatusPipe(77));
  EXPECT_FALSE(StartPipe(77));
  EXPECT_FALSE(StopPipe(77));
  EXPECT_FALSE(KillPipe(77));
  // A live pipe's name cannot be taken by another process.
  Holder holder = StartHolder([] { return MakePipe("taken") != kInvalidHandle; });
  EXPECT_TRUE(holder.answer);
  EXPECT_EQ(kInvalidHandle, MakePipe("taken"));
  ReleaseHolder(holder);
  // Once it has gone, the name is free.
  unsigned server = MakePipe("taken");
  EXPECT_NE(kInvalidHandle, server);
  EXPECT_TRUE(KillPipe(server));
}

TEST_F(ChannelTest, PipeInstancesTakeOneClientEach) {
  unsigned first = MakePipe("multi");
  unsigned second = MakePipe("MULTI");
  ASSERT_NE(kInvalidHandle, first);
  ASSERT_NE(kInvalidHandle, second);
  EXPECT_NE(first, second);
  unsigned a = OpenPipe("\\\\.\\pipe\\multi");
  ASSERT_NE(kInvalidHandle, a);
  ASSERT_TRUE(WaitUntil([&] { return StartPipe(first); }, kPatienceMs));
  unsigned b = OpenPipe("\\\\.\\pipe\\multi");
  ASSERT_NE(kInvalidHandle, b);
  ASSERT_TRUE(WaitUntil([&] { return StartPipe(second); }, kPatienceMs));
  EXPECT_TRUE(SendPipe(a, "to first"));
  EXPECT_TRUE(SendPipe(b, "to second"));
  std::string text;
  ASSERT_TRUE(WaitUntil([&] { return RecvPipe(first, text); }, kPatienceMs));
  EXPECT_EQ("to first", text);
  ASSERT_TRUE(WaitUntil([&] { return RecvPipe(second, text); }, kPatienceMs));
  EXPECT_EQ("to second", text);
  // The name lives while an instance does.
  EXPECT_TRUE(KillPipe(first));
  EXPECT_TRUE(KillPipe(a));
  unsigned c = OpenPipe("\\\\.\\pipe\\multi");
  EXPECT_NE(kInvalidHandle, c);
  EXPECT_TRUE(KillPipe(c));
  EXPECT_TRUE(KillPipe(second));
  EXPECT_TRUE(KillPipe(b));
  EXPECT_EQ(kInvalidHandle, OpenPipe("\\\\.\\pipe\\multi"));
}

TEST_F(ChannelTest, PipeBetweenThreads) {
  unsigned server = MakePipe("echo");
  ASSERT_NE(kInvalidHandle, server);
  std::atomic<int> echoed{0};
  std::thread echo([&] {
    if (!WaitUntil([&] { return StartPipe(server); }, kPatienceMs)) return;
    std::string text;
    while (echoed < 20 && WaitUntil([&] { return RecvPipe(server, text); }, kPatienceMs)) {
      if (SendPipe(server, "echo: " + text)) ++echoed;
    }
  });
  unsigned client = OpenPipe("\\\\.\\pipe\\echo");
  ASSERT_NE(kInvalidHandle, client);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(SendPipe(client, std::to_string(i)));
    std::string reply;
    ASSERT_TRUE(WaitUntil([&] { return RecvPipe(client, reply); }, kPatienceMs));
    EXPECT_EQ("echo: " + std::to_string(i), reply);
  }
  echo.join();
  EXPECT_EQ(20, echoed.load());
  EXPECT_TRUE(KillPipe(client));
  EXPECT_TRUE(KillPipe(server));
}

TEST_F(ChannelTest, PipeBetweenProcesses) {
  unsigned server = MakePipe("parish-office");
  ASSERT_NE(kInvalidHandle, server);
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    unsigned h = OpenPipe("\\\\.\\pipe\\Parish-Office");
    if (h == kInvalidHandle || !SendPipe(h, "ping")) _exit(1);
    std::string reply;
    if (!syshelp::WaitUntil([&] { return RecvPipe(h, reply); }, 20000)) _exit(2);
    _exit(reply == "pong" && KillPipe(h) ? 0 : 3);
  }
  ASSERT_TRUE(WaitUntil([&] { return StartPipe(server); }, kPatienceMs));
  std::string text;
  ASSERT_TRUE(WaitUntil([&] { return RecvPipe(server, text); }, kPatienceMs));
  EXPECT_EQ("ping", text);
  EXPECT_TRUE(SendPipe(server, "pong"));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(StartPipe(server));
  EXPECT_EQ(EPIPE, errno);
  EXPECT_TRUE(StopPipe(server));
  EXPECT_TRUE(KillPipe(server));
}

}  // namespace
}  // namespace textutil
