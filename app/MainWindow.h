#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The updater's single window: native title bar, close button only, fixed to its content's size. */
class MainWindow : public juce::DocumentWindow
{
public:
    /** Creates, shows and centres the window. The content is not owned. */
    explicit MainWindow (juce::Component* content);
    ~MainWindow() override = default;

    /** The same path as the system's own quit request. */
    void closeButtonPressed() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
