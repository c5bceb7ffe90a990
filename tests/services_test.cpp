// Conversions, joining, truncation, the mode-7 normalisation, drawing rules and
// the two file operations.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cmath>
#include <future>

#include "drawing.h"
#include "files.h"
#include "runtime.h"
#include "services.h"
#include "test_env.h"

TEST(ToNumber, shouldReadDecimalTextsAfterMappingFullWidthForms)
{
    struct Case {
        Value in;
        double out;
    } cases[] = {
        {"１２", 12},   {"", 0},         {"5abc", 5},      {" -3.5", -3.5}, {"1e3", 1000},  {"1d3", 1000},
        {"1e", 1},      {"-", 0},        {".5", 0.5},      {"+7", 7},       {"\t\r\n 8", 8}, {"abc", 0},
        {"１．５", 1.5}, {"－２", -2},   {"　３", 3},       {"0x10", 0},     {"1E+2x", 100}, {"12000", 12000},
        {int32_t(7), 7}, {true, 1},      {false, 0},       {2.5, 2.5},      {Value(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToNumber(c.in), c.out) << ToText(c.in);
    // A lead byte with nothing after it is dropped.
    EXPECT_EQ(ToNumber(Text("5\xA3")), 5);
}

TEST(ToNumber, shouldNotDependOnTheProcessLocale)
{
    // A locale with a decimal comma, built into the test tree.
    std::string dir = testenv::freshDir("locale");
    std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 2>/dev/null";
    if (std::system(cmd.c_str()) != 0)
        GTEST_SKIP() << "no locale sources to build de_DE from";
    setenv("LOCPATH", dir.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(ToNumber("1.5"), 1.5);
    EXPECT_EQ(ToNumber("1,5"), 1);
    EXPECT_EQ(ToNumber("-3.25e1"), -32.5);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
}

TEST(ToText, shouldFormIntegersBoolsBytesAndUnits)
{
    EXPECT_EQ(ToText(int32_t(0)), "0");
    EXPECT_EQ(ToText(int64_t(-5)), "-5");
    EXPECT_EQ(ToText(true), "真");
    EXPECT_EQ(ToText(false), "假");
    EXPECT_EQ(ToText(UnitRef{WindowId{"w"}, "u"}), "");
    EXPECT_EQ(ToText(ByteSet{std::string_view("ab\0cd", 5)}), "ab");
    EXPECT_EQ(ToText(Value()), "");
}

TEST(Texts, shouldJoinAndCompareAbsentAsEmpty)
{
    Text absent;
    EXPECT_EQ(Join("你设置了", absent, "后"), "你设置了后");
    EXPECT_TRUE(TextEquals(absent, ""));
    EXPECT_FALSE(TextEquals("Abc", "abc"));
    EXPECT_EQ(fromUtf8(toUtf8("设置几秒后鸣叫：")), "设置几秒后鸣叫：");
}

TEST(Truncation, shouldDropTheFractionTowardZeroAndMarkOutOfRange)
{
    EXPECT_EQ(TruncateToInt64(2.9), 2);
    EXPECT_EQ(TruncateToInt64(-2.9), -2);
    EXPECT_EQ(TruncateToInt64(1e19), INT64_MIN);
    EXPECT_EQ(TruncateToInt64(-1e19), INT64_MIN);
    EXPECT_EQ(TruncateToInt64(NAN), INT64_MIN);
    EXPECT_EQ(TruncateToInt64(INFINITY), INT64_MIN);
    EXPECT_EQ(TruncateToInt64(7.2e15), 7200000000000000);
}

TEST(Drawing, shouldCutTheGradientIntoEqualSegmentsWithTheRestInTheLastColour)
{
    UnitDef label;
    label.gradientMode = 2;
    label.gradient = {Rgb{144, 0, 255}, Rgb{236, 236, 236}, Rgb{144, 0, 255}};
    auto stops = gradientStops(label);
    ASSERT_EQ(stops.size(), 3u);
    // 235 px in 2 segments of 117: position 117 is the middle colour, 234 beyond the last segment.
    EXPECT_EQ(gradientAt(stops, 235, 0), (Rgb{144, 0, 255}));
    EXPECT_EQ(gradientAt(stops, 235, 117), (Rgb{236, 236, 236}));
    EXPECT_EQ(gradientAt(stops, 235, 234), (Rgb{144, 0, 255}));
    EXPECT_EQ(gradientAt(stops, 235, 58), (Rgb{189, 116, 246}));
    EXPECT_EQ(gradientAt(stops, 235, 210), (Rgb{163, 49, 251}));
    // Top to bottom the same rule holds over the height.
    EXPECT_EQ(gradientAt(stops, 32, 16), (Rgb{236, 236, 236}));
    EXPECT_EQ(gradientAt(stops, 32, 8), (Rgb{190, 118, 246}));
    // A colour set to default is left out; fewer than two stops: no gradient.
    label.gradient[1].reset();
    EXPECT_EQ(gradientStops(label).size(), 2u);
    label.gradient[2].reset();
    EXPECT_TRUE(gradientStops(label).empty());
}

TEST(Drawing, shouldPlacePicturesByDisplayMode)
{
    EXPECT_EQ(picturePlacement(0, 176, 65, 255, 94).width, 255);
    Rect s = picturePlacement(1, 176, 65, 255, 94);
    EXPECT_EQ(s.width, 176);
    EXPECT_EQ(s.height, 65);
    Rect c = picturePlacement(2, 176, 65, 255, 94);
    EXPECT_EQ(c.width, 176);
    EXPECT_EQ(c.height, 94 * 176 / 255);
    EXPECT_EQ(c.top, (65 - c.height) / 2);
    Rect small = picturePlacement(2, 100, 100, 20, 10);
    EXPECT_EQ(small.left, 40);
    EXPECT_EQ(small.top, 45);
}

TEST(ModeSeven, shouldAcceptOnlyDigitsMinusAndControlCharacters)
{
    EXPECT_TRUE(mode7Accepts(U'7'));
    EXPECT_TRUE(mode7Accepts(U'-'));
    EXPECT_TRUE(mode7Accepts(U'\b'));
    EXPECT_TRUE(mode7Accepts(0x16));  // Ctrl+V
    EXPECT_FALSE(mode7Accepts(U'.'));
    EXPECT_FALSE(mode7Accepts(U'a'));
    EXPECT_FALSE(mode7Accepts(U'１'));
    EXPECT_EQ(normaliseMode7("  +12x"), "12");
    EXPECT_EQ(normaliseMode7("1.5"), "1");
    EXPECT_EQ(normaliseMode7("abc"), "");
}

TEST(Files, shouldWriteWholeFilesAndNeverThroughALink)
{
    std::string dir = testenv::freshDir("files");
    Text path = fromUtf8(dir + "/音乐.mp3");
    testenv::writeFile(toUtf8(path), std::string(100, 'x'));
    EXPECT_TRUE(WriteBytesToFile(path, {ByteSet{"abc"}, ByteSet{""}, ByteSet{"de"}}));
    EXPECT_EQ(testenv::readFile(toUtf8(path)), "abcde");

    EXPECT_FALSE(WriteBytesToFile("", {ByteSet{"x"}}));
    EXPECT_FALSE(WriteBytesToFile(fromUtf8(dir + "/no/such/dir/f"), {ByteSet{"x"}}));

    std::string target = dir + "/target";
    testenv::writeFile(target, "keep");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/link").c_str()), 0);
    EXPECT_FALSE(WriteBytesToFile(fromUtf8(dir + "/link"), {ByteSet{"evil"}}));
    EXPECT_EQ(testenv::readFile(target), "keep");

    EXPECT_TRUE(RemoveFile(path));
    EXPECT_FALSE(RemoveFile(path));
    EXPECT_FALSE(RemoveFile(""));
}

TEST(Files, shouldKeepTheDefaultSoundInTheUsersRuntimeDirectory)
{
    std::string xdg = getenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultSoundPath(), fromUtf8(xdg + "/mryy.ruvo"));
    unsetenv("XDG_RUNTIME_DIR");
    std::string tmp = testenv::freshDir("tmp");
    setenv("TMPDIR", tmp.c_str(), 1);
    Text fallback = DefaultSoundPath();
    unsetenv("TMPDIR");
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    EXPECT_EQ(toUtf8(fallback).rfind(tmp + "/", 0), 0u);
    std::string dir = toUtf8(fallback.substr(0, fallback.rfind('/')));
    struct stat st;
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

using namespace std::chrono_literals;

TEST(Files, shouldRefuseAFifoAtTheDefaultSoundPathWithoutWaitingForAReader)
{
    const std::string path = toUtf8(DefaultSoundPath());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto write = std::async(std::launch::async, [&] { return WriteBytesToFile(DefaultSoundPath(), {ByteSet{"x"}}); });
    if (write.wait_for(10s) != std::future_status::ready) {
        const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);  // lets the blocked open go on
        write.wait();
        close(reader);
        ADD_FAILURE() << "the write waited for a reader of the FIFO";
    } else {
        EXPECT_FALSE(write.get());
    }
    unlink(path.c_str());
}

TEST(Files, shouldKeepTheDefaultSoundOutOfARuntimeDirectoryOthersCanWriteInto)
{
    const std::string xdg = getenv("XDG_RUNTIME_DIR");
    const std::string shared = testenv::freshDir("shared");
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    const std::string path = toUtf8(DefaultSoundPath());
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    EXPECT_NE(path.rfind(shared + "/", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.rfind('/')), "/mryy.ruvo");
}

TEST(Files, shouldTakeTheRunDirectoryWithoutATrailingSeparator)
{
    Text dir = DetectRunDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(testenv::exists(toUtf8(dir)));
}

TEST(FileNames, shouldGiveBackEveryExistingNameByteForByte)
{
    const std::string dir = testenv::freshDir("names");
    const std::string gbk = "计时器";  // the bytes of this file's texts: GBK
    const std::string names[] = {
        gbk,                                   // unpacked from an archive made on Windows
        toUtf8("设置"),                        // the usual UTF-8 name
        "caf\xE9",                             // Latin-1: neither UTF-8 nor a text
        "\xFF\x80x",                           // no encoding at all
        "中", toUtf8("中"),                    // the same name in both encodings side by side
    };
    for (const std::string& name : names)
        ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0700), 0);
    testenv::writeFile(dir + "/" + gbk + "/pz.ini", "[sz]\n");
    for (const std::string& name : names)
        for (const std::string& path : {dir + "/" + name, dir + "/" + name + "/pz.ini"})
            EXPECT_EQ(toFileName(fromFileName(path)), path) << path;

    const Text textDir = fromFileName(dir);
    EXPECT_EQ(fromFileName(dir + "/" + gbk), Join(textDir, "/", "计时器")) << "a GBK name reads as the text it is";
    EXPECT_EQ(fromFileName(dir + "/" + toUtf8("设置")), Join(textDir, "/", "设置"));
    EXPECT_EQ(toFileName(Join(textDir, "/", "新文件")), dir + "/" + toUtf8("新文件")) << "new names are UTF-8";

    // The file operations go through the same conversion.
    const Text ini = Join(textDir, "/", "计时器", "/", "pz.ini");
    EXPECT_TRUE(WriteBytesToFile(ini, {ByteSet{"[yy]\n"}}));
    EXPECT_EQ(testenv::readFile(dir + "/" + gbk + "/pz.ini"), "[yy]\n");
    EXPECT_TRUE(RemoveFile(ini));
}
