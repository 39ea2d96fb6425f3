// The user's files: outputs replaced whole or not at all, what survives a
// failed write or a signal, concurrent runs on one output, and a console
// that cannot be written. Runs that must fail or be killed run in a child
// process, so that limits and signals stay there.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.h"
#include "support/atomic_file.h"
#include "support/file_identity.h"
#include "support/signals.h"

namespace qrv::testing {
namespace {

namespace fs = std::filesystem;

// The names in `dir` that look like temporaries of the file `name`.
std::vector<std::string> temporaries(const fs::path& dir, const std::string& name) {
    std::vector<std::string> found;
    const std::string prefix = "." + name + ".";
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string n = entry.path().filename().string();
        if (n.starts_with(prefix) && n.size() == prefix.size() + 6) found.push_back(n);
    }
    return found;
}

unsigned mode_of(const fs::path& p) {
    struct stat info {};
    ::stat(p.c_str(), &info);
    return info.st_mode & 07777;
}

// Runs `task` in a child process; returns its wait status.
int in_child(const std::function<int()>& task) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(task());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

int translate(const fs::path& source, const fs::path& output) {
    std::string in = source.string();
    std::string out = output.string();
    char name[] = "pvx2abnf";
    char* argv[] = {name, in.data(), out.data(), nullptr};
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const int status = pvx2abnf_main(3, argv, quiet, quiet);
    std::fclose(quiet);
    return status;
}

// A schema whose grammar doubles with every level: members nested `levels`
// deep, each written twice for its repetition.
std::string doubling_schema(int levels) {
    std::string s = "struct Root {\n";
    for (int i = 0; i < levels; ++i) s += "struct l" + std::to_string(i) + " [2] {\n";
    s += "bool leaf;\n";
    for (int i = 0; i < levels; ++i) s += "};\n";
    return s + "};\n";
}

struct file_safety : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = scratch_dir(std::string("safety-") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
};

TEST_F(file_safety, a_replaced_file_keeps_its_permission_bits_and_its_links) {
    const fs::path target = dir / "grammars" / "shop.abnf";
    fs::create_directories(target.parent_path());
    write_file(target, "old\n");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("grammars/shop.abnf", dir / "out.abnf");

    atomic_file f;
    ASSERT_TRUE(f.open((dir / "out.abnf").c_str()));
    EXPECT_EQ(fs::path(f.temporary_path()).parent_path(), target.parent_path());
    EXPECT_TRUE(f.replaces());
    std::fputs("new\n", f.stream());
    EXPECT_EQ(read_file(target), "old\n");  // untouched until the commit
    ASSERT_TRUE(f.commit());
    EXPECT_TRUE(fs::is_symlink(dir / "out.abnf"));
    EXPECT_EQ(read_file(target), "new\n");
    EXPECT_EQ(mode_of(target), 0640u);
    EXPECT_TRUE(temporaries(target.parent_path(), "shop.abnf").empty());

    // A new file gets the usual bits: 0666 without the umask.
    const mode_t mask = ::umask(022);
    atomic_file fresh;
    ASSERT_TRUE(fresh.open((dir / "fresh.abnf").c_str()));
    EXPECT_FALSE(fresh.replaces());
    ASSERT_TRUE(fresh.commit());
    ::umask(mask);
    EXPECT_EQ(mode_of(dir / "fresh.abnf"), 0644u);
}

// Standard output named as the output ("-", /dev/stdout) is written where
// it stands: a log appended to (">>") keeps what it held, and two runs into
// one redirection leave both outputs.
TEST_F(file_safety, standard_output_as_the_output_is_written_where_it_stands) {
    write_file(dir / "in.pvx", "struct S { bool b; };\n");
    write_file(dir / "log.txt", "before\n");
    for (const char* output : {"--example=-", "--example=/dev/stdout", "--example=/dev/fd/1"}) {
        const int status = in_child([&] {
            const int fd = ::open((dir / "log.txt").c_str(), O_WRONLY | O_APPEND);
            if (fd < 0 || ::dup2(fd, 1) < 0) return 9;
            std::string in = (dir / "in.pvx").string();
            std::string option = output;
            char name[] = "pvx2abnf";
            char* argv[] = {name, option.data(), in.data(), nullptr};
            std::FILE* quiet = std::fopen("/dev/null", "w");
            return pvx2abnf_main(3, argv, quiet, quiet);
        });
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    }
    EXPECT_EQ(read_file(dir / "log.txt"), "before\nb = True\nb = True\nb = True\n");
    EXPECT_TRUE(temporaries(dir, "log.txt").empty());
}

TEST_F(file_safety, an_abandoned_or_failed_file_leaves_the_old_one_and_no_temporary) {
    write_file(dir / "out.abnf", "old\n");
    {
        atomic_file f;
        ASSERT_TRUE(f.open((dir / "out.abnf").c_str()));
        std::fputs("half a grammar", f.stream());
        EXPECT_EQ(temporaries(dir, "out.abnf").size(), 1u);
    }  // going out of scope abandons it, as an exception would
    EXPECT_EQ(read_file(dir / "out.abnf"), "old\n");
    EXPECT_TRUE(temporaries(dir, "out.abnf").empty());

    // No folder to put it in: nothing can be created.
    atomic_file none;
    EXPECT_FALSE(none.open((dir / "no-such-folder" / "out.abnf").c_str()));
    EXPECT_FALSE(none.commit());
}

TEST_F(file_safety, an_output_in_a_folder_that_takes_no_new_file_is_refused_not_cut_short) {
    // A writable file in a folder its writer may not add to: there is no
    // place for a temporary, and writing the file in place would leave it
    // cut short by a failure. The run is refused and the file stays.
    const fs::path locked = dir / "locked";
    fs::create_directories(locked);
    write_file(locked / "out.abnf", "the old grammar\n");
    write_file(dir / "in.pvx", "struct A { bool b; };\n");
    ::chmod((locked / "out.abnf").c_str(), 0666);
    ::chmod(locked.c_str(), 0555);
    const int status = in_child([&] {
        // root passes every permission check: the run is made as nobody.
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 10;
        }
        if (::access(locked.c_str(), W_OK) == 0) return 11;
        if (::access((locked / "out.abnf").c_str(), W_OK) != 0) return 12;
        atomic_file f;
        if (f.open((locked / "out.abnf").c_str())) return 2;
        const std::string out = (locked / "out.abnf").string();
        const cli_result r = run_cli({(dir / "in.pvx").string(), out});
        if (r.status != 1) return 3;
        return r.out.find("error: Unable to create output file: " + out + "\n") != std::string::npos
                   ? 0
                   : 4;
    });
    ::chmod(locked.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) >= 10) {
        GTEST_SKIP() << "no user here is refused new files by a folder (check "
                     << WEXITSTATUS(status) << ")";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "the file was opened, or the run did not fail as it should";
    EXPECT_EQ(read_file(locked / "out.abnf"), "the old grammar\n");
    EXPECT_TRUE(temporaries(locked, "out.abnf").empty());
}

