// The settings file "pz.ini": read as the Windows profile functions read it,
// written one key at a time without disturbing anything else.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_replace.h"
#include "settings_store.h"
#include "test_env.h"
#include "writer_race.h"

// Every byte this binary allocates, so that a test can see what one call costs.
static std::atomic<std::size_t> allocated{0};

void* operator new(std::size_t size)
{
    allocated += size;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::string settingsIn(const std::string& dir) { return dir + "/pz.ini"; }

std::vector<std::string> entriesOf(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

} // namespace

TEST(SettingsFile, shouldReadFilesAsTheWindowsFunctionsRead)
{
    const std::string longest(10239, 'x');
    const std::string doubled = "[yy]\nk=1\n[sz]\n[yy]\nk=2\nj=3\n";
    struct Case {
        const char* what;
        std::string file;
        Text section, key, expected;
    } cases[] = {
        {"GBK, CR LF", "[yy]\r\n音乐=D:\\音乐\\铃声.mp3\r\n程序=a\r\n", "yy", "音乐", "D:\\音乐\\铃声.mp3"},
        {"LF", "[sz]\n最前=真\n", "sz", "最前", "真"},
        {"blanks around names and values", " [ yy ] \n\t音乐 \t=  a b \t\n", "yy", "音乐", "a b"},
        {"ASCII case ignored", "[YY]\nKey=1\n", "yy", "kEY", "1"},
        {"trail byte that looks like a letter not folded", "[yy]\n\x81\x41=1\n", "yy", "\x81\x61", ""},
        {"trail byte that looks like ']'", "[\x81\x5D]\nk=1\n", "\x81\x5D", "k", "1"},
        {"double quotes dropped", "[yy]\nk=\" a \"\n", "yy", "k", " a "},
        {"single quotes dropped", "[yy]\nk='a'\n", "yy", "k", "a"},
        {"unmatched quotes kept", "[yy]\nk=\"a'\n", "yy", "k", "\"a'"},
        {"comment lines", "[yy]\n;k=no\n  ; k=no\nk=yes\n", "yy", "k", "yes"},
        {"first copy of a doubled section", doubled, "yy", "k", "1"},
        {"second copy of a doubled section", doubled, "yy", "j", ""},
        {"line without '='", "[yy]\nk\nj=2\n", "yy", "k", ""},
        {"key after a line without '='", "[yy]\nk\nj=2\n", "yy", "j", "2"},
        {"blank lines, a key outside any section, no final newline", "k=0\n\n[yy]\n \t\nk=1", "yy", "k", "1"},
        {"'=' and ';' inside a value", "[yy]\nk=a=b;c\n", "yy", "k", "a=b;c"},
        {"10,239 bytes", "[yy]\nk=" + longest + "\n", "yy", "k", longest},
        {"10,240 bytes", "[yy]\nk=" + longest + "y\n", "yy", "k", longest},
        {"zero byte", std::string("[yy]\nk=ab\0cd\n", 13), "yy", "k", "ab"},
    };
    const std::string dir = testenv::freshDir();
    for (const Case& c : cases) {
        testenv::writeFile(settingsIn(dir), c.file);
        EXPECT_EQ(ReadIniValue(settingsIn(dir), c.section, c.key), c.expected) << c.what;
    }

    // Missing entries give the default, which loses its trailing blanks as
    // Microsoft documents; a key that is there, even empty, does not.
    testenv::writeFile(settingsIn(dir), "[yy]\n程序=\n");
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "yy", "程序", "默认"), "");
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "yy", "音乐", "默认  "), "默认");
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "sz", "最前", ""), "");
    EXPECT_EQ(ReadIniValue(dir + "/missing.ini", "yy", "音乐", "默认"), "默认");
}

