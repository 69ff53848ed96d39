// The storage check of a whole database file, kept in its own unit: the page manager's header
// and the data-set layer's do not meet in one file.
#pragma once

#include <string>

// True when the file opens with the password and every table checks out.
bool FileSound(const std::string& file, const std::string& password);
