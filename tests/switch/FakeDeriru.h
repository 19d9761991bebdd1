#pragma once

// What the stand-in USB plugin was sent and answers.
struct FakeDeriruRecord
{
    int calls = 0, count = -1;               // calls so far; `count` of the last one
    unsigned char bytes[6] = {}, result = 1; // its first six bytes; deriru_write's answer
};
extern "C" FakeDeriruRecord fake_deriru_record; // the test finds it with dlsym
