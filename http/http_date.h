// The date text of the If-Modified-Since request line.
#pragma once

#include <string>

// A date-time counted in days from 30 December 1899 (the fraction is the time of day), written
// as it is, without any conversion to UTC: "Mon, 05 Mar 2007 14:03:09". The caller adds " GMT".
std::string HttpDateText(double dateTime);
