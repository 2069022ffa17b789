// Two programs that each load libhidlink on their own and log through it at
// once, across rotations: every line in the files is whole, and no line is
// missing except the oldest ones that the rotation policy drops. (The forked
// writers of log_test share one loaded library; these start apart, so they
// also race to create the shared semaphore.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../e2e/harness/test_emulator.h"

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

long Size(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

class LogProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/hidlink-procs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/hidlink.log";
    }
    void TearDown() override
    {
        for (const char *s : {"", ".0", ".1", ".2", ".3", ".4", ".5"})
            unlink((path_ + s).c_str());
        rmdir(dir_.c_str());
    }

    // Starts both writers back to back and waits for them.
    void RunWriters(int count, const char *max_size)
    {
        const char *bin = getenv("HW_BINARY_DIR");
        ASSERT_NE(bin, nullptr);
        const std::string prog = std::string(bin) + "/bin/hidlink_log_writer";
        std::vector<pid_t> kids;
        for (int id = 0; id < 2; id++) {
            pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                setenv("HIDLINK_LOG_FILE", path_.c_str(), 1);
                const std::string sid = std::to_string(id), scount = std::to_string(count);
                if (max_size)
                    hwemu::Exec(prog, {sid, scount, max_size});
                else
                    hwemu::Exec(prog, {sid, scount});
                _exit(127);
            }
            kids.push_back(pid);
        }
        for (pid_t k : kids) {
            int status = 0;
            ASSERT_EQ(waitpid(k, &status, 0), k);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }

    // The kept files, oldest first, joined; each checked against the limit.
    std::string Kept(long max_size)
    {
        std::string all;
        for (const char *s : {".4", ".3", ".2", ".1", ".0", ""}) {
            const std::string name = path_ + s;
            if (!Exists(name))
                continue;
            // A file is rotated once it has passed the limit, so none holds
            // more than the limit and one line.
            EXPECT_LE(Size(name), max_size + 1024) << name;
            all += ReadFile(name);
        }
        EXPECT_FALSE(Exists(path_ + ".5"));
        return all;
    }

    // Sequence numbers per writer in file order; every line must be whole:
    // a writer's line, the banner each copy of the library writes at load,
    // or the empty line after it.
    std::map<int, std::vector<int>> Parse(const std::string &text, int *banners)
    {
        static const std::regex whole("\x1b\\[31;22mE/proc {12}\\[[0-9: -]{19}\\] w=([01]) seq=([0-9]+) "
                                      "x+ end\x1b\\[0m");
        static const std::regex banner("libhidlink\\.so v[0-9.]+ build \\(.*\\)");
        std::map<int, std::vector<int>> seen;
        std::istringstream in(text);
        std::string line;
        *banners = 0;
        EXPECT_TRUE(text.empty() || text.back() == '\n') << "the last line is cut";
        while (std::getline(in, line)) {
            std::smatch m;
            if (line.empty())
                continue;
            if (std::regex_match(line, banner)) {
                ++*banners;
                continue;
            }
            EXPECT_TRUE(std::regex_match(line, m, whole)) << "torn line: " << line.substr(0, 120);
            if (m.size() == 3)
                seen[std::stoi(m[1])].push_back(std::stoi(m[2]));
        }
        return seen;
    }

    std::string dir_, path_;
};

TEST_F(LogProcesses, TwoProgramsAcrossTheDriversOwnRotationLoseNothing)
{
    // About 1.7 MB from both: past the 1 MiB limit, within the five copies.
    RunWriters(4000, nullptr);
    ASSERT_TRUE(Exists(path_ + ".0")) << "no rotation happened";
    int banners = 0;
    auto seen = Parse(Kept(1 << 20), &banners);
    EXPECT_EQ(banners, 2);
    ASSERT_EQ(seen.size(), 2u);
    for (const auto &w : seen) {
        ASSERT_EQ(w.second.size(), 4000u) << "writer " << w.first;
        for (int n = 0; n < 4000; n++)
            ASSERT_EQ(w.second[n], n) << "writer " << w.first;
    }
}

TEST_F(LogProcesses, ManyRotationsDropOnlyTheOldestLines)
{
    // About 1.3 MB through 32 KiB files: most is rotated away.
    RunWriters(3000, "32768");
    EXPECT_TRUE(Exists(path_ + ".4"));
    int banners = 0;
    auto seen = Parse(Kept(32768), &banners);
    ASSERT_FALSE(seen.empty());
    size_t kept = 0;
    for (const auto &w : seen) {
        const auto &s = w.second;
        kept += s.size();
        // What is kept of a writer is its newest lines, without a gap.
        EXPECT_EQ(s.back(), 2999) << "writer " << w.first;
        for (size_t i = 1; i < s.size(); i++)
            ASSERT_EQ(s[i], s[i - 1] + 1) << "writer " << w.first << " gap at " << i;
    }
    // Five full copies and the live file hold at least 5 × 32 KiB of lines
    // (at most 340 bytes each): nothing beyond the policy was dropped.
    EXPECT_GE(kept, 5u * 32768 / 340);
}

}  // namespace
