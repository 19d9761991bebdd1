#pragma once

#include "app/Messages.h"

#include <vector>

namespace quillon::test {

// Records every message number the switch code reports.
class RecordingSink : public MessageSink
{
public:
    void showMessage(int messageId) override { messages.push_back(messageId); }
    std::vector<int> messages;
};

} // namespace quillon::test
