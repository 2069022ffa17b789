// The driver log on real files: line formats, filters, hex dump, rotation,
// and several threads and processes writing one file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <map>
#include <regex>
#include <thread>

#include "wire.h"

namespace {

const char kDate[] = "\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";
const char kEsc[] = "\x1b\\[";

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            out.push_back(text.substr(start));  // unterminated: a torn line
            break;
        }
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

std::vector<std::string> hook_calls;
void record_hook(const char *expr, const char *func, size_t line)
{
    hook_calls.push_back(std::string(expr) + "|" + func + "|" + std::to_string(line));
}

// Every test starts from the driver's load-time configuration.
class Log : public ::testing::Test {
protected:
    void TearDown() override
    {
        elog_assert_set_hook(nullptr);
        hook_calls.clear();
        elog_set_filter(ELOG_LVL_ERROR, "", "");
        for (const char *t : {"t1", "t2", "t3", "t4", "t5", "t6", "hidlink"})
            elog_set_filter_tag_lvl(t, ELOG_LVL_VERBOSE);
        elog_set_text_color_enabled(true);
        elog_set_fmt(ELOG_LVL_ASSERT, ELOG_FMT_ALL);
        for (uint8_t l = 1; l <= 4; l++)
            elog_set_fmt(l, ELOG_FMT_LVL | ELOG_FMT_TAG | ELOG_FMT_TIME);
        elog_set_fmt(ELOG_LVL_VERBOSE, ELOG_FMT_ALL & ~ELOG_FMT_FUNC);
        elog_start();
    }
};

TEST_F(Log, BannerIsWrittenAtLoad)
{
    std::regex banner("libhidlink\\.so v1\\.4\\.5 build \\([A-Z][a-z]{2} [ 123][0-9] [0-9]{4} "
                      "[0-9]{2}:[0-9]{2}:[0-9]{2}\\)");
    EXPECT_TRUE(std::regex_match(LIB_INFO, banner)) << LIB_INFO;
    const char *file = getenv("HIDLINK_LOG_FILE");
    ASSERT_NE(file, nullptr);
    EXPECT_NE(read_file(file).find("\n" + std::string(LIB_INFO) + "\n\n"), std::string::npos);
}

TEST_F(Log, ErrorLineHasLevelTagAndTime)
{
    LogFile log("fmt");
    elog_output(ELOG_LVL_ERROR, "hidlink", "a.c", "fn", 12, "hello %d", 5);
    std::regex line(std::string(kEsc) + "31;22mE/hidlink         " + kDate + "\\] hello 5" + kEsc +
                    "0m\n");
    EXPECT_TRUE(std::regex_match(log.text(), line)) << log.text();
}

TEST_F(Log, AssertLevelLineHasEveryField)
{
    LogFile log("fmt0");
    elog_output(ELOG_LVL_ASSERT, "hidlink", "dir/a.c", "fn", 12345, "boom");
    std::string pid = std::to_string(getpid());
    while (pid.size() < 4)
        pid = "0" + pid;
    std::regex line(std::string(kEsc) + "35;22mA/hidlink         " + kDate + " pid:" + pid +
                    " tid:[0-9]{4,}\\] \\(dir/a\\.c:1234 fn\\)boom" + kEsc + "0m\n");
    EXPECT_TRUE(std::regex_match(log.text(), line)) << log.text();
}

TEST_F(Log, VerboseLineHasEverythingButTheFunction)
{
    LogFile log("fmt5");
    elog_set_filter_lvl(ELOG_LVL_VERBOSE);
    elog_output(ELOG_LVL_VERBOSE, "hidlink", "a.c", "fn", 7, "v");
    std::regex line(std::string(kEsc) + "34;22mV/hidlink         " + kDate +
                    " pid:[0-9]{4,} tid:[0-9]{4,}\\] \\(a\\.c 7\\)v" + kEsc + "0m\n");
    EXPECT_TRUE(std::regex_match(log.text(), line)) << log.text();
}

TEST_F(Log, EachLevelHasItsTextAndColour)
{
    LogFile log("colours");
    elog_set_filter_lvl(ELOG_LVL_VERBOSE);
    for (uint8_t l = 0; l <= 5; l++) {
        elog_set_fmt(l, ELOG_FMT_LVL);
        elog_output(l, "t", "f", "fn", 1, "m");
    }
    EXPECT_EQ(log.text(),
              "\x1b[35;22mA/m\x1b[0m\n\x1b[31;22mE/m\x1b[0m\n\x1b[33;22mW/m\x1b[0m\n"
              "\x1b[36;22mI/m\x1b[0m\n\x1b[32;22mD/m\x1b[0m\n\x1b[34;22mV/m\x1b[0m\n");
}