TEST(SettingsFile, shouldSkipLeadingControlBytesAndAnswerEmptyNamesWithoutReading)
{
    const std::string dir = testenv::freshDir();
    testenv::writeFile(settingsIn(dir), "[yy]\r\n音乐=a\r\n");
    EXPECT_EQ(ReadIniValue(" \t\r\n" + settingsIn(dir), "\x01\x1F yy", "\x20音乐"), "a");
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "\t ", "音乐", "默认"), "");
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "yy", "", "默认"), "");
    EXPECT_EQ(ReadIniValue("\n", "yy", "音乐", "默认"), "");
    // The ideographic space is a GBK character, not a blank.
    EXPECT_EQ(ReadIniValue(settingsIn(dir), "　yy", "音乐", "默认"), "默认");
}

TEST(SettingsFile, shouldChangeOnlyTheWrittenKeyAndAddNewOnesAtTheEnd)
{
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    testenv::writeFile(ini,
                       "; 倒计时\r\n[yy]\r\n音乐 = \"C:\\旧.mp3\"\r\n程序=a\r\n\r\n"
                       "[sz]\r\n最前=假\r\n; 注释\r\n\r\n[其他]\r\nx=1");
    chmod(ini.c_str(), 0640);
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", "D:\\新.mp3"));
    EXPECT_TRUE(WriteIniValue(ini, "SZ", "自启", "真"));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "程序2", "b"));
    EXPECT_TRUE(WriteIniValue(ini, "新", "k", "v"));
    EXPECT_EQ(testenv::readFile(ini),
              "; 倒计时\r\n[yy]\r\n音乐 = D:\\新.mp3\r\n程序=a\r\n程序2=b\r\n\r\n"
              "[sz]\r\n最前=假\r\n自启=真\r\n; 注释\r\n\r\n[其他]\r\nx=1\r\n[新]\r\nk=v\r\n");
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // An LF file keeps LF, and its unfinished last line is finished first.
    testenv::writeFile(ini, "[yy]\nk=1");
    EXPECT_TRUE(WriteIniValue(ini, "yy", "j", "2"));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\nk=1\nj=2\n");
}

TEST(SettingsFile, shouldCreateTheFileOnlyWithTheFirstWrite)
{
    const std::string dir = testenv::freshDir();
    ASSERT_EQ(mkdir((dir + "/" + reinterpret_cast<const char*>(u8"设置")).c_str(), 0700), 0);
    const Text ini = dir + "/设置/pz.ini";  // GB18030 here, UTF-8 on disk
    const std::string onDisk = dir + "/" + reinterpret_cast<const char*>(u8"设置/pz.ini");
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", std::nullopt));
    EXPECT_TRUE(WriteIniValue(ini, "yy", std::nullopt, std::nullopt));
    EXPECT_FALSE(testenv::exists(onDisk));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", "x"));
    EXPECT_EQ(testenv::readFile(onDisk), "[yy]\r\n音乐=x\r\n");
}

TEST(SettingsFile, shouldDeleteTheKeyForAnOmittedValueAndTheSectionForAnOmittedKey)
{
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    testenv::writeFile(ini, "[yy]\r\n音乐=a\r\n程序=b\r\n[sz]\r\n最前=真\r\n[YY]\r\n程序3=c\r\n");
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", std::nullopt));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n程序=b\r\n[sz]\r\n最前=真\r\n[YY]\r\n程序3=c\r\n");
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", std::nullopt));
    EXPECT_TRUE(WriteIniValue(ini, "yy", std::nullopt, "ignored"));
    EXPECT_EQ(testenv::readFile(ini), "[sz]\r\n最前=真\r\n");
}

TEST(SettingsFile, shouldReturnFalseAndKeepTheOldFileWhenTheWriteFails)
{
    // Tests run as root, for whom permission bits do not make a directory
    // read-only; these paths refuse even root.
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    const std::string before = "[yy]\r\n音乐=a\r\n";
    testenv::writeFile(ini, before);
    // The parent is a regular file.
    EXPECT_FALSE(WriteIniValue(ini + "/pz.ini", "yy", "音乐", "b"));
    // /proc takes no new files, so no temporary file can be made beside this one.
    const std::string version = testenv::readFile("/proc/version");
    EXPECT_FALSE(WriteIniValue("/proc/version", "yy", "音乐", "b"));
    EXPECT_EQ(testenv::readFile("/proc/version"), version);
    // A line break would put lines of its own into the file.
    EXPECT_FALSE(WriteIniValue(ini, "yy", "音乐", "b\r\n[sz]\r\n最前=真"));

    // A full disk, as the file size limit makes it: the write stops half way.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = before.size();
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = WriteIniValue(ini, "yy", "程序", "b");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);

    EXPECT_EQ(testenv::readFile(ini), before);
    EXPECT_EQ(entriesOf(dir), std::vector<std::string>{"pz.ini"});
}

