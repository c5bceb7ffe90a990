// Detached starts of files, programs and addresses: what the started process
// gets, and when nothing is started at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <cstdlib>
#include <thread>

#include "shell.h"
#include "test_env.h"

namespace {

std::string waitForFile(const std::string& path)
{
    for (int i = 0; i < 500 && !testenv::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the writer finish
    return testenv::readFile(path);
}

void writeExecutable(const std::string& path, const std::string& text)
{
    testenv::writeFile(path, text);
    chmod(path.c_str(), 0755);
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldPath = std::getenv("PATH");
        bin = testenv::freshDir("bin");
        log = testenv::freshDir("log") + "/args";
        // Logs every argument on a line of its own.
        writeExecutable(bin + "/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + log + ".tmp\nmv " +
                                              log + ".tmp " + log + "\n");
        setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
        work = testenv::freshDir("work");
        oldDir = get_current_dir_name();
        ASSERT_EQ(chdir(work.c_str()), 0);
    }
    void TearDown() override
    {
        setenv("PATH", oldPath.c_str(), 1);
        (void)!chdir(oldDir);
        free(oldDir);
    }

    std::string oldPath, bin, log, work;
    char* oldDir = nullptr;
};

TEST_F(ShellTest, shouldRunAnExecutableFromTheCurrentDirectoryDetachedAndReaped)
{
    const std::string report = work + "/report";
    const char* probe = "#!/usr/bin/python3\n"
                        "import os, sys\n"
                        "fds = sorted(int(f) for f in os.listdir('/proc/self/fd'))\n"
                        "targets = [os.readlink('/proc/self/fd/%d' % f) for f in fds if os.path.exists('/proc/self/fd/%d' % f)]\n"
                        "open('report.tmp', 'w').write('\\n'.join([repr(sys.argv[1:]), os.getcwd(), str(os.getsid(0)),\n"
                        "    str(os.getppid()), targets[0]] + targets))\n"
                        "os.rename('report.tmp', 'report')\n";
    writeExecutable(work + "/tool.sh", probe);
    writeExecutable(bin + "/tool.sh", "#!/bin/sh\necho PATH > " + report + "\n");
    const std::string marker = work + "/inherited-marker";
    int leaked = open(marker.c_str(), O_CREAT | O_WRONLY, 0600);  // without close-on-exec
    ASSERT_GE(leaked, 3);

    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, "tool.sh", std::nullopt, ""));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child of ours is left to reap";
    close(leaked);

    std::string r = waitForFile(report);
    ASSERT_NE(r, "PATH\n") << "a relative name never goes through PATH";
    std::istringstream lines(r);
    std::string args, cwd, sid, ppid, stdinTarget;
    std::getline(lines, args);
    std::getline(lines, cwd);
    std::getline(lines, sid);
    std::getline(lines, ppid);
    std::getline(lines, stdinTarget);
    EXPECT_EQ(args, "[]");
    EXPECT_EQ(cwd, work);
    EXPECT_NE(std::stoi(sid), getsid(0)) << "a session of its own";
    EXPECT_NE(std::stoi(ppid), getpid());
    EXPECT_EQ(stdinTarget, "/dev/null");
    EXPECT_EQ(r.find("inherited-marker"), std::string::npos) << r;
}

TEST_F(ShellTest, shouldHandDocumentsAndAddressesToXdgOpenAsOneUnchangedArgument)
{
    const std::string doc = "a b & c? 'q' \"d\" 文档.txt";
    testenv::writeFile(work + "/" + doc, "text");
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, fromUtf8(doc), std::nullopt, ""));
    EXPECT_EQ(waitForFile(log), doc + "\n");
    unlink(log.c_str());

    // A name from an archive made on Windows keeps its bytes, in a folder named in UTF-8.
    ASSERT_EQ(mkdir((work + "/资料").c_str(), 0700), 0);
    const std::string gbk = fromUtf8("清单.txt");
    testenv::writeFile(work + "/资料/" + gbk, "text");
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, fromUtf8("资料/") + gbk, std::nullopt, ""));
    EXPECT_EQ(waitForFile(log), "资料/" + gbk + "\n");
    unlink(log.c_str());

    const std::string address = "https://example.com/a b?x=1&y='2'";
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, address, Text("ignored"), ""));
    EXPECT_EQ(waitForFile(log), address + "\n");
    unlink(log.c_str());

    // A verb that must not run a program shows even an executable.
    writeExecutable(work + "/run.sh", "#!/bin/sh\ntouch " + work + "/ran\n");
    EXPECT_TRUE(StartDetached(ShellMode::desktopOpen, "run.sh", std::nullopt, ""));
    EXPECT_EQ(waitForFile(log), "run.sh\n");
    EXPECT_FALSE(testenv::exists(work + "/ran"));
}

