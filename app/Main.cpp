#include "app/ZT61FirmwareUpdaterApplication.h"

START_JUCE_APPLICATION (ZT61FirmwareUpdaterApplication)