TEST_F(file_safety, a_failed_write_keeps_the_old_output) {
    // The file size limit makes the write of a large grammar fail, as a full
    // disk would; the old grammar stays and no temporary is left.
    write_file(dir / "in.pvx", doubling_schema(12));
    write_file(dir / "out.abnf", "the old grammar\n");
    const int status = in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string in = (dir / "in.pvx").string();
        std::string out = (dir / "out.abnf").string();
        return run_cli({in, out}).out.find("error: Unable to write output file: " + out) !=
                       std::string::npos
                   ? 0
                   : 2;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail with its message";
    EXPECT_EQ(read_file(dir / "out.abnf"), "the old grammar\n");
    EXPECT_TRUE(temporaries(dir, "out.abnf").empty());
}

// Starts a run whose grammar grows without end in practice, waits until its
// temporary holds a megabyte, and sends `sig`. Returns the wait status.
int run_until_killed(const fs::path& dir, int sig) {
    write_file(dir / "in.pvx", doubling_schema(30));
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const struct rlimit limit = {1u << 30, 1u << 30};  // a gigabyte at most
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const struct rlimit no_core = {0, 0};  // SIGQUIT, SIGXCPU ... would dump one
        ::setrlimit(RLIMIT_CORE, &no_core);
        ::_exit(translate(dir / "in.pvx", dir / "out.abnf"));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& t : temporaries(dir, "out.abnf")) {
            std::error_code error;
            if (fs::file_size(dir / t, error) > (1u << 20)) started = true;
        }
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, started ? sig : SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(started) << "the run did not start writing";
    return status;
}

