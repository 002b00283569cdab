#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_events/juce_events.h>
#include <memory>
#include <thread>
#include <vector>

/** Stops the run with a message libFuzzer keeps beside the crashing input. */
#define KX_FUZZ_CHECK(condition)                                                                                       \
    do                                                                                                                 \
    {                                                                                                                  \
        if (! (condition))                                                                                             \
        {                                                                                                              \
            std::fprintf (stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                       \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

/** Reads a fuzz input from the front, giving zeros once it is used up. */
struct FuzzReader
{
    const juce::uint8* data;
    size_t size;
    size_t position = 0;

    bool atEnd() const { return position >= size; }
    size_t remaining() const { return atEnd() ? 0 : size - position; }
    juce::uint8 next() { return atEnd() ? 0 : data[position++]; }

    /** A length of 0 to 127 in one byte, or up to 32767 in two when the first has its top bit set. */
    int nextLength()
    {
        const auto first = next();
        return (first & 0x80) != 0 ? ((first & 0x7F) << 8) | next() : first;
    }

    /** Up to count bytes, fewer at the end of the input. */
    std::vector<juce::uint8> take (int count)
    {
        const auto n = std::min ((size_t) std::max (count, 0), remaining());
        std::vector<juce::uint8> bytes (data + position, data + position + n);
        position += n;
        return bytes;
    }
};

/**
    JUCE's message thread on a thread of its own, so that libFuzzer's thread can stand where
    the operating system's MIDI thread stands while the message loop keeps running.
*/
class BackgroundMessageThread final : private juce::Thread
{
public:
    BackgroundMessageThread() : juce::Thread ("message thread")
    {
        startThread();
        ready.wait();
    }

    ~BackgroundMessageThread() override
    {
        // The manager goes only once its loop and thread have ended: stopDispatchLoop still
        // touches it after posting the message that ends the loop.
        juce::MessageManager::getInstance()->stopDispatchLoop();
        stopThread (10000);
        juce::shutdownJuce_GUI();
    }

    /** Runs the function on the message thread and returns once it has run. */
    void call (std::function<void()> function)
    {
        juce::MessageManager::getInstance()->callFunctionOnMessageThread (
            [] (void* f) -> void*
            {
                (*static_cast<std::function<void()>*> (f))();
                return nullptr;
            },
            &function);
    }

private:
    void run() override
    {
        juce::initialiseJuce_GUI();
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        ready.signal();
        juce::MessageManager::getInstance()->runDispatchLoop();
    }

    juce::WaitableEvent ready;
};
