#pragma once

// What the test stand-in for the USB plugin was sent, and what it answers. The test finds
// the record with dlsym("fake_deriru_record").
struct FakeDeriruRecord
{
    int calls = 0;
    int count = -1;               // `count` of the last call
    unsigned char bytes[16] = {}; // its first bytes
    unsigned char result = 1;     // returned by deriru_write
};