TEST_F(file_safety,
       a_run_ended_by_sigterm_or_sigint_keeps_the_old_output_and_removes_its_temporary) {
    for (int sig : {SIGTERM, SIGINT}) {
        write_file(dir / "out.abnf", "the old grammar\n");
        const int status = run_until_killed(dir, sig);
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << sig;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(read_file(dir / "out.abnf"), "the old grammar\n");
        EXPECT_TRUE(temporaries(dir, "out.abnf").empty()) << "signal " << sig;
    }
}

TEST_F(file_safety, every_termination_signal_removes_the_temporary_and_ends_the_run) {
    // The library leaves the dispositions as it finds them: SIGPIPE and
    // SIGXFSZ have their default here (pvx2abnf's main ignores them).
    std::vector<int> sigs = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                             SIGXCPU, SIGXFSZ, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};
    sigs.push_back(SIGVTALRM);
    sigs.push_back(SIGRTMIN);
    sigs.push_back(SIGRTMAX);
    for (int sig : sigs) {
        EXPECT_EQ(sigismember(&termination_signals(), sig), 1) << "signal " << sig;
        write_file(dir / "out.abnf", "the old grammar\n");
        const int status = run_until_killed(dir, sig);
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << sig;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(read_file(dir / "out.abnf"), "the old grammar\n") << "signal " << sig;
        EXPECT_TRUE(temporaries(dir, "out.abnf").empty()) << "signal " << sig;
    }
}

TEST_F(file_safety,
       helper_threads_never_take_a_termination_signal_and_handlers_of_the_process_stay) {
    // A helper starts with them blocked, so that the thread that makes and
    // removes the temporaries takes them.
    sigset_t helper_mask;
    sigemptyset(&helper_mask);
    helper_thread([&] { ::pthread_sigmask(SIG_BLOCK, nullptr, &helper_mask); }).join();
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ, SIGUSR1}) {
        EXPECT_EQ(sigismember(&helper_mask, sig), 1) << "signal " << sig;
    }
    sigset_t mine;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mine);
    EXPECT_EQ(sigismember(&mine, SIGTERM), 0) << "the starting thread keeps its mask";

    // A signal the process handles itself is left to its handler: the
    // temporary stays, and the file is written.
    const int status = in_child([&] {
        static volatile sig_atomic_t taken = 0;
        ::signal(SIGUSR1, [](int) { taken = 1; });
        atomic_file f;
        if (!f.open((dir / "handled.abnf").c_str())) return 2;
        ::raise(SIGUSR1);
        if (taken != 1) return 3;
        std::fputs("written\n", f.stream());
        return f.commit() ? 0 : 4;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(dir / "handled.abnf"), "written\n");
}