TEST_F(Log, TagIsPaddedTo15AndFollowedByOneBlank)
{
    LogFile log("tags");
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, ELOG_FMT_LVL | ELOG_FMT_TAG);
    elog_output(ELOG_LVL_ERROR, "ab", "f", "fn", 1, "x");
    elog_output(ELOG_LVL_ERROR, "a-tag-of-twenty-char", "f", "fn", 1, "y");
    EXPECT_EQ(log.text(), "E/ab              x\nE/a-tag-of-twenty-char y\n");
}

TEST_F(Log, LevelFilterHidesHigherLevels)
{
    LogFile log("level");
    elog_output(ELOG_LVL_WARN, "hidlink", "f", "fn", 1, "warn");
    elog_output(ELOG_LVL_DEBUG, "hidlink", "f", "fn", 1, "debug");
    EXPECT_EQ(log.text(), "");
    HV_set_debug_level(HV_DEBUG_LVL_DEBUG);
    elog_output(ELOG_LVL_DEBUG, "hidlink", "f", "fn", 1, "debug");
    elog_output(ELOG_LVL_VERBOSE, "hidlink", "f", "fn", 1, "verbose");
    EXPECT_NE(log.text().find("D/hidlink"), std::string::npos);
    EXPECT_EQ(log.text().find("verbose"), std::string::npos);
}

TEST_F(Log, TagAndKeywordFilters)
{
    LogFile log("filters");
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, ELOG_FMT_TAG);
    elog_set_filter(ELOG_LVL_ERROR, "link", "");
    elog_output(ELOG_LVL_ERROR, "hidlink", "f", "fn", 1, "one");
    elog_output(ELOG_LVL_ERROR, "other", "f", "fn", 1, "two");
    elog_set_filter(ELOG_LVL_ERROR, "", "key");
    elog_output(ELOG_LVL_ERROR, "other", "f", "fn", 1, "three");
    elog_output(ELOG_LVL_ERROR, "other", "f", "fn", 1, "a key");
    elog_output(ELOG_LVL_ERROR, "monkey", "f", "fn", 1, "tag holds it");
    EXPECT_EQ(log.text(), "hidlink         one\nother           a key\nmonkey          tag holds it\n");
}

TEST_F(Log, FilterTextsAreBounded)
{
    LogFile log("bounded");
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, ELOG_FMT_TAG);
    std::string tag31(31, 'g');
    elog_set_filter_tag(tag31.c_str());  // kept as 30 characters
    elog_output(ELOG_LVL_ERROR, std::string(30, 'g').c_str(), "f", "fn", 1, "in");
    EXPECT_EQ(log.text(), std::string(30, 'g') + " in\n");
}

TEST_F(Log, PerTagLevels)
{
    LogFile log("taglvl");
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, 0);
    elog_set_fmt(ELOG_LVL_ASSERT, 0);
    EXPECT_EQ(elog_get_filter_tag_lvl("t1"), ELOG_LVL_VERBOSE);
    for (const char *t : {"t1", "t2", "t3", "t4", "t5", "t6"})
        elog_set_filter_tag_lvl(t, ELOG_LVL_ASSERT);
    EXPECT_EQ(elog_get_filter_tag_lvl("t5"), ELOG_LVL_ASSERT);
    EXPECT_EQ(elog_get_filter_tag_lvl("t6"), ELOG_LVL_VERBOSE);  // sixth entry ignored
    elog_output(ELOG_LVL_ERROR, "t1", "f", "fn", 1, "hidden");
    elog_output(ELOG_LVL_ASSERT, "t1", "f", "fn", 1, "shown");
    elog_output(ELOG_LVL_ERROR, "t6", "f", "fn", 1, "t6");
    elog_set_filter_tag_lvl("t1", ELOG_LVL_VERBOSE);  // removes the entry
    EXPECT_EQ(elog_get_filter_tag_lvl("t1"), ELOG_LVL_VERBOSE);
    elog_output(ELOG_LVL_ERROR, "t1", "f", "fn", 1, "back");
    elog_set_filter_tag_lvl("t6", ELOG_LVL_ASSERT);  // takes the freed entry
    EXPECT_EQ(elog_get_filter_tag_lvl("t6"), ELOG_LVL_ASSERT);
    EXPECT_EQ(log.text(), "shown\nt6\nback\n");
}

