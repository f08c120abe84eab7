// The rights an install folder outside Program Files must end up with, as Windows shows them.
#pragma once
#include <gtest/gtest.h>
#include <string>

// Whether folder is owned by Administrators and has exactly the rights Program Files gives: a
// protected DACL of Administrators and SYSTEM full control, Users read and execute, each handed
// down to files and folders in it. Wine keeps neither a folder's owner nor its DACL.
::testing::AssertionResult HasProgramFilesRights(const std::string& folder);

// The same check where Windows can show it; under Wine what the folder shows instead is printed
// as the known difference it is.
void ExpectProgramFilesRights(const std::string& folder);
