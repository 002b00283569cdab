#pragma once

#include "control/Controller.h"

#include <functional>

/**
    Drives a controller's transfers by hand, as fast as the test likes: every round ticks
    each running sender once, in catalogue order, as their timers would.
*/
struct TransferDriver
{
    /** Makes the controller's senders tick only when told to. Call before an update starts. */
    static void tickByHand (Controller& controller)
    {
        controller.stopTimer(); // and poll by hand too
        controller.setSenderPacing (FirmwareSysexSender::Pacing::messageThreadTimer);
    }

    /** Returns the number of rounds run. Stops when no sender runs, after maxRounds, or when stopWhen says so. */
    static int run (Controller& controller, int maxRounds = 1000000, std::function<bool()> stopWhen = {})
    {
        for (int round = 0; round < maxRounds; ++round)
        {
            auto anyRunning = false;
            const auto& senders = controller.getSenders();

            for (int i = 0; i < senders.size(); ++i)
            {
                if (senders[i]->isRunning())
                {
                    anyRunning = true;
                    senders[i]->timerCallback();
                }
            }

            if (! anyRunning || (stopWhen && stopWhen()))
                return round + 1;
        }

        return maxRounds;
    }

    static bool anyRunning (const Controller& controller)
    {
        for (auto* sender : controller.getSenders())
            if (sender->isRunning())
                return true;
        return false;
    }
};

/** Runs the message loop until the condition holds or the time is up. */
inline bool pumpMessagesUntil (std::function<bool()> condition, int timeoutMs = 5000)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }

    return true;
}