TEST_F(Log, LevelsAboveFiveAreRejected)
{
    LogFile log("badlevel");
    elog_assert_set_hook(record_hook);
    elog_output(6, "hidlink", "f", "fn", 1, "six");
    elog_output(255, "hidlink", "f", "fn", 1, "many");
    elog_set_filter_lvl(9);
    elog_set_fmt(6, ELOG_FMT_ALL);
    HV_set_debug_level(static_cast<debug_level_e>(7));
    elog_set_filter_tag_lvl("t1", 8);
    elog_output(ELOG_LVL_WARN, "hidlink", "f", "fn", 1, "still level 1");
    EXPECT_EQ(log.text(), "");
    ASSERT_EQ(hook_calls.size(), 5u);  // HV_set_debug_level rejects before the log
    EXPECT_EQ(hook_calls[0].rfind("level <= ELOG_LVL_VERBOSE|elog_output|", 0), 0u);
    EXPECT_EQ(elog_get_filter_tag_lvl("t1"), ELOG_LVL_VERBOSE);
}

TEST_F(Log, BadArgumentsWriteTheAssertLineAndCallTheHook)
{
    LogFile log("assert");
    elog_assert_set_hook(record_hook);
    elog_output(ELOG_LVL_ERROR, nullptr, "f", "fn", 1, "x");
    elog_hexdump("n", 0, "ab", 2);
    ASSERT_EQ(hook_calls.size(), 2u);
    EXPECT_EQ(hook_calls[0].rfind("tag != NULL && format != NULL|elog_output|", 0), 0u);
    auto lines = lines_of(log.text());
    ASSERT_EQ(lines.size(), 2u);
    std::regex line(std::string(kEsc) + "35;22mA/elog            " + kDate +
                    " pid:[0-9]+ tid:[0-9]+\\] \\(.*elog\\.c:[0-9]+ elog_output\\)"
                    "\\(tag != NULL && format != NULL\\) has assert failed at elog_output:[0-9]+\\." +
                    kEsc + "0m");
    EXPECT_TRUE(std::regex_match(lines[0], line)) << lines[0];
    EXPECT_NE(lines[1].find("(name != NULL && width > 0 && (buf != NULL || size == 0)) has assert "
                            "failed at elog_hexdump:"),
              std::string::npos);
}

TEST_F(Log, LongMessageIsCutToTheLineBuffer)
{
    LogFile log("long");
    std::string big(2000, 'x');
    elog_output(ELOG_LVL_ERROR, "hidlink", "f", "fn", 1, "%s", big.c_str());
    std::string t = log.text();
    EXPECT_EQ(t.size(), 1024u);
    EXPECT_EQ(t.substr(t.size() - 6), "x\x1b[0m\n");
    elog_set_text_color_enabled(false);
    LogFile plain("long2");
    elog_output(ELOG_LVL_ERROR, "hidlink", "f", "fn", 1, "%s", big.c_str());
    EXPECT_EQ(plain.text().size(), 1024u);
    EXPECT_EQ(plain.text().substr(1022), "x\n");
}

TEST_F(Log, RawTextIgnoresFiltersButNotTheOutputSwitch)
{
    LogFile log("raw");
    elog_set_filter(ELOG_LVL_ASSERT, "nothing-matches", "nope");
    elog_raw("raw %d|", 1);
    elog_stop();
    elog_raw("hidden");
    elog_output(ELOG_LVL_ASSERT, "nothing-matches", "f", "fn", 1, "nope");
    elog_start();
    EXPECT_EQ(log.text(), "raw 1|");
    EXPECT_TRUE(elog_get_output_enabled());
}

TEST_F(Log, HexDumpLines)
{
    LogFile log("hex");
    Bytes data = bytes_of("ABCDEFGH") + counting(8) + Bytes{0x7F, 0x20, 0x41, 0x0A};
    elog_hexdump("transmit", 16, data.data(), data.size());
    EXPECT_EQ(log.text(), "");  // needs level 4
    elog_set_filter_lvl(ELOG_LVL_DEBUG);
    elog_hexdump("transmit", 16, data.data(), data.size());
    std::string l1 = "D/HEX transmit: 0000-000F: 41 42 43 44 45 46 47 48  00 01 02 03 04 05 06 07    "
                     "ABCDEFGH........\n";
    std::string l2 = "D/HEX transmit: 0010-001F: 7F 20 41 0A " + std::string(12, ' ') + " " +
                     std::string(24, ' ') + " " + "  . A.\n";
    EXPECT_EQ(log.text(), l1 + l2);
    elog_set_filter_tag("receive");
    elog_hexdump("transmit", 16, data.data(), data.size());
    EXPECT_EQ(log.text(), l1 + l2);
}