TEST_F(file_safety,
       a_run_killed_outright_keeps_the_old_output_and_leaves_a_recognisable_temporary) {
    write_file(dir / "out.abnf", "the old grammar\n");
    const int status = run_until_killed(dir, SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(read_file(dir / "out.abnf"), "the old grammar\n");
    // Nothing can run on SIGKILL: the temporary stays, named after the output.
    EXPECT_EQ(temporaries(dir, "out.abnf").size(), 1u);
}

TEST_F(file_safety, two_runs_on_one_output_leave_one_complete_grammar) {
    // One header date for every run, so that equal grammars are equal files.
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    write_file(dir / "a.pvx", doubling_schema(13));
    write_file(dir / "b.pvx", doubling_schema(14));
    ASSERT_EQ(translate(dir / "a.pvx", dir / "a.abnf"), 0);
    ASSERT_EQ(translate(dir / "b.pvx", dir / "b.abnf"), 0);
    const std::string a = read_file(dir / "a.abnf");
    const std::string b = read_file(dir / "b.abnf");
    ASSERT_NE(a, b);
    for (int round = 0; round < 10; ++round) {
        std::fflush(nullptr);
        pid_t pids[2];
        for (int i = 0; i < 2; ++i) {
            pids[i] = ::fork();
            if (pids[i] == 0)
                ::_exit(translate(dir / (i == 0 ? "a.pvx" : "b.pvx"), dir / "out.abnf"));
        }
        for (pid_t pid : pids) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const std::string result = read_file(dir / "out.abnf");
        EXPECT_TRUE(result == a || result == b) << "round " << round;
        EXPECT_TRUE(temporaries(dir, "out.abnf").empty());
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

TEST_F(file_safety, signal_handlers_are_only_there_while_a_temporary_exists) {
    struct sigaction before {};
    ::sigaction(SIGTERM, nullptr, &before);
    {
        atomic_file f;
        ASSERT_TRUE(f.open((dir / "out.abnf").c_str()));
        struct sigaction during {};
        ::sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
        ASSERT_TRUE(f.commit());
    }
    struct sigaction after {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);

    // A signal the process ignores (SIGINT of a background job) stays
    // ignored while the file is written.
    const int status = in_child([&] {
        ::signal(SIGINT, SIG_IGN);
        atomic_file f;
        if (!f.open((dir / "quiet.abnf").c_str())) return 2;
        ::raise(SIGINT);
        std::fputs("written\n", f.stream());
        return f.commit() ? 0 : 3;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(dir / "quiet.abnf"), "written\n");
}

TEST_F(file_safety, a_console_that_cannot_be_written_fails_the_run_after_the_output_is_written) {
    // A reader that went away: the write fails with EPIPE (SIGPIPE ignored,
    // as the program's main does), the grammar is still written.
    write_file(dir / "in.pvx", "struct A { bool b; };\n");
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    const auto previous = ::signal(SIGPIPE, SIG_IGN);
    std::FILE* console = ::fdopen(ends[1], "w");
    console_capture errors;
    std::string in = (dir / "in.pvx").string();
    std::string out = (dir / "out.abnf").string();
    char name[] = "pvx2abnf";
    char* argv[] = {name, in.data(), out.data(), nullptr};
    const int status = pvx2abnf_main(3, argv, console, errors.file());
    std::fclose(console);
    ::signal(SIGPIPE, previous);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors.text(), "pvx2abnf: error writing standard output\n");
    EXPECT_NE(read_file(dir / "out.abnf").find("A = "), std::string::npos);
}

TEST_F(file_safety, identities_follow_links_and_resolve_paths_that_do_not_exist_yet) {
    write_file(dir / "a.pvx", "x");
    fs::create_hard_link(dir / "a.pvx", dir / "hard.pvx");
    fs::create_symlink("a.pvx", dir / "soft.pvx");
    fs::create_directories(dir / "sub");
    const file_identity a = identify_file((dir / "a.pvx").c_str());
    EXPECT_TRUE(a.exists && a.regular);
    EXPECT_TRUE(same_file(a, identify_file((dir / "hard.pvx").c_str())));
    EXPECT_TRUE(same_file(a, identify_file((dir / "soft.pvx").c_str())));
    EXPECT_TRUE(same_file(a, identify_file((dir / "sub" / ".." / "a.pvx").c_str())));

    const file_identity absent = identify_file((dir / "a.pvxcfg").c_str());
    EXPECT_FALSE(absent.exists);
    EXPECT_FALSE(same_file(a, absent));
    EXPECT_TRUE(same_file(absent, identify_file((dir / "sub" / ".." / "a.pvxcfg").c_str())));
    // A dangling link names the file it would create.
    fs::create_symlink("a.pvxcfg", dir / "later.abnf");
    EXPECT_TRUE(same_file(absent, identify_file((dir / "later.abnf").c_str())));

    // A relative name is the same file as its spellings through folders,
    // also where no folder of it exists.
    const fs::path here = fs::current_path();
    fs::current_path(dir);
    EXPECT_TRUE(same_file(identify_file("a.pvxcfg"), identify_file("./a.pvxcfg")));
    EXPECT_TRUE(same_file(identify_file("a.pvxcfg"), identify_file("sub/../a.pvxcfg")));
    EXPECT_TRUE(same_file(absent, identify_file("a.pvxcfg")));
    EXPECT_FALSE(same_file(identify_file("a.pvxcfg"), identify_file("sub/a.pvxcfg")));
    fs::current_path(here);
}

}  // namespace
}  // namespace qrv::testing
