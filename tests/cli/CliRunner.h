#pragma once

// Runs the real quillon-cli with a private settings folder (XDG_CONFIG_HOME) and a switch
// probe list that never reaches the machine's own serial ports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quillon::clitest {

struct Result
{
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readAll(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string shellQuoted(const std::string &arg)
{
    std::string q = "'";
    for (const char c : arg) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

class CliTest : public ::testing::Test
{
protected:
    CliTest()
    {
        dir = std::filesystem::temp_directory_path() /
              ("quillon-cli-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "config" / "Tremont");
    }
    ~CliTest() override { std::filesystem::remove_all(dir); }

    // Writes the settings file the window program would keep.
    void writeSettings(const std::string &text)
    {
        std::ofstream(dir / "config" / "Tremont" / "Quillon.conf") << text;
    }

    std::filesystem::path file(const std::string &name, const std::string &content)
    {
        const auto p = dir / name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

    Result run(const std::vector<std::string> &args, const std::string &stdinText = "")
    {
        const auto out = dir / "stdout", err = dir / "stderr", in = dir / "stdin";
        std::ofstream(in) << stdinText;
        std::string cmd = "env XDG_CONFIG_HOME=" + shellQuoted((dir / "config").string()) +
                          " QUILLON_SWITCH_PROBE_DEVICES=" + shellQuoted(probeDevices) + " " +
                          shellQuoted(QUILLON_CLI);
        for (const std::string &a : args)
            cmd += " " + shellQuoted(a);
        cmd += " <" + shellQuoted(in.string()) + " >" + shellQuoted(out.string()) + " 2>" +
               shellQuoted(err.string());
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = readAll(out);
        r.err = readAll(err);
        return r;
    }

    std::filesystem::path dir;
    std::string probeDevices = "/nonexistent/ttyQ0";
};

// The number after "key": in a JSON text, starting the search at `from`; NaN when absent
// or null.
inline double jsonNumber(const std::string &json, const std::string &key, std::size_t from = 0)
{
    const std::string k = "\"" + key + "\":";
    const auto at = json.find(k, from);
    if (at == std::string::npos)
        return std::nan("");
    if (json.compare(at + k.size(), 4, "null") == 0)
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

// A PCM (tag 1) or float (tag 3) WAV file of interleaved integer samples, little-endian.
inline std::string wavBytes(int rate, int bits, int channels,
                            const std::vector<std::int32_t> &samples, int tag = 1)
{
    std::string data;
    const int bytes = bits / 8;
    for (const std::int32_t v : samples)
        for (int b = 0; b < bytes; ++b)
            data += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * b)) & 0xFF);
    auto u32 = [](std::uint32_t v) {
        std::string s;
        for (int b = 0; b < 4; ++b)
            s += static_cast<char>((v >> (8 * b)) & 0xFF);
        return s;
    };
    auto u16 = [](std::uint16_t v) {
        return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    };
    std::string fmt =
        u16(static_cast<std::uint16_t>(tag)) + u16(static_cast<std::uint16_t>(channels)) +
        u32(static_cast<std::uint32_t>(rate)) +
        u32(static_cast<std::uint32_t>(rate * channels * bytes)) +
        u16(static_cast<std::uint16_t>(channels * bytes)) + u16(static_cast<std::uint16_t>(bits));
    std::string body = "WAVE";
    body += "fmt " + u32(static_cast<std::uint32_t>(fmt.size())) + fmt;
    body += "data" + u32(static_cast<std::uint32_t>(data.size())) + data;
    return "RIFF" + u32(static_cast<std::uint32_t>(body.size())) + body;
}

} // namespace quillon::clitest