TEST_F(Log, FindLevelAndTagOfALine)
{
    const char *colour = "\x1b[31;22mE/hidlink         [2024-01-01 00:00:00] x";
    EXPECT_EQ(elog_find_lvl(colour), ELOG_LVL_ERROR);
    size_t n = 0;
    const char *tag = elog_find_tag(colour, ELOG_LVL_ERROR, &n);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(std::string(tag, n), "hidlink");
    EXPECT_EQ(elog_find_lvl("V/x y"), ELOG_LVL_VERBOSE);
    EXPECT_EQ(elog_find_lvl("hello"), -1);
    EXPECT_EQ(elog_find_tag("hello", 1, &n), nullptr);
    EXPECT_EQ(elog_find_tag("E/hidlink x", 2, &n), nullptr);
}

TEST_F(Log, CopyHelpersStayInTheLineBuffer)
{
    char dst[16];
    EXPECT_EQ(elog_strcpy(ELOG_LINE_BUF_SIZE - 4, dst, "abcdef"), 4u);
    EXPECT_EQ(std::string(dst, 4), "abcd");
    EXPECT_EQ(elog_strcpy(0, dst, "xy"), 2u);
    EXPECT_EQ(elog_cpyln(dst, "ab\ncd", 5), 2u);
    EXPECT_EQ(elog_cpyln(dst, "abcd", 3), 3u);
    EXPECT_EQ(elog_memcpy(dst, "zz", 2), dst);
    EXPECT_EQ(std::string(dst, 2), "zz");
}

TEST_F(Log, SwitchingTheLockOffWhileLockedReleasesIt)
{
    LogFile log("lock");
    elog_output_lock();
    elog_output_lock_enabled(false);
    elog_output_unlock();
    elog_output_lock_enabled(true);
    auto done = std::async(std::launch::async, [] {
        elog_output(ELOG_LVL_ERROR, "hidlink", "f", "fn", 1, "from another thread");
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(log.text().find("from another thread"), std::string::npos);
}

// --- rotation ------------------------------------------------------------

std::string line_of(int n, size_t width)
{
    std::string s = "seq=" + std::to_string(n) + " ";
    return s + std::string(width - s.size(), 'r');
}

TEST_F(Log, FileJustPastTheLimitBecomesDotZeroBeforeTheNextLine)
{
    LogFile log("rot", 1000, 5);
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, 0);
    int n = 0;
    struct stat st {};
    do {
        elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "%s", line_of(n++, 99).c_str());
        ASSERT_EQ(stat(log.path().c_str(), &st), 0);
    } while (st.st_size <= 1000);
    EXPECT_FALSE(file_exists(log.path() + ".0"));
    std::string before = log.text();
    elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "next");
    EXPECT_EQ(read_file(log.path() + ".0"), before);
    EXPECT_EQ(log.text(), "next\n");
}

TEST_F(Log, OldestRotatedFileIsDropped)
{
    LogFile log("drop", 200, 3);
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, 0);
    for (int n = 0; n < 20; n++)
        elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "%s", line_of(n, 149).c_str());
    EXPECT_FALSE(file_exists(log.path() + ".3"));
    std::string all;
    for (const char *suffix : {".2", ".1", ".0", ""})
        all += read_file(log.path() + suffix);
    // Two lines per file: the last eight lines, in order.
    std::string expected;
    for (int n = 12; n < 20; n++)
        expected += line_of(n, 149) + "\n";
    EXPECT_EQ(all, expected);
}

TEST_F(Log, DriverLimitIsOneMebibyteWithFiveCopies)
{
    LogFile log("mib", 1048576, 5);
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, 0);
    std::string line(999, 'm');
    for (int n = 0; n < 1050; n++)
        elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "%s", line.c_str());
    struct stat st {};
    ASSERT_EQ(stat((log.path() + ".0").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1049000);  // 1049 lines: the first to pass 1 MiB
    EXPECT_EQ(log.text(), line + "\n");
}

TEST_F(Log, FailedRotationDropsTheLineAndRetriesLater)
{
    LogFile log("fail", 100, 1);
    elog_set_text_color_enabled(false);
    elog_set_fmt(ELOG_LVL_ERROR, 0);
    elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "%s", std::string(120, 'a').c_str());
    // A non-empty directory where the rotated copy must go.
    std::string blocker = log.path() + ".0";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((blocker + "/x").c_str(), 0700), 0);
    elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "lost");
    EXPECT_EQ(log.text(), std::string(120, 'a') + "\n");
    ASSERT_EQ(rmdir((blocker + "/x").c_str()), 0);
    ASSERT_EQ(rmdir(blocker.c_str()), 0);
    elog_output(ELOG_LVL_ERROR, "t", "f", "fn", 1, "kept");
    EXPECT_EQ(log.text(), "kept\n");
    EXPECT_EQ(read_file(blocker), std::string(120, 'a') + "\n");
}

