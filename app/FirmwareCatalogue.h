#pragma once

#include "transfer/FirmwareImage.h"

/**
    Appends the five firmware images the updater carries to firmwareImages, in the order the
    controller walks them: Audio Application Firmware, Graphics Application Firmware, Graphics
    Assets, Audio Assets, Control Firmware. Each record copies its image's bytes; nothing is
    checked here (the build checks every image before embedding it).

    The application object calls this once at start-up.
*/
void buildFirmwareCatalogue (juce::OwnedArray<FirmwareImage>& firmwareImages);
