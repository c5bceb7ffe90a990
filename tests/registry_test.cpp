// The per-user registry store and the autostart entries it keeps.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "registry_store.h"
#include "test_env.h"
#include "writer_race.h"

namespace rs = registry_store;

namespace {

const Text kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

rs::Data sz(std::string s) { return {rs::Type::sz, s + '\0'}; }

struct RegistryStore : ::testing::Test {
    std::string config;
    std::string savedConfig = std::getenv("XDG_CONFIG_HOME");

    void SetUp() override
    {
        config = testenv::freshDir("config");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override { setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1); }

    std::string entry() const { return config + "/autostart/zuv.desktop"; }
    static std::vector<std::string> list(const std::string& dir)
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        return names;
    }
};

// Root is exempt from permission bits; take that away from this thread while a scope lasts.
struct WithoutOverride {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    WithoutOverride()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        syscall(SYS_capset, &header, reduced);
    }
    ~WithoutOverride() { syscall(SYS_capset, &header, saved); }
};

TEST_F(RegistryStore, shouldKeepValuesByTypeAcrossRestartsWithNamesInAnyCase)
{
    ASSERT_TRUE(rs::setValue(3, "Software\\Ruvo", "Count", rs::Data{rs::Type::dword, std::string("\x05\0\0\0", 4)}));
    ASSERT_TRUE(rs::setValue(3, "Software\\Ruvo", "\xB5\xB9 name", sz("a b%-\n\xCA\xB1")));
    ASSERT_TRUE(rs::setValue(3, "Software\\Ruvo", "", rs::Data{rs::Type::binary, ""}));
    // Another process reads only the file.
    EXPECT_TRUE(testenv::readFile(rs::storeFile()).starts_with("ruvo registry 1\n"));
    const auto count = rs::readValue(3, "SOFTWARE\\ruvo", "count");
    ASSERT_TRUE(count);
    EXPECT_EQ(count->type, rs::Type::dword);
    EXPECT_EQ(count->bytes, std::string("\x05\0\0\0", 4));
    EXPECT_EQ(rs::readValue(3, "Software\\Ruvo", "\xB5\xB9 name")->bytes, std::string("a b%-\n\xCA\xB1") + '\0');
    EXPECT_TRUE(rs::valueExists(3, "Software\\Ruvo", ""));
    EXPECT_FALSE(rs::valueExists(4, "Software\\Ruvo", "Count"));
    // A second write replaces the value.
    ASSERT_TRUE(rs::setValue(3, "software\\RUVO", "COUNT", sz("x")));
    EXPECT_EQ(rs::readValue(3, "Software\\Ruvo", "Count")->type, rs::Type::sz);
}

TEST_F(RegistryStore, shouldCreateKeysAboveAndDeleteOnlyKeysWithoutSubkeys)
{
    EXPECT_FALSE(rs::setValue(3, "A\\B\\C", "v", std::nullopt));  // creates the keys, writes nothing
    EXPECT_FALSE(rs::deleteKey(3, "A\\B"));
    EXPECT_TRUE(rs::setValue(3, "A\\B", "w", sz("1")));
    EXPECT_TRUE(rs::deleteKey(3, "a\\b\\c"));
    EXPECT_TRUE(rs::deleteKey(3, "A\\B"));
    EXPECT_FALSE(rs::valueExists(3, "A\\B", "w"));
    EXPECT_FALSE(rs::deleteKey(3, "A\\B"));
    EXPECT_FALSE(rs::deleteValue(3, "A", "w"));
    // Names may not be empty, nor the path begin with a backslash.
    EXPECT_FALSE(rs::setValue(3, "\\A", "v", sz("1")));
    EXPECT_FALSE(rs::setValue(3, "A\\\\B", "v", sz("1")));
    // A trail byte 0x5C belongs to its character, not to the path.
    EXPECT_TRUE(rs::setValue(3, "\x81\x5C", "v", sz("1")));
    EXPECT_TRUE(rs::valueExists(3, "\x81\x5C", "v"));
}