TEST(SettingsFile, shouldWriteTheFileALinkNamesAndKeepTheLink)
{
    const std::string dir = testenv::freshDir();
    const std::string elsewhere = testenv::freshDir("elsewhere");
    const std::string ini = settingsIn(dir);
    testenv::writeFile(elsewhere + "/target.ini", "[yy]\r\n音乐=a\r\n");
    ASSERT_EQ(symlink((elsewhere + "/target.ini").c_str(), ini.c_str()), 0);
    EXPECT_TRUE(WriteIniValue(ini, "sz", "最前", "真"));
    EXPECT_EQ(testenv::readFile(elsewhere + "/target.ini"), "[yy]\r\n音乐=a\r\n[sz]\r\n最前=真\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_EQ(entriesOf(dir), std::vector<std::string>{"pz.ini"});
    EXPECT_EQ(entriesOf(elsewhere), std::vector<std::string>{"target.ini"});

    // A dangling link does not create its target.
    std::filesystem::remove(ini);
    ASSERT_EQ(symlink("nothing", ini.c_str()), 0);
    EXPECT_TRUE(WriteIniValue(ini, "sz", "最前", "真"));
    EXPECT_FALSE(testenv::exists(dir + "/nothing"));
    EXPECT_EQ(testenv::readFile(ini), "[sz]\r\n最前=真\r\n");
}

TEST(SettingsFile, shouldLeaveAReadOnlyFileAloneAndSaySo)
{
    // Root may write anything; the owner's write bit still makes it read-only.
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    testenv::writeFile(ini, "[yy]\r\n音乐=a\r\n");
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    EXPECT_FALSE(WriteIniValue(ini, "yy", "音乐", "b"));
    EXPECT_FALSE(WriteIniValue(ini, "yy", "音乐", "a"));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n音乐=a\r\n");
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST(SettingsFile, shouldKeepEveryByteOutsideTheWrittenKeyAfterABareCarriageReturn)
{
    const std::string ini = settingsIn(testenv::freshDir());
    testenv::writeFile(ini, "[a]\nk=v\r\r");
    EXPECT_EQ(ReadIniValue(ini, "a", "k"), "v\r");
    EXPECT_TRUE(WriteIniValue(ini, "a", "new", "1"));
    EXPECT_EQ(ReadIniValue(ini, "a", "k"), "v\r");
    EXPECT_EQ(testenv::readFile(ini), "[a]\nk=v\r\r\nnew=1\n");
}

TEST(SettingsFile, shouldLeaveNoTemporaryFilesBehindAKilledWriter)
{
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    const Text big(256 * 1024, 'x');  // long enough that most kills land mid-write
    ASSERT_TRUE(WriteIniValue(ini, "yy", "音乐", big));
    for (int i = 0; i < 40; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (int n = 0;; ++n)
                WriteIniValue(ini, "yy", "音乐", big + std::to_string(n % 2));  // each one a real change
        usleep(static_cast<useconds_t>(1000 + (i * 617) % 4000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    EXPECT_TRUE(WriteIniValue(ini, "yy", "程序", "a"));
    EXPECT_TRUE(ReadIniValue(ini, "yy", "音乐") == big.substr(0, 10239)) << "a whole write is read";
    EXPECT_EQ(entriesOf(dir), std::vector<std::string>{"pz.ini"});
}

TEST(SettingsFile, shouldKeepTheOtherProgramsKeysInASharedFile)
{
    const std::string ini = settingsIn(testenv::freshDir());
    // countdown and kitchentimer, one after the other.
    EXPECT_TRUE(WriteIniValue(ini, "sz", "最前", "真"));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", "/声音/闹钟.mp3"));
    EXPECT_TRUE(WriteIniValue(ini, "sz", "自启", "假"));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", "/声音/厨房.mp3"));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "程序", "/bin/true"));
    EXPECT_EQ(ReadIniValue(ini, "sz", "最前"), "真");
    EXPECT_EQ(ReadIniValue(ini, "sz", "自启"), "假");
    EXPECT_EQ(ReadIniValue(ini, "yy", "音乐"), "/声音/厨房.mp3");
    EXPECT_EQ(ReadIniValue(ini, "yy", "程序"), "/bin/true");

    // Both at the same time: no write may drop a key of the other.
    auto program = [&](const char* section) {
        for (int i = 0; i < 25; ++i)
            WriteIniValue(ini, section, "k" + std::to_string(i), "v");
    };
    std::thread first(program, "a"), second(program, "b");
    first.join();
    second.join();
    for (const char* section : {"a", "b"})
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(ReadIniValue(ini, section, "k" + std::to_string(i)), "v") << section << i;
    EXPECT_EQ(ReadIniValue(ini, "yy", "音乐"), "/声音/厨房.mp3");
}

TEST(SettingsFile, shouldReturnAStoredPathByteForByte)
{
    const std::string ini = settingsIn(testenv::freshDir());
    const Text values[] = {
        "D:\\我的 音乐\\[新] a=b;c \"d\".mp3",
        "/home/用户/\x81\x30\x81\x30\x95\x5C\x81\x40.mp3",  // four-byte GB18030, a trail byte '\'
        "",
        std::string(10239, 'x'),
    };
    for (const Text& v : values) {
        EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", v));
        EXPECT_EQ(ReadIniValue(ini, "yy", "音乐"), v);
    }
}

TEST(SettingsFile, shouldReadBackValuesWithBlanksOrQuotesAtTheirEndsAsWritten)
{
    const std::string ini = settingsIn(testenv::freshDir());
    const Text values[] = {
        "/home/u/闹钟.mp3 ", " a", "\ta", "a\t", "   ", "\"x\"", "'x'", "\"\"", "\"", "'", "\"x'", " \"x\" ",
    };
    for (const Text& v : values) {
        EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", v));
        EXPECT_EQ(ReadIniValue(ini, "yy", "音乐"), v) << "[" << v << "]";
    }
    // Only such values are quoted, in double quotes, which Windows drops too.
    EXPECT_TRUE(WriteIniValue(ini, "yy", "音乐", "/home/u/闹钟.mp3 "));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "程序", "\"x'"));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n音乐=\"/home/u/闹钟.mp3 \"\r\n程序=\"x'\r\n");
}

TEST(SettingsFile, shouldWriteALargeFileWithoutHoldingItInMemory)
{
    const std::string ini = settingsIn(testenv::freshDir());
    const std::string blank(4 << 20, '\n');
    const std::string longLine(1 << 20, 'x');  // longer than any buffer
    testenv::writeFile(ini, "[yy]\nk=1\n" + blank + longLine + "\n[sz]\n" + blank + "音乐=a\n");
    const std::size_t before = allocated;
    EXPECT_TRUE(WriteIniValue(ini, "yy", "新", "v"));  // goes before the blank lines
    EXPECT_TRUE(WriteIniValue(ini, "sz", "音乐", "b"));
    EXPECT_TRUE(WriteIniValue(ini, "yy", "k", "1"));  // no change
    EXPECT_LT(allocated - before, std::size_t(1) << 20);
    EXPECT_TRUE(testenv::readFile(ini) == "[yy]\nk=1\n新=v\n" + blank + longLine + "\n[sz]\n" + blank + "音乐=b\n");
}

TEST(SettingsFile, shouldSaveWithoutWaitingForAnotherUsersLock)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    race::OpenFolder folder;
    const std::string ini = settingsIn(folder.path);
    ASSERT_TRUE(WriteIniValue(ini, "yy", "音乐", "a"));
    race::ForeignLock lock(folder.path);
    ASSERT_TRUE(lock.held);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(WriteIniValue(ini, "sz", "最前", "真"));
    EXPECT_TRUE(WriteIniValue(ini, "sz", "自启", "假"));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n音乐=a\r\n[sz]\r\n最前=真\r\n自启=假\r\n");
}

TEST(SettingsFile, shouldLoseNoKeyBetweenTheUsersWritersWhateverHoldsTheFolderOrWhereverTheyRun)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user and to make a PID namespace";
    constexpr int kKeys = 200;
    for (const race::Meeting& m : race::kMeetings) {
        race::OpenFolder folder;
        const std::string ini = settingsIn(folder.path);
        std::optional<race::ForeignLock> lock;
        if (m.neighbour) {
            ASSERT_TRUE(lock.emplace(folder.path).held);
        }
        race::inTwoProcesses(
            [&](int which) {
                for (int i = 0; i < kKeys; ++i)
                    WriteIniValue(ini, "yy", std::to_string(which) + "-" + std::to_string(i), "v");
            },
            m.sandboxed);
        int lost = 0;
        for (int which = 0; which < 2; ++which)
            for (int i = 0; i < kKeys; ++i)
                lost += ReadIniValue(ini, "yy", std::to_string(which) + "-" + std::to_string(i)) != "v";
        EXPECT_EQ(lost, 0) << m.what;
        EXPECT_EQ(entriesOf(folder.path), std::vector<std::string>{"pz.ini"}) << m.what;
    }
}

