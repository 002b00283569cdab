#pragma once

/** The name and version under which the updater shows itself, in its title bar and its window. */
namespace ApplicationInfo
{
inline constexpr const char* name = "Tavrek KX Firmware Updater";
inline constexpr const char* version = "1.0.6";
} // namespace ApplicationInfo
