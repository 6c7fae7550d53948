// The real vk61-efis-cli-demo binary against the standalone simulator
// vk61-bus-sim over the wire: what a shop's script would run. Standard error
// goes to a pipe or, for the progress bar, to a pseudo-terminal.
#include <QProcess>
#include <QRegularExpression>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "cli_test_support.h"

namespace clitest {
namespace {

struct ProcessRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the demo binary with env added to this process's environment, its
// standard error on a pseudo-terminal when terminal, its files limited to
// file_size_limit bytes. Killed after 60 s.
ProcessRun run_binary(const std::vector<std::string>& args, const std::vector<std::string>& env, bool terminal,
                      rlim_t file_size_limit = RLIM_INFINITY) {
    int out_pipe[2];
    int err_fds[2];  // [0] read side, [1] the child's stderr
    if (::pipe(out_pipe) != 0) return {};
    if (terminal) {
        if (::openpty(&err_fds[0], &err_fds[1], nullptr, nullptr, nullptr) != 0) return {};
    } else if (::pipe(err_fds) != 0) {
        return {};
    }
    std::vector<std::string> argv_text{VK61_CLI_DEMO_BINARY};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child's environment is built before the fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<std::string> env_text = env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
            return mine.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (!replaced) env_text.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (file_size_limit != RLIM_INFINITY) {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = file_size_limit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_fds[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_fds[0]);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_fds[1]);
    ProcessRun result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_fds[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (open_fds > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 200) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {  // end of file, or EIO once the pty's other side closed
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0) ::close(f.fd);
    }
    if (open_fds > 0) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class CliBinary : public ::testing::Test {
protected:
    void SetUp() override {
        simulator.setProgram(QStringLiteral(VK61_BUS_SIM_BINARY));
        simulator.setArguments({"--port", "0", "--units", "3", "--latency-us", "200", "--occupancy-ms", "0"});
        simulator.start();
        ASSERT_TRUE(simulator.waitForStarted(5000));
        // "vk61-bus-sim: listening on 127.0.0.1:PORT with 3 unit(s)"
        QByteArray banner;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!banner.contains('\n') && std::chrono::steady_clock::now() < deadline) {
            simulator.waitForReadyRead(100);
            banner += simulator.readAllStandardOutput();
        }
        const QRegularExpressionMatch match =
            QRegularExpression("listening on ([0-9.]+:[0-9]+)").match(QString::fromUtf8(banner));
        ASSERT_TRUE(match.hasMatch()) << banner.toStdString();
        bridge = match.captured(1).toStdString();
    }
    void TearDown() override {
        simulator.terminate();
        if (!simulator.waitForFinished(5000)) simulator.kill();
        simulator.waitForFinished(5000);
    }

    std::vector<std::string> environment(const std::string& bridge_address) const {
        const std::string home = scratch.path().toStdString();
        return {"VK61_BRIDGE=" + bridge_address, "VK61_DEMO_MANIFEST_URL=" + kNoManifest.toString().toStdString(),
                "XDG_CACHE_HOME=" + home + "/cache", "XDG_DATA_HOME=" + home + "/data"};
    }
    ProcessRun run(const std::vector<std::string>& args, bool terminal = false) {
        return run_binary(args, environment(bridge), terminal);
    }
    std::string path(const char* name) const { return QDir(scratch.path()).filePath(name).toStdString(); }

    QTemporaryDir scratch;
    QProcess simulator;
    std::string bridge;
};

TEST_F(CliBinary, ScriptedSessionAgainstTheStandaloneSimulator) {
    const ProcessRun list = run({"list", "--json"});
    ASSERT_EQ(list.code, 0) << list.err;
    const QJsonArray units = QJsonDocument::fromJson(QByteArray::fromStdString(list.out)).object()["units"].toArray();
    ASSERT_EQ(units.size(), 3) << list.out;
    // Without --verbose, standard output carries the result only.
    EXPECT_EQ(list.out.find("WHOAMI"), std::string::npos);

    const ProcessRun set = run({"config", "set", "v_ne=170", "sky_color_upper=#102030"});
    ASSERT_EQ(set.code, 0) << set.err;
    const ProcessRun get = run({"config", "get", "v_ne", "sky_color_upper"});
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(get.out, "170\n#102030\n");
    EXPECT_EQ(run({"config", "set", "v_ne=999"}).code, 2);

    const ProcessRun exported = run({"config", "export", path("efis.json")});
    ASSERT_EQ(exported.code, 0) << exported.err;
    QFile file(QString::fromStdString(path("efis.json")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object()["settings"].toObject()["v_ne"].toInt(), 170);

    const ProcessRun verbose = run({"list", "--verbose"});
    EXPECT_NE(verbose.err.find("WHOAMI"), std::string::npos) << verbose.err;
}

TEST_F(CliBinary, ExportUnderAFileSizeLimitFailsNamingTheFileAndLeavesNone) {
    const ProcessRun result = run_binary({"config", "export", path("efis.json")}, environment(bridge), false, 1024);
    EXPECT_EQ(result.code, 2) << result.err;
    EXPECT_NE(result.err.find("Could not write " + path("efis.json")), std::string::npos) << result.err;
    EXPECT_TRUE(QDir(scratch.path()).entryList({"*efis.json*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(CliBinary, WithoutABridgeListExitsThree) {
    const ProcessRun result = run_binary({"list"}, environment("127.0.0.1:1"), false);
    EXPECT_EQ(result.code, 3) << result.err;
}

TEST_F(CliBinary, ProgressIsABarOnATerminalAndLinesWithout) {
    ASSERT_TRUE(write_file(QString::fromStdString(path("efis.bin")), firmware_image(0x20000, 30000, 0x100)));
    const ProcessRun bar = run({"firmware", "update", path("efis.bin")}, /*terminal=*/true);
    ASSERT_EQ(bar.code, 0) << bar.err;
    EXPECT_NE(bar.err.find("\r["), std::string::npos) << bar.err;
    EXPECT_NE(bar.err.find("Writing  100%"), std::string::npos) << bar.err;

    const ProcessRun lines = run({"firmware", "update", path("efis.bin")}, /*terminal=*/false);
    ASSERT_EQ(lines.code, 0) << lines.err;
    EXPECT_EQ(lines.err.find('\r'), std::string::npos) << lines.err;
    EXPECT_NE(lines.err.find("Writing  100%  30000 / 30000 bytes"), std::string::npos) << lines.err;
}

}  // namespace
}  // namespace clitest