// --- several writers -----------------------------------------------------

// Writes `count` lines "w=<id> seq=<n> xxx... end" of varying length.
void write_lines(int id, int count)
{
    for (int n = 0; n < count; n++) {
        std::string pad((n * 37 + id * 11) % 700 + 50, 'x');
        elog_output(ELOG_LVL_ERROR, "proc", "f", "fn", 1, "w=%d seq=%d %s end", id, n, pad.c_str());
    }
}

// Parses every line; checks it is whole and returns the sequence numbers
// seen per writer, in file order.
std::map<int, std::vector<int>> parse_lines(const std::string &text)
{
    static const std::regex whole("\x1b\\[31;22mE/proc {12}\\[[0-9: -]{19}\\] w=([0-9]+) seq=([0-9]+) "
                                  "x+ end\x1b\\[0m");
    std::map<int, std::vector<int>> seen;
    for (const auto &l : lines_of(text)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(l, m, whole)) << "torn line: " << l.substr(0, 120);
        if (m.size() == 3)
            seen[std::stoi(m[1])].push_back(std::stoi(m[2]));
    }
    return seen;
}

void run_processes(const std::string &path, size_t max_size, int rotate, int procs, int count)
{
    std::vector<pid_t> kids;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    for (int id = 0; id < procs; id++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(start[1]);
            ElogFileCfg cfg = {const_cast<char *>(path.c_str()), max_size, rotate};
            elog_file_config(&cfg);  // each process opens the file itself
            char c;
            // Everybody starts writing at once, when the parent closes the pipe.
            if (read(start[0], &c, 1) < 0)
                _exit(2);
            write_lines(id, count);
            _exit(0);
        }
        kids.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    for (pid_t k : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(k, &status, 0), k);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(Log, ProcessesWritingTogetherLeaveWholeLines)
{
    LogFile log("procs");
    run_processes(log.path(), 1 << 30, 5, 4, 400);
    auto seen = parse_lines(log.text());
    ASSERT_EQ(seen.size(), 4u);
    for (const auto &w : seen) {
        ASSERT_EQ(w.second.size(), 400u) << "writer " << w.first;
        for (int n = 0; n < 400; n++)
            ASSERT_EQ(w.second[n], n);
    }
}

TEST_F(Log, ProcessesRotatingTogetherKeepEveryLineInOrder)
{
    const size_t max = 64 * 1024;
    LogFile log("procrot", max, 5);
    run_processes(log.path(), max, 5, 4, 600);
    std::string all;
    for (const char *suffix : {".4", ".3", ".2", ".1", ".0", ""}) {
        std::string name = log.path() + suffix;
        ASSERT_TRUE(file_exists(name)) << name;
        struct stat st {};
        stat(name.c_str(), &st);
        // A file is rotated only once it has passed the limit, whichever
        // process rotates it, and nobody writes on into a rotated file.
        EXPECT_LE(static_cast<size_t>(st.st_size), max + ELOG_LINE_BUF_SIZE) << name;
        if (*suffix) {
            EXPECT_GT(static_cast<size_t>(st.st_size), max) << name;
        }
        all += read_file(name);
    }
    EXPECT_FALSE(file_exists(log.path() + ".5"));
    // A writer that finished early may have been rotated out entirely; the
    // lines kept of each writer are its last ones, in order, without a gap.
    auto seen = parse_lines(all);
    ASSERT_FALSE(seen.empty());
    for (const auto &w : seen) {
        const auto &s = w.second;
        EXPECT_EQ(s.back(), 599) << "writer " << w.first;
        for (size_t i = 1; i < s.size(); i++)
            ASSERT_EQ(s[i], s[i - 1] + 1) << "writer " << w.first << " gap at " << i;
    }
}

TEST_F(Log, ThreadsWritingTogetherLeaveWholeLines)
{
    LogFile log("threads");
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; id++)
        threads.emplace_back(write_lines, id, 300);
    for (auto &t : threads)
        t.join();
    auto seen = parse_lines(log.text());
    ASSERT_EQ(seen.size(), 4u);
    for (const auto &w : seen)
        EXPECT_EQ(w.second.size(), 300u);
}

}  // namespace
