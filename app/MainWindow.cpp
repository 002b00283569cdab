#include "app/MainWindow.h"

#include "ui/ApplicationInfo.h"

MainWindow::MainWindow (juce::Component* content)
    : juce::DocumentWindow (ApplicationInfo::name, juce::Colours::lightgrey, juce::DocumentWindow::closeButton, true)
{
    setUsingNativeTitleBar (true);
    setContentNonOwned (content, true);
    setVisible (true);
    centreWithSize (getWidth(), getHeight());
}

void MainWindow::closeButtonPressed()
{
    if (auto* application = juce::JUCEApplication::getInstance())
        application->systemRequestedQuit();
}