// The argument vector a desktop reads from an Exec value: string escapes first,
// then the quoting of arguments.
std::vector<std::string> execArguments(const std::string& entry)
{
    const size_t at = entry.find("\nExec=") + 6;
    const std::string value = entry.substr(at, entry.find('\n', at) - at);
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i)
        unescaped += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
    std::vector<std::string> args(1);
    bool quoted = false;
    for (size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (c == '"')
            quoted = !quoted;
        else if (quoted && c == '\\')
            args.back() += unescaped[++i];
        else if (!quoted && c == ' ')
            args.emplace_back();
        else
            args.back() += c;
    }
    return args;
}

TEST_F(RegistryStore, shouldStartAProgramWhoseFolderNameIsNotUtf8)
{
    // A folder named in GBK ("倒计时"), as an archive made on Windows unpacks it.
    const std::string folder = testenv::freshDir("run") + "/\xB5\xB9\xBC\xC6\xCA\xB1";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string marker = folder + "/started";
    testenv::writeFile(folder + "/countdown", "#!/bin/sh\ntouch '" + marker + "'\n");
    chmod((folder + "/countdown").c_str(), 0755);
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz(fromFileName(folder + "/countdown"))));

    const std::string entry = testenv::readFile(this->entry());
    EXPECT_TRUE(convertStrict(entry, "UTF-8", "UTF-8")) << "a desktop entry is UTF-8";
    const std::vector<std::string> args = execArguments(entry);
    ASSERT_EQ(args.size(), 3u);
    const pid_t child = fork();
    if (child == 0) {
        execl(args[0].c_str(), args[0].c_str(), args[1].c_str(), args[2].c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(testenv::exists(marker));
}

// Starts an entry as GNOME's session does, with GLib's own parser.
bool launchedByGLib(const std::string& entry, const std::string& marker)
{
    unlink(marker.c_str());
    const pid_t child = fork();
    if (child == 0) {
        execlp("gio", "gio", "launch", entry.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 127) << "gio is missing (libglib2.0-bin)";
    for (int i = 0; i < 1000 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && !testenv::exists(marker); ++i)
        usleep(10000);
    return testenv::exists(marker);
}

TEST_F(RegistryStore, shouldWriteAnEntryThatGLibStartsWhenThePathHoldsAPercentSign)
{
    const std::string folder = testenv::freshDir("run") + "/倒计时 100%d %%";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string program = folder + "/countdown", marker = folder + "/started";
    testenv::writeFile(program, "#!/bin/sh\ntouch '" + marker + "'\n");
    chmod(program.c_str(), 0755);
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz(fromFileName(program))));
    EXPECT_TRUE(launchedByGLib(entry(), marker));

    // An entry as written before, the '%' doubled, is brought up to date by the
    // save that asks for it, and still counts as present.
    std::string doubled;
    for (char c : program)
        doubled += c == '%' ? "%%" : std::string(1, c);
    testenv::writeFile(entry(), "[Desktop Entry]\nType=Application\nName=zuv\nExec=\"" + doubled + "\"\n");
    ASSERT_FALSE(launchedByGLib(entry(), marker));
    EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));
    EXPECT_TRUE(launchedByGLib(entry(), marker));
    // One the user changed is left alone.
    testenv::writeFile(entry(), "[Desktop Entry]\nType=Application\nName=zuv\nExec=\"" + doubled + "\"\nComment=x\n");
    EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));
    EXPECT_NE(testenv::readFile(entry()).find(doubled), std::string::npos);
}

