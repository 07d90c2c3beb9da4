#include "msg/TerminalKeys.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "msg/ConsoleMsg.h"
#include "msg/StringTable.h"

namespace {

// A pseudo-terminal master and the name of its slave side.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            slaveName = ptsname(master);
        }
    }
    ~Pty() { close(master); }
    void Write(const std::string& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int master = -1;
    std::string slaveName;
};

TEST(TerminalKeys, ReadsKeysFromATerminalAndRestoresItsSettings) {
    EXPECT_EQ(ReadTerminalKey(-1), -1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    EXPECT_EQ(ReadTerminalKey(fds[0]), -1);  // a pipe is no terminal
    close(fds[0]);
    close(fds[1]);

    Pty pty;
    ASSERT_FALSE(pty.slaveName.empty());
    const int slave = open(pty.slaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    // Typed before the first read: the keys must not be lost by the mode switch.
    pty.Write("y\x1b\rA\xe3\x81\xaf");
    EXPECT_EQ(ReadTerminalKey(slave), 'y');
    EXPECT_EQ(ReadTerminalKey(slave), 27);
    EXPECT_EQ(ReadTerminalKey(slave), '\n');  // carriage return arrives as a line feed
    EXPECT_EQ(ReadTerminalKey(slave), 'A');
    EXPECT_EQ(ReadTerminalKey(slave), 0x306F);  // U+306F, three UTF-8 bytes

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);

    // Hang-up: the other side is gone, the read fails instead of blocking.
    close(std::exchange(pty.master, -1));
    EXPECT_EQ(ReadTerminalKey(slave), -1);
    close(slave);
}

}  // namespace
