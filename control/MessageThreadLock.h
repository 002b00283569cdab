#pragma once

#include <juce_events/juce_events.h>
#include <memory>

/**
    The message-manager lock taken from another thread, as juce::MessageManagerLock takes it:
    it waits for the message thread and gives up when the given thread is asked to exit.

    Unlike juce::MessageManagerLock it keeps JUCE's lock object alive until the message thread
    is done with it. JUCE 7.0.5 marks the lock gained before it signals the waiting thread's
    event, so that thread can take the lock without waiting, do its work and leave while the
    message thread is still signalling an event that lived on the leaving thread's stack: the
    message thread then hangs or writes into whatever lies there now (found by fuzzing the
    identity replies). The lock object is released through the message loop instead.
*/
class MessageThreadLock final : private juce::Thread::Listener
{
public:
    explicit MessageThreadLock (juce::Thread* threadToCheck)
        : thread (threadToCheck), lock (std::make_shared<juce::MessageManager::Lock>())
    {
        if (thread != nullptr)
            thread->addListener (this);

        while (thread == nullptr || ! thread->threadShouldExit())
        {
            if (lock->tryEnter())
            {
                gained = true;
                break;
            }
        }

        if (thread != nullptr)
        {
            thread->removeListener (this);

            if (gained && thread->threadShouldExit())
            {
                lock->exit();
                gained = false;
            }
        }
    }

    ~MessageThreadLock() override
    {
        if (gained)
            lock->exit();

        // The last reference goes on the message thread, after it has finished the hand-over.
        if (! juce::MessageManager::callAsync ([held = lock] {}))
            juce::Thread::sleep (1); // the loop has stopped: give a late signal time to finish
    }

    bool lockWasGained() const { return gained; }

private:
    void exitSignalSent() override { lock->abort(); }

    juce::Thread* const thread;
    const std::shared_ptr<juce::MessageManager::Lock> lock;
    bool gained = false;

    JUCE_DECLARE_NON_COPYABLE (MessageThreadLock)
};
