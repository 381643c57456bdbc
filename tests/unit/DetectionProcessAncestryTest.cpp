#include "platform/ProcessAncestry.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using parlo::platform::ProcessAncestry;

namespace {

// A child process owned by the test, killed by its pid at the end.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

// A copy of this test program: same executable, like a browser's helper.
pid_t forkHelper() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::pause();
        ::_exit(0);
    }
    return pid;
}

pid_t spawn(const std::string& program) {
    pid_t pid = 0;
    std::string argument = "30";
    char* argv[] = {const_cast<char*>(program.c_str()), argument.data(), nullptr};
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

// Waits until the spawned program has replaced the forked copy of this one.
void awaitExec(pid_t pid, const std::string& program) {
    for (int i = 0; i < 200 && parlo::platform::processImageOf(pid) != program; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

TEST(ProcessAncestry, ReadsParentAndImageOfRealProcesses) {
    EXPECT_EQ(parlo::platform::parentProcessOf(::getpid()), ::getppid());
    EXPECT_EQ(parlo::platform::processImageOf(::getpid()),
              std::filesystem::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(parlo::platform::parentProcessOf(0), 0);
    EXPECT_EQ(parlo::platform::processImageOf(-1), "");
}

TEST(ProcessAncestry, HelperRunningTheSameProgramBelongsToItsParent) {
    Child helper(forkHelper());
    ASSERT_GT(helper.pid(), 0);
    ProcessAncestry ancestry;
    // Our own parent (the test runner or a shell) runs another program, so the walk stops here.
    EXPECT_EQ(ancestry.applicationOf(helper.pid()), ::getpid());
    EXPECT_EQ(ancestry.applicationOf(::getpid()), ::getpid());
}

TEST(ProcessAncestry, AnotherProgramStartedByUsIsItsOwnApplication) {
    const std::string sleepProgram = "/bin/sleep";
    Child other(spawn(sleepProgram));
    ASSERT_GT(other.pid(), 0);
    awaitExec(other.pid(), std::filesystem::canonical(sleepProgram).string());
    ProcessAncestry ancestry;
    EXPECT_EQ(ancestry.applicationOf(other.pid()), other.pid());
    // A pid that no longer exists is taken as it is.
    EXPECT_EQ(ProcessAncestry().applicationOf(0x3ffffff0), 0x3ffffff0);
}

TEST(ProcessAncestry, FindsProcessesByProgramNameEvenWithParenthesesInIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A name that looks like the end of the command field in /proc/<pid>/stat.
    const std::string program = dir.path().toStdString() + "/zz) 1 (probe";
    std::filesystem::copy_file("/bin/sleep", program);
    Child child(spawn(program));
    ASSERT_GT(child.pid(), 0);
    awaitExec(child.pid(), program);

    EXPECT_EQ(parlo::platform::parentProcessOf(child.pid()), ::getpid());
    const auto found = parlo::platform::processesRunning({"zz) 1 (probe"});
    EXPECT_EQ(found, std::vector<std::int32_t>{child.pid()});
    EXPECT_TRUE(parlo::platform::processesRunning({"no-such-program-here"}).empty());
}