TEST_F(ShellTest, shouldOpenDocumentsWithAnExecuteBitAndRunOnlyWhatTheKernelExecutes)
{
    // As on a drive formatted for Windows: every file executable.
    writeExecutable(work + "/notes.txt", "touch " + work + "/notes-ran\n");
    const char mp3[] = "ID3\x04\0\0\0\0\0\0\xFF\xFB'\ntouch ";
    writeExecutable(work + "/song.mp3", std::string(mp3, sizeof mp3 - 1) + work + "/song-ran\n");
    for (const char* doc : {"notes.txt", "song.mp3"}) {
        EXPECT_TRUE(StartDetached(ShellMode::defaultAction, doc, std::nullopt, ""));
        EXPECT_EQ(waitForFile(log), std::string(doc) + "\n");
        unlink(log.c_str());
    }
    EXPECT_FALSE(testenv::exists(work + "/notes-ran"));
    EXPECT_FALSE(testenv::exists(work + "/song-ran"));

    // A compiled program still runs (a "#!" script does in the tests above).
    writeExecutable(work + "/program", testenv::readFile("/usr/bin/touch"));
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, "program", Text("program-ran"), ""));
    waitForFile(work + "/program-ran");
    EXPECT_TRUE(testenv::exists(work + "/program-ran"));
    EXPECT_FALSE(testenv::exists(log));
}

TEST_F(ShellTest, shouldHandANameBeginningWithADashOnAsAPathNotAnOption)
{
    testenv::writeFile(work + "/-清单.txt", "text");
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, fromUtf8("-清单.txt"), std::nullopt, ""));
    EXPECT_EQ(waitForFile(log), "./-清单.txt\n");

    writeExecutable(work + "/-rf", "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > out.tmp; mv out.tmp out\n");
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, "-rf", Text("--help"), ""));
    EXPECT_EQ(waitForFile(work + "/out"), "./-rf|--help|");
}

TEST_F(ShellTest, shouldStartInTheBackgroundAsWellAndNotLoseAStartAtExit)
{
    // A process that ends right after asking still makes its start. (The child
    // must be the first to use the launcher: a fork does not copy its thread.)
    writeExecutable(work + "/late.sh", "#!/bin/sh\ntouch " + work + "/late-ran\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StartDetachedInBackground(ShellMode::defaultAction, "late.sh", std::nullopt, "");
        _exit(FinishBackgroundStarts(std::chrono::seconds(5)) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    waitForFile(work + "/late-ran");
    EXPECT_TRUE(testenv::exists(work + "/late-ran"));

    StartDetachedInBackground(ShellMode::defaultAction, "https://example.com/", std::nullopt, "");
    EXPECT_EQ(waitForFile(log), "https://example.com/\n");
}

TEST_F(ShellTest, shouldPassParametersAndRunInTheNamedDirectory)
{
    const std::string other = testenv::freshDir("other");
    writeExecutable(other + "/p.sh", "#!/bin/sh\nprintf '%s|' \"$PWD\" \"$@\" > out.tmp; mv out.tmp out\n");
    EXPECT_TRUE(StartDetached(ShellMode::defaultAction, "p.sh", Text("-a \"b c\""), fromUtf8(other)));
    EXPECT_EQ(waitForFile(other + "/out"), other + "|-a|b c|");
}

TEST_F(ShellTest, shouldStartNothingForAnEmptyOrMissingFileOrWithoutXdgOpen)
{
    EXPECT_FALSE(StartDetached(ShellMode::defaultAction, "", std::nullopt, ""));
    EXPECT_FALSE(StartDetached(ShellMode::defaultAction, "no-such-file.txt", std::nullopt, ""));
    EXPECT_FALSE(StartDetached(ShellMode::defaultAction, "/no/such/dir/x", std::nullopt, ""));
    setenv("PATH", "/nonexistent", 1);
    EXPECT_FALSE(StartDetached(ShellMode::defaultAction, "https://example.com/", std::nullopt, ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(testenv::exists(log));
}

} // namespace