TEST_F(RegistryStore, shouldMirrorTheRunValueAsAnAutostartEntryThatStartsTheProgram)
{
    // "/opt/my 倒计时/countdown" in GB18030, with characters the Exec line must escape.
    const Text program = "/opt/my \xB5\xB9\xBC\xC6\xCA\xB1 $`\"\\/countdown";
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz(program)));
    EXPECT_EQ(testenv::readFile(entry()), "[Desktop Entry]\nType=Application\nName=zuv\n"
                                          "Exec=\"/opt/my 倒计时 \\\\$\\\\`\\\\\"\\\\\\\\/countdown\"\n");
    EXPECT_TRUE(rs::valueExists(4, "software\\microsoft\\windows\\currentversion\\run", "ZUV"));
    // Other roots and keys keep no entry.
    ASSERT_TRUE(rs::setValue(3, kRunKey, "other", sz("/x")));
    EXPECT_EQ(list(config + "/autostart"), std::vector<std::string>{"zuv.desktop"});

    ASSERT_TRUE(rs::deleteValue(4, kRunKey, "zuv"));
    EXPECT_FALSE(testenv::exists(entry()));
    EXPECT_FALSE(rs::valueExists(4, kRunKey, "zuv"));
    EXPECT_FALSE(rs::deleteValue(4, kRunKey, "zuv"));
}

TEST_F(RegistryStore, shouldCountAnEntryRemovedOrSwitchedOffByTheUserAsAbsent)
{
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz("/opt/countdown")));
    ASSERT_EQ(unlink(entry().c_str()), 0);
    EXPECT_FALSE(rs::valueExists(4, kRunKey, "zuv"));
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz("/opt/countdown")));
    EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));

    testenv::writeFile(entry(), testenv::readFile(entry()) + "Hidden = true\n");
    EXPECT_FALSE(rs::valueExists(4, kRunKey, "zuv"));
    testenv::writeFile(entry(), "[Desktop Entry]\r\nExec=/opt/countdown\r\nX-GNOME-Autostart-enabled=false\r\n");
    EXPECT_FALSE(rs::valueExists(4, kRunKey, "zuv"));
    testenv::writeFile(entry(), "[Desktop Entry]\nExec=/opt/countdown\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));
    // Deleting still removes the entry the user made by hand.
    EXPECT_TRUE(rs::deleteValue(4, kRunKey, "zuv"));
    EXPECT_FALSE(testenv::exists(entry()));
}

TEST_F(RegistryStore, shouldReplaceASymbolicLinkInTheEntrysPlaceWithoutWritingThroughIt)
{
    const std::string target = config + "/target.desktop";
    testenv::writeFile(target, "untouched");
    std::filesystem::create_directories(config + "/autostart");
    ASSERT_EQ(symlink(target.c_str(), entry().c_str()), 0);
    EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));  // a linked entry starts its program too

    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz("/opt/countdown")));
    struct stat st;
    ASSERT_EQ(lstat(entry().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(testenv::readFile(target), "untouched");

    ASSERT_EQ(unlink(entry().c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), entry().c_str()), 0);
    EXPECT_TRUE(rs::deleteValue(4, kRunKey, "zuv"));
    EXPECT_FALSE(testenv::exists(entry()));
    EXPECT_EQ(testenv::readFile(target), "untouched");
}

TEST_F(RegistryStore, shouldFailWithoutHarmInAReadOnlyConfigFolder)
{
    ASSERT_TRUE(rs::setValue(4, kRunKey, "zuv", sz("/opt/countdown")));
    const std::string before = testenv::readFile(rs::storeFile());
    for (const std::string& d : {config + "/ruvo", config + "/autostart", config})
        chmod(d.c_str(), 0500);
    {
        WithoutOverride restricted;
        EXPECT_FALSE(rs::setValue(4, kRunKey, "zuv", sz("/elsewhere/countdown")));
        EXPECT_FALSE(rs::setValue(3, "New", "v", sz("1")));
        EXPECT_FALSE(rs::deleteValue(4, kRunKey, "zuv"));
        EXPECT_TRUE(rs::valueExists(4, kRunKey, "zuv"));
    }
    for (const std::string& d : {config, config + "/ruvo", config + "/autostart"})
        chmod(d.c_str(), 0700);
    EXPECT_EQ(testenv::readFile(rs::storeFile()), before);
    EXPECT_EQ(list(config + "/ruvo"), std::vector<std::string>{"registry"});
    EXPECT_EQ(list(config + "/autostart"), std::vector<std::string>{"zuv.desktop"});
    EXPECT_NE(testenv::readFile(entry()).find("Exec=\"/opt/countdown\""), std::string::npos);

    // Without a config folder that can be made, nothing is written and nothing exists.
    setenv("XDG_CONFIG_HOME", (entry() + "/below-a-file").c_str(), 1);
    EXPECT_FALSE(rs::setValue(4, kRunKey, "zuv", sz("/opt/countdown")));
    EXPECT_FALSE(rs::valueExists(4, kRunKey, "zuv"));
}

