#pragma once

#include "app/Messages.h"
#include "switch/SerialLines.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

// Records every message number the switch code reports.
class RecordingSink : public MessageSink
{
public:
    void showMessage(int messageId) override { messages.push_back(messageId); }
    std::vector<int> messages;
};

// What the fake driver was asked to do, and how it should answer. Shared with the test,
// since the driver itself is owned by SwitchControl.
struct FakeLines
{
    std::vector<std::string> calls; // "open <path>", "RTS on", "DTR off", "close"
    bool failOpen = false;
    std::optional<ModemLine> refusedLine; // this line refuses every change
};

class FakeLineDriver : public SerialLineDriver
{
public:
    explicit FakeLineDriver(std::shared_ptr<FakeLines> state) : m_state(std::move(state)) {}

    bool open(const std::string &path) override
    {
        m_state->calls.push_back("open " + path);
        return !m_state->failOpen;
    }
    bool setLine(ModemLine line, bool on) override
    {
        m_state->calls.push_back(std::string(line == ModemLine::Rts ? "RTS" : "DTR") +
                                 (on ? " on" : " off"));
        return m_state->refusedLine != line;
    }
    void close() override { m_state->calls.push_back("close"); }

private:
    std::shared_ptr<FakeLines> m_state;
};

} // namespace quillon::test
