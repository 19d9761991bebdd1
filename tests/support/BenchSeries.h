#pragma once

// An engine that measures the virtual bench as fast as blocks are consumed (44.1 kHz mono
// 16-bit, 100 ms blocks, the bench's own switch port), with the three faulty devices of
// FakeDevices ahead of it; engine messages fail the test. For the series and sweep tests.
#include "capture/WaveFormat.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/QuillonEngine.h"
#include "support/FakeDevices.h"

#include <gtest/gtest.h>

namespace quillon::test {

struct FailOnMessage : MessageSink
{
    void showMessage(int id) override { ADD_FAILURE() << messageText(id); }
};

class BenchEngineTest : public ::testing::Test
{
protected:
    BenchEngineTest()
    {
        Settings &s = engine.settings();
        s.waveInDevice = engine.benchDevice();
        applyFormatRow(s, 8);
        s.captureTimeMs = 100;
        s.switchPortName = "Virtual bench";
        s.switchPortChosen = true;
        setBench({});
    }
    // The bench with fixed noise (`seed`), as fast as blocks are consumed.
    void setBench(BenchParameters p, std::uint32_t seed = 2024)
    {
        p.seed = seed;
        p.speed = 0.0;
        engine.bench().setParameters(p);
    }

    FaultyDevices faulty;
    FailOnMessage sink;
    QuillonEngine engine{sink, [this] {
                             EngineOptions o;
                             o.portAudio = false;
                             o.soundDevices = {&faulty};
                             return o;
                         }()};
};

} // namespace quillon::test
