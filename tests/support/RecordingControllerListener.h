#pragma once

#include "control/Controller.h"

#include <mutex>
#include <vector>

/**
    Records every report of a controller as a short text ("status 1 4", "running 1", ...),
    with the thread it came on and whether that thread held the message-manager lock.
    Progress values are kept apart, as numbers.
*/
struct RecordingControllerListener final : Controller::Listener
{
    struct Report
    {
        juce::String text;
        bool onMessageThread;
        bool messageManagerLocked;
    };

    void availableFirmwareVersion (int port, const juce::String& version) override
    {
        add ("available " + juce::String (port) + " " + version);
    }
    void currentFirmwareVersion (int port, const juce::String& version) override
    {
        add ("current " + juce::String (port) + " " + version);
    }
    void hardwareDetected (bool detected) override { add ("detected " + juce::String ((int) detected)); }
    void updateProgress (double progress) override
    {
        const std::lock_guard<std::mutex> guard (mutex);
        progressReports.push_back (progress);
    }
    void updateRunning (bool running) override { add ("running " + juce::String ((int) running)); }
    void imageStatusChanged (int imageCode, int status) override
    {
        add ("status " + juce::String (imageCode) + " " + juce::String (status));
    }

    void add (const juce::String& text)
    {
        auto* mm = juce::MessageManager::getInstance();
        const std::lock_guard<std::mutex> guard (mutex);
        reports.push_back ({ text, mm->isThisTheMessageThread(), mm->currentThreadHasLockedMessageManager() });
    }

    /** The texts of the reports that begin with the prefix, in order. */
    std::vector<juce::String> texts (const juce::String& prefix = {})
    {
        const std::lock_guard<std::mutex> guard (mutex);
        std::vector<juce::String> result;
        for (const auto& r : reports)
            if (r.text.startsWith (prefix))
                result.push_back (r.text);
        return result;
    }

    std::vector<Report> allReports()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return reports;
    }

    std::vector<double> progress()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return progressReports;
    }

    /** Whether progress 1.0, the completion the user is told of, has been reported. */
    bool reportedCompletion()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return std::find (progressReports.begin(), progressReports.end(), 1.0) != progressReports.end();
    }

    void clear()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        reports.clear();
        progressReports.clear();
    }

    std::mutex mutex;
    std::vector<Report> reports;
    std::vector<double> progressReports;
};
