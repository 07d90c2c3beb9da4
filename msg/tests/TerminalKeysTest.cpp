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

std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

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

// Runs body in a child of a new session (no controlling terminal) with
// standard output and error on pipes.
struct ChildResult {
    int status = -1;
    std::string out;
    std::string err;
};

template <class Body>
ChildResult RunChild(Body body) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        return {};
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(30);  // guard against a hang; a killed child fails the test
        setsid();
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        SetUiLanguage(Language::English);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ChildResult result;
    result.out = ReadAll(outPipe[0]);
    result.err = ReadAll(errPipe[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

TEST(TerminalKeys, ConsoleSinkOnTheControllingTerminal) {
    Pty pty;
    ASSERT_FALSE(pty.slaveName.empty());
    // Typed ahead; the child reads them one prompt after the other.
    pty.Write("x\x1by\r\x1b");
    const std::string slaveName = pty.slaveName;
    const ChildResult child = RunChild([&slaveName] {
        const int tty = open(slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
        if (tty < 0) {
            return 90;
        }
        ioctl(tty, TIOCSCTTY, 0);
        CConsoleMsg console;
        return console.Show("first", MB_YESNO) == IDYES &&
                       console.Show("second", MB_OKCANCEL) == IDOK &&
                       console.Show("third", MB_OKCANCEL) == IDCANCEL
                   ? 0
                   : 91;
    });
    ASSERT_TRUE(WIFEXITED(child.status)) << child.status;
    EXPECT_EQ(WEXITSTATUS(child.status), 0);
    const std::string yesNo = "Push the key for Y)es / N)o\n> ";
    const std::string okCancel = "Push the key for Enter) Ok / Esc) Cancel\n> ";
    EXPECT_EQ(child.out, yesNo + "x !\n" + yesNo + "Esc !\n" + yesNo + "y\n" + okCancel +
                             "Enter\n" + okCancel + "Esc\n");
    EXPECT_EQ(child.err, "first\nsecond\nthird\n");
}

TEST(TerminalKeys, ConsoleSinkWithoutTerminalAnswersAtOnce) {
    const ChildResult child = RunChild([] {
        if (ReadControllingTerminalKey() != -1) {
            return 94;
        }
        CConsoleMsg console;
        return console.Show("overwrite?", MB_OKCANCEL) == IDCANCEL &&
                       console.Show("stop?", MB_YESNO) == IDNO
                   ? 0
                   : 95;
    });
    ASSERT_TRUE(WIFEXITED(child.status)) << child.status;
    EXPECT_EQ(WEXITSTATUS(child.status), 0);
    EXPECT_EQ(child.out,
              "Push the key for Enter) Ok / Esc) Cancel\n> \nPush the key for Y)es / N)o\n> \n");
    EXPECT_EQ(child.err, "overwrite?\nstop?\n");
}

}  // namespace
