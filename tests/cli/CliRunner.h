#pragma once

// Runs the real quillon-cli with a private settings folder (XDG_CONFIG_HOME) and a switch
// probe list that never reaches the machine's own serial ports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quillon::clitest {

struct Result
{
    int status = -1;
    std::string out, err;
};

inline std::string readAll(const std::filesystem::path &p)
{
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

class CliTest : public ::testing::Test
{
protected:
    CliTest() { std::filesystem::create_directories(dir / "config" / "Tremont"); }
    ~CliTest() override { std::filesystem::remove_all(dir); }

    // The settings file the window program would keep.
    void writeSettings(const std::string &text)
    {
        std::ofstream(dir / "config" / "Tremont" / "Quillon.conf") << text;
    }

    std::string file(const std::string &name, const std::string &content)
    {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    }

    Result run(const std::vector<std::string> &args, const std::string &stdinText = "")
    {
        auto q = [](const std::string &arg) { // shell quoting
            std::string s = "'";
            for (const char c : arg)
                s += c == '\'' ? std::string("'\\''") : std::string(1, c);
            return s + "'";
        };
        std::string cmd = "env XDG_CONFIG_HOME=" + q((dir / "config").string()) +
                          " QUILLON_SWITCH_PROBE_DEVICES=" + q(probeDevices) + " " + q(QUILLON_CLI);
        for (const std::string &a : args)
            cmd += " " + q(a);
        cmd += " <" + q(file("stdin", stdinText)) + " >" + q((dir / "stdout").string()) + " 2>" +
               q((dir / "stderr").string());
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(dir / "stdout"),
                readAll(dir / "stderr")};
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("quillon-cli-test-" + std::to_string(::getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string probeDevices = "/nonexistent/ttyQ0";
};

// The number after "key": in a JSON text, searching from `from`; NaN when absent or null.
inline double jsonNumber(const std::string &json, const std::string &key, std::size_t from = 0)
{
    const std::string k = "\"" + key + "\":";
    const auto at = json.find(k, from);
    if (at == std::string::npos || json.compare(at + k.size(), 4, "null") == 0)
        return std::nan("");
    return std::strtod(json.c_str() + at + k.size(), nullptr);
}

inline std::size_t count(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A PCM WAV file of interleaved samples, little-endian.
inline std::string wavBytes(int rate, int bits, int channels,
                            const std::vector<std::int32_t> &samples)
{
    auto le = [](std::uint32_t v, int bytes) {
        std::string s;
        for (int b = 0; b < bytes; ++b)
            s += static_cast<char>((v >> (8 * b)) & 0xFF);
        return s;
    };
    std::string data;
    for (const std::int32_t v : samples)
        data += le(static_cast<std::uint32_t>(v), bits / 8);
    const int frame = channels * bits / 8;
    const std::string body = "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
                             le(rate * frame, 4) + le(frame, 2) + le(bits, 2) + "data" +
                             le(data.size(), 4) + data;
    return "RIFF" + le(body.size(), 4) + body;
}

} // namespace quillon::clitest
