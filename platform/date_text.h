// Fixed, locale-independent texts of day numbers, for people and file names.
#pragma once

#include <string>

namespace veltrane {

std::string DateText(int day);                // "2024-05-01"
std::string DateTimeText(double dayNumber);   // "2024-05-01 09:30:00"
std::string DateStampText(double dayNumber);  // "20240501-093000", for file names
std::string UtcOffsetText(int seconds);       // "UTC+05:30", "UTC-03:00"
// This machine's zone's offset from UTC now, in seconds (east positive).
int LocalUtcOffsetSeconds();

}  // namespace veltrane