TEST_F(RegistryStore, shouldKeepTheStoreOursAloneAndNeverWriteThroughALink)
{
    // A fresh store is the writer's own, whatever the umask allows.
    const mode_t oldMask = umask(0);
    const bool written = rs::setValue(3, "Software\\Ruvo", "v", sz("1"));
    umask(oldMask);
    ASSERT_TRUE(written);
    struct stat st {};
    ASSERT_EQ(lstat(rs::storeFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    // A store left readable by others becomes private at the next write.
    chmod(rs::storeFile().c_str(), 0644);
    ASSERT_TRUE(rs::setValue(3, "Software\\Ruvo", "v", sz("2")));
    ASSERT_EQ(stat(rs::storeFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A link to another user's file in its place: refused, the file untouched.
    const std::string theirs = testenv::freshDir("theirs") + "/registry";
    const std::string content = "ruvo registry 1\nkey 3\\Software\nvalue 3\\Software x 1 planted%00\n";
    testenv::writeFile(theirs, content);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
    ASSERT_EQ(unlink(rs::storeFile().c_str()), 0);
    ASSERT_EQ(symlink(theirs.c_str(), rs::storeFile().c_str()), 0);
    EXPECT_FALSE(rs::readValue(3, "Software", "x"));
    EXPECT_FALSE(rs::setValue(3, "Software\\Ruvo", "v", sz("3")));
    EXPECT_FALSE(rs::deleteValue(3, "Software", "x"));
    EXPECT_TRUE(std::filesystem::is_symlink(rs::storeFile()));
    EXPECT_EQ(testenv::readFile(theirs), content);
    ASSERT_EQ(stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

TEST_F(RegistryStore, shouldWriteWithoutWaitingForAnotherUsersLockOnItsFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    race::OpenFolder open;
    ASSERT_EQ(mkdir((open.path + "/ruvo").c_str(), 0755), 0);
    setenv("XDG_CONFIG_HOME", open.path.c_str(), 1);
    race::ForeignLock lock(open.path + "/ruvo");
    ASSERT_TRUE(lock.held);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(rs::setValue(3, "Software\\Ruvo", "v", sz("1")));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(rs::valueExists(3, "Software\\Ruvo", "v"));
}

TEST_F(RegistryStore, shouldLoseNoValueBetweenTheUsersWritersWhateverHoldsTheFolderOrWhereverTheyRun)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user and to make a PID namespace";
    constexpr int kValues = 200;
    for (const race::Meeting& m : race::kMeetings) {
        race::OpenFolder open;
        ASSERT_EQ(mkdir((open.path + "/ruvo").c_str(), 0755), 0);
        setenv("XDG_CONFIG_HOME", open.path.c_str(), 1);
        std::optional<race::ForeignLock> lock;
        if (m.neighbour) {
            ASSERT_TRUE(lock.emplace(open.path + "/ruvo").held);
        }
        race::inTwoProcesses(
            [&](int which) {
                for (int i = 0; i < kValues; ++i)
                    rs::setValue(3, "Software\\Ruvo", std::to_string(which) + "-" + std::to_string(i), sz("v"));
            },
            m.sandboxed);
        int lost = 0;
        for (int which = 0; which < 2; ++which)
            for (int i = 0; i < kValues; ++i)
                lost += !rs::valueExists(3, "Software\\Ruvo", std::to_string(which) + "-" + std::to_string(i));
        EXPECT_EQ(lost, 0) << m.what;
        EXPECT_EQ(list(open.path + "/ruvo"), std::vector<std::string>{"registry"}) << m.what;
    }
}

} // namespace