TEST(SettingsFile, shouldKeepALiveWritersTemporaryWhereverTheNextWriterRuns)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a PID namespace";
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    ASSERT_TRUE(WriteIniValue(ini, "yy", "a", "1"));
    // This process between naming its temporary and the rename...
    const int dirfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Replacement mine(dirfd, "pz.ini", nullptr);
    mine.write("[yy]\r\na=2\r\n");
    ASSERT_TRUE(mine.prepare());
    // ...while a sandboxed writer, to whom this process's PID means nothing, writes too.
    EXPECT_TRUE(race::inChild([&] { return WriteIniValue(ini, "yy", "b", "1"); }, race::Sandbox::pidNamespace));
    EXPECT_TRUE(mine.commit());
    close(dirfd);
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\na=2\r\n");
}

TEST(SettingsFile, shouldWriteWhereProcIsNotMounted)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hide /proc in a mount namespace";
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    ASSERT_TRUE(WriteIniValue(ini, "yy", "音乐", "a"));
    EXPECT_TRUE(race::inChild([&] { return !testenv::exists("/proc/self") && WriteIniValue(ini, "sz", "最前", "真"); },
                              race::Sandbox::noProc));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n音乐=a\r\n[sz]\r\n最前=真\r\n");
    EXPECT_EQ(entriesOf(dir), std::vector<std::string>{"pz.ini"});
}

TEST(SettingsFile, shouldWaitForAStoppedWriterOfTheUsersOnlyAMoment)
{
    const std::string dir = testenv::freshDir();
    const std::string ini = settingsIn(dir);
    ASSERT_TRUE(WriteIniValue(ini, "yy", "音乐", "a"));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const WriterLock turn(open(dir.c_str(), O_RDONLY | O_DIRECTORY), "pz.ini");
        (void)!write(ready[1], turn.held() ? "y" : "n", 1);
        raise(SIGSTOP);  // as a debugger or Ctrl+Z stops it, in the middle of a write
        _exit(0);
    }
    char held = 0;
    (void)!read(ready[0], &held, 1);
    const auto t0 = std::chrono::steady_clock::now();
    const bool written = WriteIniValue(ini, "sz", "最前", "真");
    const auto waited = std::chrono::steady_clock::now() - t0;
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(held, 'y');
    EXPECT_TRUE(written);
    EXPECT_GE(waited, WriterLock::kPatience);
    EXPECT_LT(waited, WriterLock::kPatience + std::chrono::seconds(5));
    EXPECT_EQ(testenv::readFile(ini), "[yy]\r\n音乐=a\r\n[sz]\r\n最前=真\r\n");
}
